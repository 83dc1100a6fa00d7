#include "bridge/bridge_core.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "bridge/win32_errors.h"

namespace vask::bridge {
namespace {

std::string Dotted(uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF,
                ip & 0xFF);
  return text;
}

bool SameSlot(const std::string& a, const char* b) { return CanonicalName(a) == CanonicalName(b); }

}  // namespace

BridgeCore::BridgeCore(BridgeConfig config, BridgeIo io)
    : config_(std::move(config)),
      io_(std::move(io)),
      nextId_(static_cast<uint16_t>(config_.ip * 2654435761u >> 16)) {
  config_.workgroup = CanonicalName(config_.workgroup);
}

uint16_t BridgeCore::NextId() { return ++nextId_; }

void BridgeCore::Log(const std::string& line) {
  if (io_.log) io_.log(line);
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

bool BridgeCore::ServesComputer(const std::string& canonical) const {
  return std::find(served_.begin(), served_.end(), canonical) != served_.end();
}

const BridgeCore::OwnName* BridgeCore::FindOwn(const NetbiosName& name) const {
  for (const OwnName& own : own_) {
    if (!own.group && own.state != NameState::kConflict && NamesMatch(own.name, name)) return &own;
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
  if (own.state == NameState::kConflict) return;
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
  for (const std::string& gone : served_) {
    if (std::find(wanted.begin(), wanted.end(), gone) != wanted.end()) continue;
    auto it = std::remove_if(own_.begin(), own_.end(), [&](const OwnName& own) {
      if (own.group || own.name.name != gone) return false;
      ReleaseOwnName(own);
      return true;
    });
    own_.erase(it, own_.end());
    Log("stopped serving " + gone);
  }
  for (const std::string& added : wanted) {
    if (ServesComputer(added)) continue;
    AddOwnName(MakeName(added, kSuffixWorkstation), false, now);
    AddOwnName(MakeName(added, kSuffixMessenger), false, now);
    neighbours_.erase(added);
    neighboursChanged_ = true;
    Log("serving " + added + " in " + config_.workgroup);
  }
  served_ = std::move(wanted);
}

void BridgeCore::Learn(const NetbiosName& name, uint32_t ip, const std::string& workgroup,
                       Millis now) {
  if (name.name == "*" || !name.scope.empty()) return;
  std::string canonical = CanonicalName(name.name);
  if (name.suffix == kSuffixWorkstation || name.suffix == kSuffixMessenger) {
    CacheEntry& entry = cache_[CacheKey(name)];
    entry.found = true;
    entry.group = false;
    entry.ip = ip;
    entry.expires = now + config_.cacheLifetime;
  }
  if (name.suffix != kSuffixWorkstation || ServesComputer(canonical) || IsWorkgroup(canonical)) {
    return;
  }
  Neighbour& n = neighbours_[canonical];
  bool fresh = n.name.empty() || n.ip != ip || (!workgroup.empty() && n.workgroup != workgroup);
  n.name = canonical;
  n.ip = ip;
  if (!workgroup.empty()) n.workgroup = workgroup;
  if (n.workgroup.empty()) n.workgroup = config_.workgroup;
  n.lastSeen = now;
  if (fresh) neighboursChanged_ = true;
}

void BridgeCore::Forget(const NetbiosName& name, uint32_t ip) {
  auto it = cache_.find(CacheKey(name));
  if (it != cache_.end() && it->second.ip == ip) cache_.erase(it);
  if (name.suffix != kSuffixWorkstation) return;
  auto n = neighbours_.find(CanonicalName(name.name));
  if (n != neighbours_.end() && n->second.ip == ip) {
    neighbours_.erase(n);
    neighboursChanged_ = true;
  }
}

void BridgeCore::OnNamePacket(const uint8_t* packet, size_t size, uint32_t ip, uint16_t port,
                              Millis now) {
  if (ip == config_.ip) return;  // our own broadcasts come back to us
  NamePacket p;
  Status status = DecodeNamePacket(packet, size, &p);
  if (!status) {
    Log("dropped a name packet from " + Dotted(ip) + ": " + status.error);
    return;
  }
  if (p.response()) {
    OnResponse(p, ip, now);
  } else {
    OnRequest(p, ip, port, now);
  }
}

void BridgeCore::OnResponse(const NamePacket& p, uint32_t ip, Millis now) {
  if (!p.hasRecord) return;
  if (p.opcode() == kOpRegistration && p.rcode() != 0) {
    for (OwnName& own : own_) {
      if (!own.group && own.state != NameState::kConflict && NamesMatch(own.name, p.recordName)) {
        own.state = NameState::kConflict;
        Log("the name " + DescribeName(own.name) + " is in use by " + Dotted(ip) +
            "; it is not served here");
      }
    }
    return;
  }
  if (p.opcode() != kOpQuery) return;
  auto it = queries_.find(CacheKey(p.recordName));
  if (it == queries_.end() || it->second.id != p.id) return;
  if (p.rcode() != 0 || p.addresses.empty()) return;  // someone else may still answer
  CacheEntry entry;
  entry.found = true;
  entry.group = (p.addresses[0].nbFlags & kNbGroup) != 0;
  entry.ip = entry.group ? config_.broadcast : p.addresses[0].ip;
  PendingQuery query = std::move(it->second);
  queries_.erase(it);
  // The answer stands until our cache lifetime runs out, not for the TTL
  // the owner gave: names come and go with copies of the host.
  entry.expires = now + config_.cacheLifetime;
  cache_[CacheKey(query.name)] = entry;
  if (!entry.group) Learn(query.name, entry.ip, {}, now);
  for (auto& waiter : query.waiters) waiter(&entry);
}

void BridgeCore::OnRequest(const NamePacket& p, uint32_t ip, uint16_t port, Millis now) {
  switch (p.opcode()) {
    case kOpQuery: {
      if (!p.hasQuestion || p.questionType != kTypeNb) return;
      std::vector<uint8_t> answer;
      if (FindOwn(p.question)) {
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
      if (FindOwn(p.recordName) && p.opcode() != kOpRefresh) {
        std::vector<uint8_t> defence;
        if (BuildDefence(p.id, p.recordName, config_.ip, &defence)) SendName(ip, port, defence);
        Log("defended " + DescribeName(p.recordName) + " against " + Dotted(ip));
        return;
      }
      Learn(p.recordName, p.addresses[0].ip, {}, now);
      return;
    }
    case kOpRelease: {
      if (!p.hasRecord || p.addresses.empty()) return;
      Forget(p.recordName, p.addresses[0].ip);
      return;
    }
    default:
      return;
  }
}

void BridgeCore::OnDatagramPacket(const uint8_t* packet, size_t size, uint32_t ip, Millis now) {
  if (ip == config_.ip) return;
  DatagramPacket p;
  Status status = DecodeDatagramPacket(packet, size, &p);
  if (!status) {
    Log("dropped a datagram from " + Dotted(ip) + ": " + status.error);
    return;
  }
  if (p.type == kDatagramError) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", p.errorCode);
    Log("error datagram " + std::string(code) + " from " + Dotted(ip));
    return;
  }
  const MailslotDatagram& d = p.mailslot;
  if (!d.source.scope.empty() || !d.destination.scope.empty()) return;  // another scope's traffic
  std::string slot;
  SlotFromMailslotName(d.mailslot, &slot);  // the decoder checked the prefix
  std::string senderGroup;
  if (d.type != kDirectUnique && d.destination.name != "*" &&
      (d.destination.suffix == kSuffixWorkstation || d.destination.suffix == 0x1D ||
       d.destination.suffix == 0x1E)) {
    senderGroup = CanonicalName(d.destination.name);
  }
  Learn(MakeName(d.source.name, kSuffixWorkstation), ip, senderGroup, now);

  std::vector<std::string> targets;
  std::string destination = CanonicalName(d.destination.name);
  if (ServesComputer(destination)) {
    bool conflict = std::any_of(own_.begin(), own_.end(), [&](const OwnName& own) {
      return own.state == NameState::kConflict && own.name.name == destination;
    });
    if (!conflict) targets.push_back(destination);
  } else if (d.type != kDirectUnique && (IsWorkgroup(destination) || destination == "*")) {
    targets = served_;
  }
  for (const std::string& computer : targets) io_.deliver(computer, slot, d.data);
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
  if (name == "*" || IsWorkgroup(name) || ServesComputer(name)) {
    done(0);
    return;
  }
  Lookup(MakeName(name, kSuffixWorkstation), now,
         [done](const CacheEntry* entry) { done(entry ? 0 : ERROR_BAD_NETPATH); });
}

void BridgeCore::Write(const std::string& sender, const std::string& target,
                       const std::string& slot, const std::vector<uint8_t>& data, Millis now,
                       Completion done) {
  if (data.size() > kMaxRemoteWrite) {
    done(ERROR_BAD_NETPATH);
    return;
  }
  std::string name = CanonicalName(target);
  if (name.empty() || CanonicalName(sender).empty() || slot.empty()) {
    done(ERROR_INVALID_PARAMETER);
    return;
  }
  if (name == "*" || IsWorkgroup(name)) {
    SendGroup(sender, name == "*" ? config_.workgroup : name, slot, data, std::move(done));
    return;
  }
  uint8_t suffix = SameSlot(slot, "messngr") ? kSuffixMessenger : kSuffixWorkstation;
  Lookup(MakeName(name, kSuffixWorkstation), now,
         [this, sender, name, suffix, slot, data, done](const CacheEntry* entry) {
           if (!entry) {
             done(ERROR_BAD_NETPATH);
           } else if (entry->group) {
             SendGroup(sender, name, slot, data, done);
           } else {
             SendUnique(sender, MakeName(name, suffix), entry->ip, slot, data, done);
           }
         });
}

void BridgeCore::SendGroup(const std::string& sender, const std::string& group,
                           const std::string& slot, const std::vector<uint8_t>& data,
                           Completion done) {
  MailslotDatagram d;
  d.type = kDirectGroup;
  d.id = NextId();
  d.sourceIp = config_.ip;
  d.source = MakeName(sender, kSuffixWorkstation);
  d.destination = MakeName(group, kSuffixWorkstation);
  d.mailslot = WireMailslotName(slot);
  d.data = data;
  std::vector<uint8_t> packet;
  Status status = EncodeMailslotDatagram(d, &packet);
  if (!status) {
    Log(std::string("cannot send to ") + group + ": " + status.error);
    done(ERROR_BAD_NETPATH);
    return;
  }
  io_.sendUdp(kDatagramPort, config_.broadcast, kDatagramPort, packet);
  done(0);
}

void BridgeCore::SendUnique(const std::string& sender, const NetbiosName& target, uint32_t ip,
                            const std::string& slot, const std::vector<uint8_t>& data,
                            Completion done) {
  MailslotDatagram d;
  d.type = kDirectUnique;
  d.id = NextId();
  d.sourceIp = config_.ip;
  d.source = MakeName(sender, kSuffixWorkstation);
  d.destination = target;
  d.mailslot = WireMailslotName(slot);
  d.data = data;
  std::vector<uint8_t> packet;
  Status status = EncodeMailslotDatagram(d, &packet);
  if (!status) {
    Log("cannot send to " + DescribeName(target) + ": " + status.error);
    done(ERROR_BAD_NETPATH);
    return;
  }
  io_.sendUdp(kDatagramPort, ip, kDatagramPort, packet);
  done(0);
}

void BridgeCore::OnTimer(Millis now) {
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
  for (auto it = neighbours_.begin(); it != neighbours_.end();) {
    if (it->second.lastSeen + config_.neighbourLifetime <= now) {
      it = neighbours_.erase(it);
      neighboursChanged_ = true;
    } else {
      ++it;
    }
  }
}

Millis BridgeCore::NextDeadline() const {
  Millis next = -1;
  auto consider = [&next](Millis t) {
    if (next < 0 || t < next) next = t;
  };
  for (const OwnName& own : own_) {
    if (own.state == NameState::kRegistering) consider(own.next);
  }
  for (const auto& [key, query] : queries_) consider(query.next);
  for (const auto& [key, entry] : cache_) consider(entry.expires);
  for (const auto& [key, n] : neighbours_) consider(n.lastSeen + config_.neighbourLifetime);
  return next;
}

void BridgeCore::Shutdown() {
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
