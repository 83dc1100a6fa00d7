// The bridge's view of the emulated LAN directory it serves: which
// computers of its workgroup are running, delivery into their slots, and
// the file of computers heard of on the network that the Win32 subset's
// enumeration reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/backlog.h"
#include "bridge/bridge_core.h"

namespace vask::bridge {

// The LAN directory the library would use in this environment:
// $VASK_LAN_DIR, else ${XDG_RUNTIME_DIR:-/tmp}/vask-lan-<uid>.
std::string DefaultLanDirectory();

class LanFolder {
 public:
  LanFolder(std::string lan, std::string workgroup);

  const std::string& lan() const { return lan_; }
  // The computers of the workgroup with at least one live slot, upper case.
  std::vector<std::string> RunningComputers() const;
  // Writes one message into computer's slot (names matched without regard
  // to case, as slots are kept in lower case and computers in upper case),
  // through the backlog that holds it while the slot cannot take it.
  Delivery Deliver(const std::string& computer, const std::string& slot,
                   const std::vector<uint8_t>& data, Backlog* backlog) const;
  // The comment of a computer of the workgroup: the first line of the file
  // `comment` in its folder, at most 43 bytes; empty without one.
  std::string Comment(const std::string& computer) const;
  // Replaces the neighbourhood file (write and rename, so readers never see
  // half of it); Remove() takes it away on exit. A neighbour whose name or
  // workgroup is not listable (bridge_link::IsListableName) is left out.
  void WriteNeighbours(const std::vector<Neighbour>& neighbours) const;
  void RemoveNeighbours() const;
  // Makes a file we created belong to the LAN directory's owner, so that a
  // bridge run by root serves a user's LAN.
  void GiveToOwner(const std::string& path) const;

 private:
  std::string lan_;
  std::string workgroup_;
};

}  // namespace vask::bridge
