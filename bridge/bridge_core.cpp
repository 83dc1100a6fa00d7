#include "bridge/bridge_core.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "bridge/browse_frame.h"
#include "bridge/frame_codec.h"
#include "bridge/node_status.h"
#include "bridge/win32_errors.h"
#include "bridge_link.h"

namespace vask::bridge {
namespace {

constexpr uint8_t kSuffixMasterBrowser = 0x1D;
constexpr uint8_t kSuffixBrowserElections = 0x1E;
// How much later than its registration's end another machine is asked for
// a name it registered.
constexpr Millis kClaimMargin = 100;

std::string Dotted(uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF,
                ip & 0xFF);
  return text;
}

bool SameSlot(const std::string& a, const char* b) { return CanonicalName(a) == CanonicalName(b); }

// A comment as we list it: control characters become '?', at most 43 bytes.
std::string CleanComment(const std::string& comment) {
  std::string out = comment.substr(0, kMaxComment);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

}  // namespace

BridgeCore::BridgeCore(BridgeConfig config, BridgeIo io)
    : config_(std::move(config)),
      io_(std::move(io)),
      nextId_(static_cast<uint16_t>(config_.ip * 2654435761u >> 16)),
      random_(config_.ip * 2246822519u + 0x9E3779B9u),
      drops_(config_.dropSummaryInterval) {
  config_.workgroup = CanonicalName(config_.workgroup);
}

uint16_t BridgeCore::NextId() { return ++nextId_; }

uint32_t BridgeCore::Random() {
  // xorshift32: spreads the answers to an announcement request; nothing
  // depends on its quality.
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_;
}

void BridgeCore::Log(const std::string& line) {
  if (io_.log) io_.log(line);
}

void BridgeCore::Drop(const std::string& reason, const std::string& source, Millis now) {
  std::string line = drops_.Count(reason, source, now);
  if (!line.empty()) Log(line);
}

void BridgeCore::OnDroppedPacket(const std::string& reason, uint32_t ip, Millis now) {
  if (ip != config_.ip) Drop(reason, Dotted(ip), now);
}

void BridgeCore::OnLostHeld(const std::string& computer, size_t count, Millis now) {
  std::string line = drops_.Count(computer + " closed a slot while datagrams were held for it",
                                  "local " + computer, now, count);
  if (!line.empty()) Log(line);
}

void BridgeCore::Delivered(Delivery outcome, uint8_t type, const std::string& computer, uint32_t ip,
                           Millis now) {
  switch (outcome) {
    case Delivery::kDelivered:
    case Delivery::kHeld:
      return;
    case Delivery::kNoSlot:
      // A group datagram reaches every computer, slot or not: only one
      // addressed to this computer was meant for a slot it lacks.
      if (type == kDirectUnique) {
        Drop("a datagram for a slot " + computer + " has not open", Dotted(ip), now);
      }
      return;
    case Delivery::kBacklogFull:
      Drop(computer + " does not read its slots and its backlog is full", Dotted(ip), now);
      return;
    case Delivery::kTooManyReceivers:
      Drop("too many local receivers do not read (" + computer + ")", Dotted(ip), now);
      return;
  }
}

std::string BridgeCore::CacheKey(const NetbiosName& name) {
  return DescribeName(MakeName(name.name, name.suffix));
}

void BridgeCore::SendName(uint32_t ip, uint16_t port, const std::vector<uint8_t>& packet) {
  io_.sendUdp(kNamePort, ip, port, packet);
}

bool BridgeCore::IsWorkgroup(const std::string& name) const {
  return CanonicalName(name) == config_.workgroup;
}

BridgeCore::Served* BridgeCore::FindServed(const std::string& canonical) {
  for (Served& s : served_) {
    if (s.name == canonical) return &s;
  }
  return nullptr;
}

const BridgeCore::Served* BridgeCore::FindServed(const std::string& canonical) const {
  for (const Served& s : served_) {
    if (s.name == canonical) return &s;
  }
  return nullptr;
}

BridgeCore::NameState BridgeCore::StateOf(const std::string& canonical) const {
  NameState state = NameState::kOwned;
  for (const OwnName& own : own_) {
    if (own.group || own.name.name != canonical) continue;
    if (own.state == NameState::kConflict) return NameState::kConflict;
    if (own.state == NameState::kRegistering) state = NameState::kRegistering;
  }
  return state;
}

const BridgeCore::OwnName* BridgeCore::FindOwned(const NetbiosName& name) const {
  for (const OwnName& own : own_) {
    if (!own.group && own.state == NameState::kOwned && NamesMatch(own.name, name)) return &own;
  }
  return nullptr;
}

void BridgeCore::AddOwnName(const NetbiosName& name, bool group, Millis now) {
  OwnName own;
  own.name = name;
  own.group = group;
  own.next = now;
  own.id = NextId();
  own_.push_back(own);
}

void BridgeCore::ReleaseOwnName(const OwnName& own) {
  if (own.state != NameState::kOwned) return;  // never release what is not ours
  std::vector<uint8_t> packet;
  if (BuildRelease(NextId(), own.name, own.group, config_.ip, &packet)) {
    SendName(config_.broadcast, kNamePort, packet);
  }
}

void BridgeCore::SetServedComputers(const std::vector<std::string>& computers, Millis now) {
  if (!joined_) {
    joined_ = true;
    AddOwnName(MakeName(config_.workgroup, kSuffixWorkstation), true, now);
  }
  std::vector<std::string> wanted;
  for (const std::string& c : computers) {
    std::string canonical = CanonicalName(c);
    if (canonical.empty() || canonical == "*") continue;
    if (std::find(wanted.begin(), wanted.end(), canonical) == wanted.end()) {
      wanted.push_back(canonical);
    }
  }
  for (auto gone = served_.begin(); gone != served_.end();) {
    if (std::find(wanted.begin(), wanted.end(), gone->name) != wanted.end()) {
      ++gone;
      continue;
    }
    if (gone->announcing) Announce(*gone, 0, 0);  // browse lists drop it
    const std::string name = gone->name;
    auto it = std::remove_if(own_.begin(), own_.end(), [&](const OwnName& own) {
      if (own.group || own.name.name != name) return false;
      ReleaseOwnName(own);
      return true;
    });
    own_.erase(it, own_.end());
    relay_.Unmark(name);
    auto waiting = std::move(gone->waiting);
    gone = served_.erase(gone);
    Log("stopped serving " + name);
    for (auto& w : waiting) w(now);  // finds the computer gone
  }
  for (const std::string& added : wanted) {
    if (FindServed(added)) continue;
    Served served;
    served.name = added;
    served_.push_back(std::move(served));
    lastStart_ = now;
    AddOwnName(MakeName(added, kSuffixWorkstation), false, now);
    AddOwnName(MakeName(added, kSuffixMessenger), false, now);
    if (neighbours_.erase(added) > 0) neighboursChanged_ = true;
    Log("serving " + added + " in " + config_.workgroup);
  }
}

void BridgeCore::Register(const std::string& canonical, Millis now) {
  for (OwnName& own : own_) {
    if (own.group || own.name.name != canonical) continue;
    own.state = NameState::kRegistering;
    own.sent = 0;
    own.next = now;
    own.id = NextId();
  }
}

void BridgeCore::Claim(const std::string& computer, Millis now, Completion done) {
  std::string name = CanonicalName(computer);
  Served* served = FindServed(name);
  if (!served) {
    done(0);
    return;
  }
  // A copy (re)starts: it may want the frame port.
  lastStart_ = now;
  NameState state = StateOf(name);
  if (state == NameState::kOwned) {
    done(0);
    return;
  }
  if (state == NameState::kConflict) {
    if (now - served->conflictSince < config_.conflictRecheckAfter) {
      Log("refused " + name + ": its name is in use by " + Dotted(served->conflictOwner));
      done(bridge_link::kErrorNameInConflict);
      return;
    }
    Log("registering " + name + " again");
    Register(name, now);
  }
  served->waiting.push_back([this, name, done](Millis) {
    NameState after = FindServed(name) ? StateOf(name) : NameState::kOwned;
    done(after == NameState::kConflict ? bridge_link::kErrorNameInConflict : 0);
  });
  OnTimer(now);
}

void BridgeCore::Settle(const std::string& canonical, Millis now) {
  Served* served = FindServed(canonical);
  if (!served) return;
  NameState state = StateOf(canonical);
  if (state == NameState::kRegistering) return;
  if (state == NameState::kOwned && !served->announcing) {
    served->announcing = true;
    served->nextAnnouncement = now;
    served->announcementInterval = config_.firstAnnouncementInterval;
  }
  auto waiting = std::move(served->waiting);
  served->waiting.clear();
  for (auto& w : waiting) w(now);
}

void BridgeCore::EnterConflict(Served& served, const NetbiosName& name, uint32_t owner,
                               Millis now) {
  // The whole computer yields: its other name is released or no longer
  // registered, so that the network sees one owner for it.
  for (OwnName& own : own_) {
    if (own.group || own.name.name != served.name) continue;
    ReleaseOwnName(own);
    own.state = NameState::kConflict;
  }
  served.announcing = false;
  served.conflictSince = now;
  served.conflictOwner = owner;
  Log("the name " + DescribeName(name) + " is in use by " + Dotted(owner) + "; " + served.name +
      " is not served here: its writes are refused until it starts again");
}

void BridgeCore::Hear(const std::string& computer, uint32_t ip, const std::string& workgroup,
                      const std::string* comment, Millis now) {
  std::string canonical = CanonicalName(computer);
  if (!bridge_link::IsListableName(canonical) || FindServed(canonical) || IsWorkgroup(canonical)) {
    return;
  }
  std::string group = CanonicalName(workgroup);
  if (!group.empty() && !bridge_link::IsListableName(group)) return;
  auto it = neighbours_.find(canonical);
  if (it == neighbours_.end() || it->second.ip != ip) {
    // One address speaks for a machine, and a machine has a few names at
    // most (the computers one bridge serves, a server's aliases): more is
    // one sender filling the list with made-up names, which would keep the
    // computers that come later off it.
    size_t fromThere = 0;
    for (const auto& [key, n] : neighbours_) fromThere += n.ip == ip ? 1 : 0;
    if (fromThere >= kMaxNeighboursPerAddress) {
      Drop("one address names more than " + std::to_string(kMaxNeighboursPerAddress) + " computers",
           Dotted(ip), now);
      return;
    }
  }
  if (it == neighbours_.end()) {
    if (neighbours_.size() >= kMaxNeighbours) {
      Drop("the neighbourhood is full", Dotted(ip), now);
      return;
    }
    it = neighbours_.emplace(canonical, Neighbour{}).first;
  }
  Neighbour& n = it->second;
  bool fresh = n.name.empty() || n.ip != ip || (!group.empty() && n.workgroup != group);
  n.name = canonical;
  n.ip = ip;
  if (!group.empty()) n.workgroup = group;
  if (n.workgroup.empty()) n.workgroup = config_.workgroup;
  if (comment) {
    std::string clean = CleanComment(*comment);
    if (clean != n.comment) fresh = true;
    n.comment = clean;
  }
  n.lastSeen = now;
  if (fresh) neighboursChanged_ = true;
}

void BridgeCore::Forget(const NetbiosName& name, uint32_t ip) {
  auto it = cache_.find(CacheKey(name));
  if (it != cache_.end() && it->second.ip == ip) cache_.erase(it);
  if (name.suffix != kSuffixWorkstation) return;
  // The machine let the computer go: its frames' address no longer stands.
  relay_.Forget(CanonicalName(name.name), ip);
  auto n = neighbours_.find(CanonicalName(name.name));
  if (n != neighbours_.end() && n->second.ip == ip) {
    neighbours_.erase(n);
    neighboursChanged_ = true;
  }
}

void BridgeCore::OnNamePacket(const uint8_t* packet, size_t size, uint32_t ip, uint16_t port,
                              Millis now, bool unicast) {
  // Our own broadcasts come back to us; a tool of this machine (on another
  // port) is answered like anyone else.
  if (ip == config_.ip && port == kNamePort) return;
  NamePacket p;
  Status status = DecodeNamePacket(packet, size, &p);
  if (!status) {
    Drop(std::string("name packet: ") + status.error, Dotted(ip), now);
    return;
  }
  if (p.response()) {
    OnResponse(p, ip, now);
  } else {
    OnRequest(p, ip, port, now, unicast);
  }
}

void BridgeCore::OnResponse(const NamePacket& p, uint32_t ip, Millis now) {
  if (!p.hasRecord) return;
  if (p.opcode() == kOpRegistration && p.rcode() != 0) {
    // Only the answer to a registration of ours that is still running
    // counts: same transaction id, same name. Anything else (late, made
    // up, or for another name) changes nothing.
    for (OwnName& own : own_) {
      if (own.group || own.id != p.id || !NamesMatch(own.name, p.recordName)) continue;
      // The owner defends each name we tried: once the computer has
      // yielded, the rest only confirm it.
      if (own.state == NameState::kConflict) return;
      if (own.state != NameState::kRegistering) break;
      Served* served = FindServed(own.name.name);
      if (!served) return;
      // The defender is the sender: the record may name either machine.
      NetbiosName name = own.name;
      EnterConflict(*served, name, ip, now);
      Settle(name.name, now);
      return;
    }
    Drop("negative registration response to no registration of ours", Dotted(ip), now);
    return;
  }
  if (p.opcode() != kOpQuery) return;
  if (p.rcode() != 0 || p.addresses.empty()) return;  // someone else may still answer
  auto it = queries_.find(CacheKey(p.recordName));
  if (it == queries_.end() || it->second.id != p.id) {
    SecondAnswer(p, now);
    return;
  }
  CacheEntry entry;
  entry.found = true;
  entry.group = (p.addresses[0].nbFlags & kNbGroup) != 0;
  entry.ip = entry.group ? config_.broadcast : p.addresses[0].ip;
  entry.id = p.id;
  PendingQuery query = std::move(it->second);
  queries_.erase(it);
  // The answer stands until our cache lifetime runs out, not for the TTL
  // the owner gave: names come and go with copies of the host.
  entry.expires = now + config_.cacheLifetime;
  cache_[CacheKey(query.name)] = entry;
  if (!entry.group && query.name.suffix == kSuffixWorkstation) {
    Hear(query.name.name, entry.ip, {}, nullptr, now);
  }
  for (auto& waiter : query.waiters) waiter(&entry);
}

void BridgeCore::SecondAnswer(const NamePacket& p, Millis now) {
  auto cached = cache_.find(CacheKey(p.recordName));
  if (cached == cache_.end()) return;
  CacheEntry& entry = cached->second;
  uint32_t other = p.addresses[0].ip;
  bool group = (p.addresses[0].nbFlags & kNbGroup) != 0;
  if (!entry.found || entry.group || group || entry.id != p.id || entry.ip == other) return;
  // Two machines answer for one unique name: they claimed it together.
  // The lower address is the one that keeps it (the rule of simultaneous
  // claims), so that is where the name's datagrams go.
  uint32_t keeper = std::min(entry.ip, other);
  Log("two computers answer for " + DescribeName(p.recordName) + ": " + Dotted(entry.ip) + " and " +
      Dotted(other) + "; using " + Dotted(keeper) + ", the lower address");
  if (keeper == entry.ip) return;
  entry.ip = keeper;
  if (p.recordName.suffix == kSuffixWorkstation) Hear(p.recordName.name, keeper, {}, nullptr, now);
}

void BridgeCore::AnswerNodeStatus(const NamePacket& p, uint32_t ip, uint16_t port, bool unicast) {
  const NetbiosName& q = p.question;
  if (!q.scope.empty()) return;
  bool wildcard = q.name == "*";
  // A broadcast question for every node would have all of them answer at
  // once: only a question about one of our names is answered then. One
  // sent to our own address is for us whatever its broadcast flag says
  // (some tools set it on every question).
  bool broadcast = !unicast && (p.flags & kFlagBroadcast) != 0;
  if (wildcard ? broadcast : !FindOwned(q)) return;
  NodeStatus status;
  status.unitId = config_.mac;
  for (const OwnName& own : own_) {
    if (own.state == NameState::kRegistering || status.names.size() >= kMaxStatusNames) continue;
    uint16_t flags = kStatusActive;
    if (own.group) flags |= kStatusGroup;
    if (own.state == NameState::kConflict) flags |= kStatusConflict;
    status.names.push_back(StatusEntry{own.name, flags});
  }
  std::vector<uint8_t> answer;
  if (BuildNodeStatusResponse(p.id, q, status, &answer)) SendName(ip, port, answer);
}

void BridgeCore::OnRequest(const NamePacket& p, uint32_t ip, uint16_t port, Millis now,
                           bool unicast) {
  switch (p.opcode()) {
    case kOpQuery: {
      if (!p.hasQuestion) return;
      if (p.questionType == kTypeNbstat) {
        AnswerNodeStatus(p, ip, port, unicast);
        return;
      }
      std::vector<uint8_t> answer;
      if (FindOwned(p.question)) {
        BuildPositiveResponse(p.id, p.question, kTtl, {NbAddress{0, config_.ip}}, &answer);
      } else if (IsWorkgroup(p.question.name) && p.question.suffix == kSuffixWorkstation &&
                 p.question.scope.empty() && joined_) {
        BuildPositiveResponse(p.id, p.question, kTtl, {NbAddress{kNbGroup, config_.ip}}, &answer);
      }
      if (!answer.empty()) SendName(ip, port, answer);
      return;
    }
    case kOpRegistration:
    case kOpMultihomedRegistration:
    case kOpRefresh: {
      if (!p.hasRecord || p.addresses.empty()) return;
      bool group = (p.addresses[0].nbFlags & kNbGroup) != 0;
      if (group) {
        return;  // group names are shared, never defended
      }
      if (FindOwned(p.recordName) && p.opcode() != kOpRefresh) {
        Defend(p, ip, port, now);
        return;
      }
      if (p.opcode() != kOpRefresh && ClaimedTogether(p, ip, port, now)) return;
      if (p.opcode() != kOpRefresh) HeardClaim(p.recordName, now);
      // Heard of, not resolved: a registration may still be defended by
      // its owner, so only an answer to our own query is cached. The
      // computer is listed at the address it spoke from, not the one it
      // claims: a packet can claim any address, and the one it came from
      // is the one that reaches it on this subnet.
      if (p.recordName.suffix == kSuffixWorkstation && p.recordName.scope.empty()) {
        Hear(p.recordName.name, ip, {}, nullptr, now);
      }
      return;
    }
    case kOpRelease: {
      // Only the machine that holds a name lets it go: what we know of it
      // is forgotten when the release comes from its address.
      if (!p.hasRecord || p.addresses.empty()) return;
      Forget(p.recordName, ip);
      return;
    }
    default:
      return;
  }
}

void BridgeCore::HeardClaim(const NetbiosName& name, Millis now) {
  std::string key = CacheKey(name);
  // The name may be there now: a failed lookup of it no longer stands.
  auto cached = cache_.find(key);
  if (cached != cache_.end() && !cached->second.found) cache_.erase(cached);
  // Its registration is over (the name is its owner's) at most this long
  // after the first packet of it heard, with a little room for the
  // owner's clock; later packets of the same registration move nothing.
  Millis end = now + kBroadcastTries * kRetryInterval + kClaimMargin;
  auto claim = claims_.find(key);
  if (claim == claims_.end()) {
    if (claims_.size() < kMaxNeighbours) claims_.emplace(key, end);
  } else if (claim->second <= now) {
    claim->second = end;
  }
}

void BridgeCore::Defend(const NamePacket& p, uint32_t ip, uint16_t port, Millis now) {
  std::vector<uint8_t> defence;
  if (BuildDefence(p.id, p.recordName, config_.ip, &defence)) SendName(ip, port, defence);
  Drop("registration of " + DescribeName(p.recordName) + " defended", Dotted(ip), now);
}

bool BridgeCore::ClaimedTogether(const NamePacket& p, uint32_t ip, uint16_t port, Millis now) {
  for (OwnName& own : own_) {
    if (own.group || own.state != NameState::kRegistering || !NamesMatch(own.name, p.recordName)) {
      continue;
    }
    Served* served = FindServed(own.name.name);
    if (!served) return false;
    // Two machines claim one name at once, each hearing the other's claim
    // while its own runs: both apply the same rule, so that exactly one
    // keeps it. The lower address keeps it and defends it as if it were
    // already its own; the other yields without a word. A peer that knows
    // no such rule still takes the defence as one (it came for its claim
    // in progress), and when it holds the lower address, it simply goes on
    // and we yield.
    if (config_.ip <= ip) {
      Defend(p, ip, port, now);
    } else {
      NetbiosName name = own.name;
      Log("the name " + DescribeName(name) + " is claimed at the same time by " + Dotted(ip) +
          ", whose lower address keeps it");
      EnterConflict(*served, name, ip, now);
      Settle(name.name, now);
    }
    return true;
  }
  return false;
}

void BridgeCore::Announce(Served& served, uint32_t serverType, Millis period) {
  Announcement a;
  a.serverName = served.name;
  a.serverType = serverType;
  a.periodicity = static_cast<uint32_t>(period);
  if (io_.comment) a.comment = io_.comment(served.name);
  std::vector<uint8_t> frame;
  if (!EncodeAnnouncement(a, &frame)) return;
  SendToName(kDirectGroup, served.name, MakeName(config_.workgroup, kSuffixMasterBrowser),
             config_.broadcast, kBrowseSlot, frame, [](uint32_t) {});
}

void BridgeCore::OnBrowse(const MailslotDatagram& d, uint32_t ip, const std::string& group,
                          Millis now) {
  BrowseFrame frame;
  Status status = DecodeBrowseFrame(d.data.data(), d.data.size(), &frame);
  if (!status) {
    // Elections, backup lists and the like are no business of ours.
    if (!d.data.empty() && d.data[0] != kHostAnnouncement &&
        d.data[0] != kLocalMasterAnnouncement) {
      return;
    }
    Drop(std::string("browse frame: ") + status.error, Dotted(ip), now);
    return;
  }
  if (frame.opcode == kAnnouncementRequest) {
    if (!group.empty() && !IsWorkgroup(group)) return;
    for (Served& s : served_) {
      if (!s.announcing) continue;
      Millis at = now + static_cast<Millis>(
                            Random() % static_cast<uint32_t>(config_.announcementReplyDelay + 1));
      s.nextAnnouncement = std::min(s.nextAnnouncement, at);
    }
    return;
  }
  const Announcement& a = frame.announcement;
  std::string name = CanonicalName(a.serverName);
  if (a.serverType == 0) {  // leaving the browse list
    Forget(MakeName(name, kSuffixWorkstation), ip);
    return;
  }
  Hear(name, ip, group, &a.comment, now);
}

void BridgeCore::OnDatagramPacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now) {
  if (ip == config_.ip) return;
  DatagramPacket p;
  Status status = DecodeDatagramPacket(packet, size, &p);
  if (!status) {
    Drop(std::string("datagram: ") + status.error, Dotted(ip), now);
    return;
  }
  if (p.type == kDatagramError) {
    char code[32];
    std::snprintf(code, sizeof code, "error datagram 0x%02X", p.errorCode);
    Drop(code, Dotted(ip), now);
    return;
  }
  const MailslotDatagram& d = p.mailslot;
  if (!d.source.scope.empty() || !d.destination.scope.empty()) return;  // another scope's traffic
  std::string slot;
  SlotFromMailslotName(d.mailslot, &slot);  // the decoder checked the prefix
  std::string senderGroup;
  if (d.type != kDirectUnique && d.destination.name != "*" &&
      (d.destination.suffix == kSuffixWorkstation || d.destination.suffix == kSuffixMasterBrowser ||
       d.destination.suffix == kSuffixBrowserElections)) {
    senderGroup = CanonicalName(d.destination.name);
  }
  if (SameSlot(slot, kBrowseSlot)) {
    OnBrowse(d, ip, senderGroup, now);
    return;  // the browse slot is the bridge's, not the computers'
  }
  Hear(d.source.name, ip, senderGroup, nullptr, now);

  std::vector<std::string> targets;
  std::string destination = CanonicalName(d.destination.name);
  if (FindServed(destination)) {
    targets.push_back(destination);
  } else if (d.type != kDirectUnique && (IsWorkgroup(destination) || destination == "*")) {
    for (const Served& s : served_) targets.push_back(s.name);
  }
  // The same datagram may come as a frame too (from a copy or a bridge
  // that sends both ways): the first to arrive is delivered.
  if (!targets.empty() && framePort_ &&
      relay_.IsCopy(CanonicalName(d.source.name),
                    std::string_view(reinterpret_cast<const char*>(d.data.data()), d.data.size()),
                    ArrivalPath::kNetbios, now)) {
    return;
  }
  for (const std::string& computer : targets) {
    // Only a name that is ours: not while it is being registered, not when
    // another machine holds it.
    if (StateOf(computer) != NameState::kOwned) continue;
    Delivered(io_.deliver(computer, slot, d.data), d.type, computer, ip, now);
  }
}

void BridgeCore::Lookup(const NetbiosName& name, Millis now,
                        std::function<void(const CacheEntry*)> done) {
  std::string key = CacheKey(name);
  auto cached = cache_.find(key);
  if (cached != cache_.end() && cached->second.expires > now) {
    done(cached->second.found ? &cached->second : nullptr);
    return;
  }
  PendingQuery& query = queries_[key];
  if (query.waiters.empty() && query.sent == 0) {
    query.name = MakeName(name.name, name.suffix);
    query.id = NextId();
    query.next = now;
  }
  query.waiters.push_back(std::move(done));
  OnTimer(now);
}

void BridgeCore::Resolve(const std::string& target, Millis now, Completion done) {
  std::string name = CanonicalName(target);
  if (name.empty()) {
    done(ERROR_BAD_NETPATH);
    return;
  }
  if (name == "*" || IsWorkgroup(name) || FindServed(name) ||
      (framePort_ && relay_.Find(name, now) != 0)) {
    done(0);
    return;
  }
  Lookup(MakeName(name, kSuffixWorkstation), now, [this, name, done](const CacheEntry* entry) {
    // Not on NetBIOS: a computer that speaks frames alone is reached by
    // its resolved name.
    const bool byName = !entry && framePort_ && io_.resolveHost && io_.resolveHost(name) != 0;
    done(entry || byName ? 0 : ERROR_BAD_NETPATH);
  });
}

void BridgeCore::Write(const std::string& sender, const std::string& target,
                       const std::string& slot, const std::vector<uint8_t>& data, Millis now,
                       Completion done) {
  if (data.size() > kMaxRemoteWrite) {
    done(ERROR_BAD_NETPATH);
    return;
  }
  std::string name = CanonicalName(target);
  std::string from = CanonicalName(sender);
  if (name.empty() || from.empty() || slot.empty()) {
    done(ERROR_INVALID_PARAMETER);
    return;
  }
  Served* served = FindServed(from);
  if (!served) {
    Drop("a write from a computer this bridge does not serve", "local " + from, now);
    done(bridge_link::kErrorNotServed);
    return;
  }
  switch (StateOf(from)) {
    case NameState::kRegistering:
      // Its datagrams would teach others a name that may yet turn out to
      // be someone else's: wait for the registration to end.
      served->waiting.push_back([this, sender, target, slot, data, done](Millis at) {
        Write(sender, target, slot, data, at, done);
      });
      return;
    case NameState::kConflict:
      Drop("a write from " + from + ", whose name is in use by " + Dotted(served->conflictOwner),
           "local " + from, now);
      done(bridge_link::kErrorNameInConflict);
      return;
    case NameState::kOwned:
      break;
  }
  const bool relays = Relays(from);
  if (name == "*" || IsWorkgroup(name)) {
    if (relays) SendFrame(config_.broadcast, from, slot, data, now);
    SendToName(kDirectGroup, sender,
               MakeName(name == "*" ? config_.workgroup : name, kSuffixWorkstation),
               config_.broadcast, slot, data, std::move(done));
    return;
  }
  uint8_t suffix = SameSlot(slot, "messngr") ? kSuffixMessenger : kSuffixWorkstation;
  if (relays) {
    // Heard by frames lately: it listens for them, and they go at once.
    // NetBIOS carries a copy too when it knows the computer already (no
    // query for it): a bridge that was just restarted takes frames only
    // seconds after its start, and its computer would lose what came
    // meanwhile. The receiving side delivers the first of the two.
    if (const uint32_t ip = relay_.Find(name, now)) {
      const bool framed = SendFrame(ip, from, slot, data, now);
      auto cached = cache_.find(CacheKey(MakeName(name, kSuffixWorkstation)));
      if (cached != cache_.end() && cached->second.expires > now && cached->second.found &&
          !cached->second.group) {
        SendToName(kDirectUnique, sender, MakeName(name, suffix), cached->second.ip, slot, data,
                   std::move(done));
        return;
      }
      done(framed ? 0 : ERROR_BAD_NETPATH);
      return;
    }
  }
  Lookup(
      MakeName(name, kSuffixWorkstation), now,
      [this, sender, from, name, suffix, slot, data, done, relays, now](const CacheEntry* entry) {
        if (!entry) {
          // Not on NetBIOS (remote mailslots off, or no NetBIOS at all):
          // by frame to where its frames came from, or to its resolved name.
          uint32_t ip = relays ? relay_.Find(name, now) : 0;
          if (ip == 0 && relays && io_.resolveHost) ip = io_.resolveHost(name);
          done(ip != 0 && SendFrame(ip, from, slot, data, now) ? 0 : ERROR_BAD_NETPATH);
        } else if (entry->group) {
          SendToName(kDirectGroup, sender, MakeName(name, kSuffixWorkstation), config_.broadcast,
                     slot, data, done);
        } else {
          // Both ways: a receiver with remote mailslots off takes the
          // frame, one that hears both delivers the first.
          if (relays) SendFrame(entry->ip, from, slot, data, now);
          SendToName(kDirectUnique, sender, MakeName(name, suffix), entry->ip, slot, data, done);
        }
      });
}

void BridgeCore::SendToName(uint8_t type, const std::string& sender, const NetbiosName& target,
                            uint32_t ip, const std::string& slot, const std::vector<uint8_t>& data,
                            Completion done) {
  MailslotDatagram d;
  d.type = type;
  d.id = NextId();
  d.sourceIp = config_.ip;
  d.source = MakeName(sender, kSuffixWorkstation);
  d.destination = target;
  d.mailslot = WireMailslotName(slot);
  d.data = data;
  std::vector<uint8_t> packet;
  Status status = EncodeMailslotDatagram(d, &packet);
  if (!status) {
    // A group goes by its bare name in the log, a computer with its suffix.
    Log("cannot send to " + (type == kDirectGroup ? target.name : DescribeName(target)) + ": " +
        status.error);
    done(ERROR_BAD_NETPATH);
    return;
  }
  io_.sendUdp(kDatagramPort, ip, kDatagramPort, packet);
  done(0);
}

bool BridgeCore::Relays(const std::string& from) const {
  return framePort_ && !relay_.SpeaksItself(from);
}

bool BridgeCore::SendFrame(uint32_t ip, const std::string& from, const std::string& slot,
                           const std::vector<uint8_t>& data, Millis now) {
  if (!io_.sendFrame) return false;
  const std::string frame = BuildLanFrame(
      slot, from, true, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  // What no receiver would take (a datagram of another kind, whose second
  // field is not its sender) is not sent.
  LanFrame check;
  if (ParseLanFrame(frame, &check) != nullptr) return false;
  if (ip == config_.broadcast) relay_.RememberOwn(frame, now);
  return io_.sendFrame(ip, frame);
}

bool BridgeCore::IsLocalNetwork(uint32_t ip) const {
  if (ip >> 24 == 127) return true;
  return config_.mask != 0 && (ip & config_.mask) == (config_.ip & config_.mask);
}

bool BridgeCore::WantsFramePort(Millis now) const {
  return !served_.empty() && now - lastStart_ >= config_.framePortGrace;
}

void BridgeCore::SetFramePort(bool held) { framePort_ = held; }

void BridgeCore::OnFramePacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now,
                               bool unicast) {
  const std::string_view bytes(reinterpret_cast<const char*>(packet), size);
  if (!IsLocalNetwork(ip)) {
    Drop("frame: not from the local network", Dotted(ip), now);
    return;
  }
  LanFrame frame;
  if (const char* why = ParseLanFrame(bytes, &frame)) {
    Drop(std::string("frame: ") + why, Dotted(ip), now);
    return;
  }
  const std::string sender = CanonicalName(frame.sender);
  if (FindServed(sender)) {
    if (ip != config_.ip && ip >> 24 != 127) {
      Drop("frame in the name of " + sender + ", a computer of this machine", Dotted(ip), now);
      return;
    }
    // Our own broadcast, come back; or the copy of a served computer that
    // sends frames itself, whose writes we then no longer relay.
    if (!relay_.IsOwnFrame(bytes, now) && relay_.MarkSpeaksItself(sender)) {
      Log(sender + " sends UDP frames itself: its datagrams are no longer relayed as frames");
    }
    return;
  }
  if (frame.listens) relay_.Learn(sender, ip, now);
  Hear(sender, ip, {}, nullptr, now);
  if (relay_.IsCopy(sender, frame.data, ArrivalPath::kFrame, now)) return;
  const std::vector<uint8_t> data(frame.data.begin(), frame.data.end());
  bool taken = false;
  for (const Served& s : served_) {
    if (StateOf(s.name) != NameState::kOwned) continue;
    // A frame names no computer: every computer of this machine with the
    // slot open takes it, as a datagram to the workgroup.
    const Delivery outcome = io_.deliver(s.name, frame.slot, data);
    taken = taken || outcome == Delivery::kDelivered || outcome == Delivery::kHeld;
    Delivered(outcome, kDirectGroup, s.name, ip, now);
  }
  if (unicast && !taken) Drop("frame for a slot no computer here has open", Dotted(ip), now);
}

void BridgeCore::OnTimer(Millis now) {
  std::vector<std::string> settled;
  for (OwnName& own : own_) {
    if (own.state != NameState::kRegistering || own.next > now) continue;
    if (own.sent < kBroadcastTries) {
      std::vector<uint8_t> packet;
      if (BuildRegistration(own.id, own.name, own.group, config_.ip, kTtl, &packet)) {
        SendName(config_.broadcast, kNamePort, packet);
      }
      ++own.sent;
      own.next = now + kRetryInterval;
    } else {
      own.state = NameState::kOwned;  // nobody objected
      if (!own.group) settled.push_back(own.name.name);
    }
  }
  // Run after the loop: what waited may send, query and come back here.
  for (const std::string& computer : settled) Settle(computer, now);

  for (Served& s : served_) {
    if (!s.announcing || s.nextAnnouncement > now) continue;
    Announce(s, kServerWorkstation, s.announcementInterval);
    s.nextAnnouncement = now + s.announcementInterval;
    s.announcementInterval =
        std::min(s.announcementInterval * 2, config_.longestAnnouncementInterval);
    if (!requestedAnnouncements_) {
      // Once per start: everybody announces within half a minute, so the
      // neighbourhood fills without waiting for their next announcement.
      requestedAnnouncements_ = true;
      std::vector<uint8_t> request;
      if (EncodeAnnouncementRequest(s.name, &request)) {
        SendToName(kDirectGroup, s.name, MakeName(config_.workgroup, kSuffixWorkstation),
                   config_.broadcast, kBrowseSlot, request, [](uint32_t) {});
      }
    }
  }

  for (auto it = queries_.begin(); it != queries_.end();) {
    PendingQuery& query = it->second;
    if (query.next > now) {
      ++it;
      continue;
    }
    if (query.sent < kBroadcastTries) {
      std::vector<uint8_t> packet;
      if (BuildQuery(query.id, query.name, &packet)) {
        SendName(config_.broadcast, kNamePort, packet);
      }
      ++query.sent;
      query.next = now + kRetryInterval;
      ++it;
      continue;
    }
    auto claim = claims_.find(it->first);
    if (claim != claims_.end() && claim->second > now && !query.extended) {
      // Nobody answers, but a machine is registering the name (a bridge
      // that restarted): ask once more when its registration has run out.
      query.extended = true;
      query.sent = kBroadcastTries - 1;
      query.next = claim->second;
      ++it;
      continue;
    }
    CacheEntry missing;
    missing.expires = now + config_.negativeLifetime;
    cache_[it->first] = missing;
    auto waiters = std::move(query.waiters);
    it = queries_.erase(it);
    for (auto& waiter : waiters) waiter(nullptr);
  }
  for (auto it = cache_.begin(); it != cache_.end();) {
    it = it->second.expires <= now ? cache_.erase(it) : std::next(it);
  }
  for (auto it = claims_.begin(); it != claims_.end();) {
    it = it->second <= now ? claims_.erase(it) : std::next(it);
  }
  for (auto it = neighbours_.begin(); it != neighbours_.end();) {
    if (it->second.lastSeen + config_.neighbourLifetime <= now) {
      it = neighbours_.erase(it);
      neighboursChanged_ = true;
    } else {
      ++it;
    }
  }
  std::string summary = drops_.TakeDue(now);
  if (!summary.empty()) Log(summary);
}

Millis BridgeCore::NextDeadline() const {
  Millis next = -1;
  auto consider = [&next](Millis t) {
    if (t >= 0 && (next < 0 || t < next)) next = t;
  };
  for (const OwnName& own : own_) {
    if (own.state == NameState::kRegistering) consider(own.next);
  }
  for (const Served& s : served_) {
    if (s.announcing) consider(s.nextAnnouncement);
  }
  for (const auto& [key, query] : queries_) consider(query.next);
  for (const auto& [key, entry] : cache_) consider(entry.expires);
  for (const auto& [key, n] : neighbours_) consider(n.lastSeen + config_.neighbourLifetime);
  consider(drops_.NextDeadline());
  return next;
}

void BridgeCore::Shutdown(Millis now) {
  std::string summary = drops_.Flush(now);
  if (!summary.empty()) Log(summary);
  for (Served& s : served_) {
    if (s.announcing) Announce(s, 0, 0);
  }
  for (const OwnName& own : own_) ReleaseOwnName(own);
  own_.clear();
  served_.clear();
  joined_ = false;
}

std::vector<Neighbour> BridgeCore::Neighbours() const {
  std::vector<Neighbour> out;
  for (const auto& [key, n] : neighbours_) out.push_back(n);
  return out;
}

bool BridgeCore::TakeNeighboursChanged() { return std::exchange(neighboursChanged_, false); }

}  // namespace vask::bridge
