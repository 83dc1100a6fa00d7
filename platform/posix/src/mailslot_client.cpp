// The client side of an emulated mailslot (mailslot_client.h).
#include "mailslot_client.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "bridge_client.h"
#include "environment.h"
#include "errors.h"
#include "lan.h"
#include "mailslot_server.h"
#include "outbox.h"
#include "peer_sockets.h"
#include "slot_paths.h"
#include "workgroup_listing.h"

namespace vask::platform {
namespace {

// An AF_UNIX datagram may be at most the sender's buffer (less a little):
// makes room for one of `size` bytes when the system's default buffer has
// not 64 KiB to spare beyond it (the kernel doubles the figure and caps it).
void MakeRoom(int fd, DWORD size) {
  static const size_t defaultBuffer = [fd] {
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, &length) == 0 && value > 0
               ? static_cast<size_t>(value)
               : size_t{0};
  }();
  const size_t wanted = std::min<size_t>(size_t{size} + 65536, 1u << 30);
  if (wanted <= defaultBuffer) return;
  int room = static_cast<int>(wanted);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
}

// Sends one datagram to the server the peer leads to, without waiting (a
// receiver whose queue is full gets it later or loses it); 0 or the errno
// of the failed send.
int SendToPeer(const Peer& peer, const void* buffer, DWORD size) {
  MakeRoom(peer.socket.get(), size);
  return SendOrKeep(peer.socket.get(), peer.path, buffer, size);
}

// The key of a named client's peer: everything its lookup depends on.
std::string NamedKey(const std::string& lan, const std::string& computer, const std::string& slot) {
  const std::string group = OwnWorkgroup();
  std::string key;
  key.reserve(lan.size() + group.size() + computer.size() + slot.size() + 3);
  key = lan;
  for (const std::string* part : {&group, &computer, &slot}) {
    key.push_back('\n');
    key += *part;
  }
  return key;
}

// What a remembered target depends on besides its name: the variables'
// entries (environment.h gives the same pointer while a value is unchanged).
struct TargetStamp {
  const char* computer = nullptr;
  const char* workgroup = nullptr;
  const char* lan = nullptr;
  const char* runtime = nullptr;
  bool operator==(const TargetStamp&) const = default;
};

TargetStamp CurrentStamp() {
  return {EnvironmentValue("COMPUTERNAME"), EnvironmentValue("VASK_WORKGROUP"),
          EnvironmentValue("VASK_LAN_DIR"), EnvironmentValue("XDG_RUNTIME_DIR")};
}

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

// This thread's targets by the name opened, all made under one stamp.
struct RememberedTargets {
  TargetStamp stamp;
  std::unordered_map<std::string, std::shared_ptr<const NamedTarget>, NameHash, std::equal_to<>>
      byName;
};

RememberedTargets& ThreadTargets() {
  thread_local RememberedTargets targets;
  return targets;
}

// Looks for the live server of slot on the named computer as an open does
// (the LAN directory checked, the socket file proved a socket) and keeps
// its socket under key; null with *error the open's code when there is
// none, *computerSeen set when the computer's folder is there.
std::shared_ptr<Peer> Resolve(const std::string& computer, const std::string& slot,
                              const std::string& key, DWORD* error, bool* computerSeen) {
  std::string lan;
  if (!LanDirectory(&lan)) {
    *error = GetLastError();
    return nullptr;
  }
  std::string path;
  Fd live = FindNamedServer(lan, computer, slot, &path, computerSeen);
  if (!live.valid()) {
    *error = *computerSeen ? ERROR_FILE_NOT_FOUND : ERROR_BAD_NETPATH;
    return nullptr;
  }
  auto peer = std::make_shared<Peer>(path, std::move(live));
  KeepPeer(key, peer);
  return peer;
}

// One datagram to the live server at path, on its kept socket or a new one
// (for a broadcast: a receiver that is not live is skipped, not a failure).
// ERROR_SUCCESS, the send's code, or ERROR_FILE_NOT_FOUND when none is live.
DWORD SendToPath(const std::string& path, const void* buffer, DWORD size) {
  if (DeliverInProcess(path, buffer, size)) return ERROR_SUCCESS;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::shared_ptr<Peer> peer = FindPeer(path);
    if (!peer) {
      Fd live = ConnectLive(path);
      if (!live.valid()) return ERROR_FILE_NOT_FOUND;
      peer = std::make_shared<Peer>(path, std::move(live));
      KeepPeer(path, peer);
    }
    const int error = SendToPeer(*peer, buffer, size);
    if (error == 0) return ERROR_SUCCESS;
    if (!PeerGone(error)) return ErrorFromErrno(error);
    DropPeer(path, peer.get());
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

MailslotClient::MailslotClient(std::string slot)
    : Object(Kind::kMailslotClient), broadcast_(true), remote_(true), slot_(std::move(slot)) {}

MailslotClient::MailslotClient(std::shared_ptr<const NamedTarget> target,
                               std::shared_ptr<Peer> peer)
    : Object(Kind::kMailslotClient),
      broadcast_(false),
      remote_(target->remote),
      target_(std::move(target)),
      peer_(std::move(peer)) {}

DWORD MailslotClient::WriteNamed(const void* buffer, DWORD size) {
  MutexLock guard(peerLock_);
  if (DeliverInProcess(*peer_, buffer, size)) return ERROR_SUCCESS;
  const int error = SendToPeer(*peer_, buffer, size);
  if (error == 0) return ERROR_SUCCESS;
  if (!PeerGone(error)) return ErrorFromErrno(error);
  // The server has gone, or gone and been bound anew: looked for again,
  // once, and the datagram goes to whatever is bound there now.
  DropPeer(target_->key, peer_.get());
  DWORD failure = ERROR_SUCCESS;
  bool computerSeen = false;
  std::shared_ptr<Peer> fresh =
      Resolve(target_->computer, target_->slot, target_->key, &failure, &computerSeen);
  if (!fresh) return failure;
  peer_ = std::move(fresh);
  if (DeliverInProcess(*peer_, buffer, size)) return ERROR_SUCCESS;
  const int again = SendToPeer(*peer_, buffer, size);
  return again == 0 ? ERROR_SUCCESS : ErrorFromErrno(again);
}

BOOL MailslotClient::Write(const void* buffer, DWORD size, LPDWORD written) {
  if (written) *written = 0;
  if (remote_ && !RemoteWriteAllowed(size)) return FALSE;
  DWORD failure = ERROR_SUCCESS;
  size_t delivered = 0;
  auto count = [&](DWORD result) {
    if (result == ERROR_SUCCESS) {
      ++delivered;
    } else {
      failure = result;
    }
  };
  if (broadcast_) {
    // Looked for at each write, so a computer that started after the open
    // hears it too (the listing is made again only when it changed).
    const auto computers = WorkgroupComputers();
    if (!computers) return FALSE;
    std::string path;
    for (const std::string& computer : *computers) {
      path.assign(computer).append("/").append(slot_);
      const DWORD result = SendToPath(path, buffer, size);
      // A computer without a live server of the slot is no receiver.
      if (result != ERROR_FILE_NOT_FOUND) count(result);
    }
  } else {
    count(WriteNamed(buffer, size));
  }
  if (broadcast_ && RealLanSelected()) count(BridgeBroadcast(slot_, buffer, size));
  if (delivered == 0 && failure != ERROR_SUCCESS) {
    SetLastError(failure);
    return FALSE;
  }
  if (written) *written = size;
  return TRUE;
}

bool RemoteWriteAllowed(DWORD size) {
  if (RemoteMailslotsOff()) {
    SetLastError(ERROR_REMOTE_MAILSLOTS_DEPRECATED);
    return false;
  }
  if (size > kMaxRemoteWrite) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  return true;
}

std::shared_ptr<const NamedTarget> MakeTarget(std::string computer, std::string slot, bool remote) {
  auto target = std::make_shared<NamedTarget>();
  target->key = NamedKey(LanPath(), computer, slot);
  target->computer = std::move(computer);
  target->slot = std::move(slot);
  target->remote = remote;
  return target;
}

std::shared_ptr<const NamedTarget> RememberedTarget(std::string_view name) {
  RememberedTargets& targets = ThreadTargets();
  if (targets.byName.empty()) return nullptr;
  if (!(targets.stamp == CurrentStamp())) {
    targets.byName.clear();
    return nullptr;
  }
  auto found = targets.byName.find(name);
  return found == targets.byName.end() ? nullptr : found->second;
}

void RememberTarget(std::string_view name, std::shared_ptr<const NamedTarget> target) {
  RememberedTargets& targets = ThreadTargets();
  const TargetStamp stamp = CurrentStamp();
  // Without the computer's name in the environment, the own name comes
  // from the host name, which nothing here watches: not remembered.
  if (stamp.computer == nullptr) return;
  if (!(targets.stamp == stamp) || targets.byName.size() >= PeerLimit()) {
    targets.byName.clear();
    targets.stamp = stamp;
  }
  targets.byName.emplace(std::string(name), std::move(target));
}

HANDLE OpenNamedClient(std::shared_ptr<const NamedTarget> target) {
  // A server written to before is taken on trust: its socket still leads
  // to it, and a write finds out when it has gone.
  std::shared_ptr<Peer> peer = FindPeer(target->key);
  if (!peer) {
    DWORD error = ERROR_SUCCESS;
    bool computerSeen = false;
    peer = Resolve(target->computer, target->slot, target->key, &error, &computerSeen);
    if (!peer) {
      if (!computerSeen && error == ERROR_BAD_NETPATH && RealLanSelected()) {
        return OpenBridgeClient(target->computer, target->slot);
      }
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  return RegisterHandle(std::make_shared<MailslotClient>(std::move(target), std::move(peer)));
}

}  // namespace vask::platform
