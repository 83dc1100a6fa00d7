// Datagrams for local slots whose reader cannot take them yet. A slot's
// socket holds only a few datagrams (the kernel's max_dgram_qlen, 10 by
// default) ahead of its reader; a stopped host (Ctrl-Z) reads none. What the
// socket refuses waits here, behind the earlier ones for the same slot, and
// is handed over from the bridge's poll loop as room appears there; a
// receiver whose share is full loses further datagrams, as a busy computer
// does on a network. Single-threaded, like the rest of the bridge.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bridge/delivery.h"

namespace vask::bridge {

// A connected, non-blocking datagram socket to the slot at path, or -1 when
// no live reader is there.
int ConnectSlot(const std::string& path);

class Backlog {
 public:
  // The same bounds as the emulated LAN's own outbox: a stopped receiver
  // costs at most this much until it goes on or goes away.
  static constexpr size_t kHeldDatagrams = 256;
  static constexpr size_t kHeldBytes = 1u << 20;
  static constexpr size_t kHeldReceivers = 64;

  Backlog() = default;
  Backlog(const Backlog&) = delete;
  Backlog& operator=(const Backlog&) = delete;
  ~Backlog();

  // Hands data to the slot at path, or holds it behind what already waits
  // for that slot. `label` names the receiver in what Retry reports.
  Delivery Send(const std::string& path, const std::string& label, const uint8_t* data,
                size_t size);
  // Adds one entry per waiting receiver, polled for room (POLLOUT).
  void AddPollFds(std::vector<pollfd>* fds) const;
  // Hands over what the receivers can take now. A receiver that went away
  // loses what waited for it: lost(label, count).
  void Retry(const std::function<void(const std::string& label, size_t count)>& lost);
  // Datagrams waiting, all receivers together.
  size_t Held() const;

 private:
  struct Waiting {
    int fd = -1;
    std::string label;
    std::deque<std::vector<uint8_t>> datagrams;
    size_t bytes = 0;
  };

  std::map<std::string, Waiting> waiting_;
};

}  // namespace vask::bridge
