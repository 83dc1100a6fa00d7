// The bridge's logic between the network and the local slots, free of
// sockets and clocks so that tests and the fuzz target drive it directly:
// the program feeds it received packets, local requests and the time, and
// it answers through the callbacks of BridgeIo. Single-threaded: every call
// comes from the program's one event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bridge/mailslot_datagram.h"
#include "bridge/name_packet.h"

namespace vask::bridge {

// Milliseconds on a steady clock.
using Millis = int64_t;

struct BridgeIo {
  // Sends a UDP payload from our port `fromPort` (137 or 138) to ip:port.
  std::function<void(uint16_t fromPort, uint32_t ip, uint16_t port, const std::vector<uint8_t>&)>
      sendUdp;
  // Writes one message into a local computer's slot; false when the slot is
  // not there. Names are as they arrived: the receiver matches them without
  // regard to case.
  std::function<bool(const std::string& computer, const std::string& slot,
                     const std::vector<uint8_t>& data)>
      deliver;
  std::function<void(const std::string&)> log;
};

struct BridgeConfig {
  std::string workgroup = "WORKGROUP";
  uint32_t ip = 0;         // our interface address, host byte order
  uint32_t broadcast = 0;  // the subnet broadcast address
  Millis cacheLifetime = 120000;
  Millis negativeLifetime = 2000;
  Millis neighbourLifetime = 15 * 60000;
};

// One computer heard of on the network.
struct Neighbour {
  std::string name;
  std::string workgroup;
  uint32_t ip = 0;
  Millis lastSeen = 0;
};

// Completion of a local request: 0, or the GetLastError code of the failure.
using Completion = std::function<void(uint32_t error)>;

class BridgeCore {
 public:
  static constexpr Millis kRetryInterval = 250;
  static constexpr int kBroadcastTries = 3;
  static constexpr uint32_t kTtl = 300000;  // seconds, the TTL Windows gives its names

  BridgeCore(BridgeConfig config, BridgeIo io);

  // The local computers to serve. New ones are registered (<00> and <03>),
  // ones no longer listed are released. The first call also joins the
  // workgroup's group name.
  void SetServedComputers(const std::vector<std::string>& computers, Millis now);

  // A UDP payload that arrived on port 137 or 138 from ip:port.
  void OnNamePacket(const uint8_t* packet, size_t size, uint32_t ip, uint16_t port, Millis now);
  void OnDatagramPacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now);

  // A local client opens "\\target\mailslot\..": succeeds when the target
  // is "*", our workgroup, or a name that answers a broadcast query.
  void Resolve(const std::string& target, Millis now, Completion done);
  // A local client's write to a computer that is not local (or "*"): one
  // datagram, or a failure when the data exceed 424 bytes or the name does
  // not resolve.
  void Write(const std::string& sender, const std::string& target, const std::string& slot,
             const std::vector<uint8_t>& data, Millis now, Completion done);

  // Retries, expiries and completions that are due.
  void OnTimer(Millis now);
  // When OnTimer next has work, or -1 for none.
  Millis NextDeadline() const;

  // Releases every name we hold (on exit).
  void Shutdown();

  // Computers heard of, our own not among them; Changed() is true once
  // after each change (the program rewrites its neighbourhood file).
  std::vector<Neighbour> Neighbours() const;
  bool TakeNeighboursChanged();

 private:
  enum class NameState { kRegistering, kOwned, kConflict };
  struct OwnName {
    NetbiosName name;
    bool group = false;
    NameState state = NameState::kRegistering;
    int sent = 0;
    Millis next = 0;
    uint16_t id = 0;
  };
  struct CacheEntry {
    bool found = false;
    bool group = false;
    uint32_t ip = 0;
    Millis expires = 0;
  };
  struct PendingQuery {
    NetbiosName name;
    uint16_t id = 0;
    int sent = 0;
    Millis next = 0;
    std::vector<std::function<void(const CacheEntry*)>> waiters;
  };

  uint16_t NextId();
  void Log(const std::string& line);
  void SendName(uint32_t ip, uint16_t port, const std::vector<uint8_t>& packet);
  void AddOwnName(const NetbiosName& name, bool group, Millis now);
  void ReleaseOwnName(const OwnName& own);
  // The served computer that owns a unique name of ours, or null.
  const OwnName* FindOwn(const NetbiosName& name) const;
  bool ServesComputer(const std::string& canonical) const;
  bool IsWorkgroup(const std::string& name) const;
  void Learn(const NetbiosName& name, uint32_t ip, const std::string& workgroup, Millis now);
  void Forget(const NetbiosName& name, uint32_t ip);
  void OnResponse(const NamePacket& p, uint32_t ip, Millis now);
  void OnRequest(const NamePacket& p, uint32_t ip, uint16_t port, Millis now);
  void Lookup(const NetbiosName& name, Millis now, std::function<void(const CacheEntry*)> done);
  void SendGroup(const std::string& sender, const std::string& group, const std::string& slot,
                 const std::vector<uint8_t>& data, Completion done);
  void SendUnique(const std::string& sender, const NetbiosName& target, uint32_t ip,
                  const std::string& slot, const std::vector<uint8_t>& data, Completion done);
  static std::string CacheKey(const NetbiosName& name);

  BridgeConfig config_;
  BridgeIo io_;
  uint16_t nextId_;
  bool joined_ = false;
  std::vector<std::string> served_;  // canonical names
  std::vector<OwnName> own_;
  std::map<std::string, CacheEntry> cache_;
  std::map<std::string, PendingQuery> queries_;
  std::map<std::string, Neighbour> neighbours_;
  bool neighboursChanged_ = false;
};

}  // namespace vask::bridge
