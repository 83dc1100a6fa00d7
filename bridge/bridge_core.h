// The bridge's logic between the network and the local slots, free of
// sockets and clocks so that tests and the fuzz target drive it directly:
// the program feeds it received packets, local requests and the time, and
// it answers through the callbacks of BridgeIo. Single-threaded: every call
// comes from the program's one event loop.
//
// A served computer speaks on the network only under names that are its
// own: until the broadcast registration of its names has run out unopposed
// nothing is delivered to it and its writes wait; when another machine
// defends one of its names (in answer to our registration in progress,
// same transaction id and name) the computer is in conflict: nothing is
// delivered to it, its writes and claims are refused with
// bridge_link::kErrorNameInConflict, until a new claim finds the name free.
// Two machines that claim one name at the same time (each hears the other's
// registration while its own runs) settle it by address: the lower one
// keeps the name and defends it, the other yields into conflict.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bridge/delivery.h"
#include "bridge/drop_log.h"
#include "bridge/frame_relay.h"
#include "bridge/mailslot_datagram.h"
#include "bridge/name_packet.h"

namespace vask::bridge {

// Milliseconds on a steady clock.
using Millis = int64_t;

struct BridgeIo {
  // Sends a UDP payload from our port `fromPort` (137 or 138) to ip:port.
  std::function<void(uint16_t fromPort, uint32_t ip, uint16_t port, const std::vector<uint8_t>&)>
      sendUdp;
  // Writes one message into a local computer's slot, or holds it for a
  // receiver that cannot take it yet; says what became of it. Names are as
  // they arrived: the receiver matches them without regard to case.
  std::function<Delivery(const std::string& computer, const std::string& slot,
                         const std::vector<uint8_t>& data)>
      deliver;
  std::function<void(const std::string&)> log;
  // The comment a served computer announces; may be left empty.
  std::function<std::string(const std::string& computer)> comment;
  // Sends a UDP frame from our frame port to ip:kFramePort; false when it
  // could not go. Only called while the program holds the frame port.
  std::function<bool(uint32_t ip, const std::string& frame)> sendFrame;
  // The address a computer's name resolves to as the system resolves
  // names on the LAN (hosts file, DNS), or 0; may be left empty.
  std::function<uint32_t(const std::string& computer)> resolveHost;
};

struct BridgeConfig {
  std::string workgroup = "WORKGROUP";
  uint32_t ip = 0;               // our interface address, host byte order
  uint32_t broadcast = 0;        // the subnet broadcast address
  uint32_t mask = 0;             // the subnet mask: frames come from inside it only
  std::array<uint8_t, 6> mac{};  // the interface's hardware address, for node status
  Millis cacheLifetime = 120000;
  Millis negativeLifetime = 2000;
  Millis neighbourLifetime = 15 * 60000;
  // At most one line about dropped packets per this interval.
  Millis dropSummaryInterval = 60000;
  // Host announcements: the first two this far apart, then the interval
  // doubles up to the longest.
  Millis firstAnnouncementInterval = 60000;
  Millis longestAnnouncementInterval = 12 * 60000;
  // An announcement request is answered after a random delay up to this.
  Millis announcementReplyDelay = 30000;
  // A conflict younger than this is reported to a claim at once; an older
  // one is checked again with a new registration.
  Millis conflictRecheckAfter = 10000;
  // The frame port is left to the copies this long after one of them last
  // started (opened a slot): a copy that speaks UDP itself binds it then.
  Millis framePortGrace = 5000;
};

// One computer heard of on the network.
struct Neighbour {
  std::string name;
  std::string workgroup;
  std::string comment;  // from its announcements
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
  // Computers heard of beyond this many are not listed.
  static constexpr size_t kMaxNeighbours = 1000;
  // Nor beyond this many from one address: enough for a machine whose
  // bridge serves several computers or a server with aliases, a sliver of
  // the list for a sender that makes names up.
  static constexpr size_t kMaxNeighboursPerAddress = 16;

  BridgeCore(BridgeConfig config, BridgeIo io);

  // The local computers to serve. New ones are registered (<00> and <03>),
  // ones no longer listed announce their leaving and are released. The
  // first call also joins the workgroup's group name.
  void SetServedComputers(const std::vector<std::string>& computers, Millis now);
  // A computer of this machine opened a slot: done(0) once its names are
  // registered, or kErrorNameInConflict when another machine holds one of
  // them (a conflict older than conflictRecheckAfter is registered anew
  // first). A computer not served is not the bridge's to check: done(0).
  void Claim(const std::string& computer, Millis now, Completion done);

  // A UDP payload that arrived on port 137 or 138 from ip:port. `unicast`:
  // the name packet was sent to our own address, not a broadcast one (false
  // where the program cannot tell).
  void OnNamePacket(const uint8_t* packet, size_t size, uint32_t ip, uint16_t port, Millis now,
                    bool unicast = false);
  void OnDatagramPacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now);

  // A packet the program itself refused (too big to read): counted with the
  // other drops.
  void OnDroppedPacket(const std::string& reason, uint32_t ip, Millis now);
  // Datagrams held for a local computer that were lost when its slot went
  // away: counted with the other drops.
  void OnLostHeld(const std::string& computer, size_t count, Millis now);

  // A local client opens "\\target\mailslot\..": succeeds when the target
  // is "*", our workgroup, or a name that answers a broadcast query.
  void Resolve(const std::string& target, Millis now, Completion done);
  // A local client's write to a computer that is not local (or "*"): one
  // datagram, or a failure when the data exceed 424 bytes, the name does
  // not resolve, or the sender is not served or is in conflict. A sender
  // whose registration is still running waits for it.
  void Write(const std::string& sender, const std::string& target, const std::string& slot,
             const std::vector<uint8_t>& data, Millis now, Completion done);

  // The UDP frames. A copy that speaks UDP itself holds the frame port;
  // where none does, the bridge speaks for its computers: it relays their
  // writes as frames too and delivers the frames it receives into their
  // slots. WantsFramePort: whether the program should hold the port now
  // (some computer is served and none started within framePortGrace);
  // SetFramePort: whether it does. Frames are relayed only while it does.
  bool WantsFramePort(Millis now) const;
  void SetFramePort(bool held);
  bool HoldsFramePort() const { return framePort_; }
  // A UDP payload that arrived on the frame port from ip; `unicast`: sent
  // to our own address. Refused (counted with the other drops) unless it
  // comes from loopback or our subnet and is a well-formed frame whose
  // sender is no computer served here; a datagram that came by NetBIOS as
  // well is delivered once.
  void OnFramePacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now, bool unicast);

  // Retries, expiries, announcements and completions that are due.
  void OnTimer(Millis now);
  // When OnTimer next has work, or -1 for none.
  Millis NextDeadline() const;

  // Announces the served computers' leaving, releases every name we hold
  // and logs the drops not yet told (on exit).
  void Shutdown(Millis now);

  // Computers heard of, our own not among them; Changed() is true once
  // after each change (the program rewrites its neighbourhood file).
  std::vector<Neighbour> Neighbours() const;
  bool TakeNeighboursChanged();

 private:
  // A name's registration, and a served computer's: the computer takes the
  // state of its unique names, a conflict in any over a registration still
  // running in any.
  enum class NameState { kRegistering, kOwned, kConflict };
  struct OwnName {
    NetbiosName name;
    bool group = false;
    NameState state = NameState::kRegistering;
    int sent = 0;
    Millis next = 0;
    uint16_t id = 0;
  };
  // A computer of this machine that the bridge speaks for.
  struct Served {
    std::string name;         // canonical
    bool announcing = false;  // its names are owned and it has announced
    Millis nextAnnouncement = 0;
    Millis announcementInterval = 0;
    Millis conflictSince = 0;
    uint32_t conflictOwner = 0;
    // Claims and writes waiting for the registration to end; called with
    // the time it ended.
    std::vector<std::function<void(Millis)>> waiting;
  };
  struct CacheEntry {
    bool found = false;
    bool group = false;
    uint32_t ip = 0;
    Millis expires = 0;
    uint16_t id = 0;  // of the query answered
  };
  struct PendingQuery {
    NetbiosName name;
    uint16_t id = 0;
    int sent = 0;
    Millis next = 0;
    std::vector<std::function<void(const CacheEntry*)>> waiters;
    bool extended = false;  // asked once more for a registration heard
  };

  uint16_t NextId();
  uint32_t Random();
  void Log(const std::string& line);
  void Drop(const std::string& reason, const std::string& source, Millis now);
  // Counts what a delivery to a local slot lost.
  void Delivered(Delivery outcome, uint8_t type, const std::string& computer, uint32_t ip,
                 Millis now);
  void SendName(uint32_t ip, uint16_t port, const std::vector<uint8_t>& packet);
  void AddOwnName(const NetbiosName& name, bool group, Millis now);
  void ReleaseOwnName(const OwnName& own);
  // An owned unique name of ours, or null.
  const OwnName* FindOwned(const NetbiosName& name) const;
  Served* FindServed(const std::string& canonical);
  const Served* FindServed(const std::string& canonical) const;
  NameState StateOf(const std::string& canonical) const;
  bool IsWorkgroup(const std::string& name) const;
  // Runs what waits for a computer whose registration ended.
  void Settle(const std::string& canonical, Millis now);
  void EnterConflict(Served& served, const NetbiosName& name, uint32_t owner, Millis now);
  void Register(const std::string& canonical, Millis now);
  void Hear(const std::string& computer, uint32_t ip, const std::string& workgroup,
            const std::string* comment, Millis now);
  void Forget(const NetbiosName& name, uint32_t ip);
  void OnResponse(const NamePacket& p, uint32_t ip, Millis now);
  // A further positive answer to a query already answered.
  void SecondAnswer(const NamePacket& p, Millis now);
  void OnRequest(const NamePacket& p, uint32_t ip, uint16_t port, Millis now, bool unicast);
  void AnswerNodeStatus(const NamePacket& p, uint32_t ip, uint16_t port, bool unicast);
  // Another machine registers a name that is not ours.
  void HeardClaim(const NetbiosName& name, Millis now);
  // Answers another machine's registration of a name we hold.
  void Defend(const NamePacket& p, uint32_t ip, uint16_t port, Millis now);
  // Another machine's registration of a name whose registration of ours is
  // still running: the lower address keeps the name. True when it was one.
  bool ClaimedTogether(const NamePacket& p, uint32_t ip, uint16_t port, Millis now);
  void OnBrowse(const MailslotDatagram& d, uint32_t ip, const std::string& group, Millis now);
  void Announce(Served& served, uint32_t serverType, Millis period);
  void Lookup(const NetbiosName& name, Millis now, std::function<void(const CacheEntry*)> done);
  // One mailslot datagram from `sender` to `target` at ip: `type` is
  // kDirectGroup (ip the subnet broadcast) or kDirectUnique.
  void SendToName(uint8_t type, const std::string& sender, const NetbiosName& target, uint32_t ip,
                  const std::string& slot, const std::vector<uint8_t>& data, Completion done);
  static std::string CacheKey(const NetbiosName& name);
  // Whether the writes of served computer `from` also go as frames.
  bool Relays(const std::string& from) const;
  // Sends `data` of `from` for `slot` as a frame to ip; false when it did
  // not go (a datagram no receiver would take as a frame is not sent).
  bool SendFrame(uint32_t ip, const std::string& from, const std::string& slot,
                 const std::vector<uint8_t>& data, Millis now);
  bool IsLocalNetwork(uint32_t ip) const;

  BridgeConfig config_;
  BridgeIo io_;
  uint16_t nextId_;
  uint32_t random_;
  bool joined_ = false;
  bool requestedAnnouncements_ = false;
  std::vector<Served> served_;
  std::vector<OwnName> own_;
  std::map<std::string, CacheEntry> cache_;
  std::map<std::string, PendingQuery> queries_;
  // Names others are registering (by CacheKey): when their registration
  // runs out. A lookup that finds nobody waits for it.
  std::map<std::string, Millis> claims_;
  std::map<std::string, Neighbour> neighbours_;
  bool neighboursChanged_ = false;
  DropLog drops_;
  bool framePort_ = false;
  Millis lastStart_ = 0;  // when a served computer last started
  FrameRelay relay_;
};

}  // namespace vask::bridge
