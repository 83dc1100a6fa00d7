// The client side of an emulated mailslot (mailslot_client.h).
#include "mailslot_client.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "bridge_client.h"
#include "errors.h"
#include "lan.h"
#include "mailslot_server.h"
#include "outbox.h"
#include "slot_paths.h"

namespace vask::platform {
namespace {

// Whether a send failed because the socket's peer is not, or no longer,
// the server at the path (gone, or gone and bound anew): ECONNREFUSED on
// the first send after, ENOTCONN on any later one. A fresh connect then
// finds out which.
bool PeerGone(DWORD error) { return error == ERROR_CONNECTION_REFUSED; }

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

// Sends one datagram on a connected socket without waiting (a receiver
// whose queue is full gets it later or loses it); the GetLastError code.
DWORD SendConnected(Fd& socket, const std::string& path, const void* buffer, DWORD size) {
  MakeRoom(socket.get(), size);
  return SendOrKeep(socket, path, buffer, size);
}

// One datagram to the server at path on a fresh socket.
DWORD SendDatagram(const std::string& path, const void* buffer, DWORD size) {
  if (DeliverInProcess(path, buffer, size)) return ERROR_SUCCESS;
  sockaddr_un address;
  if (!FillAddress(path, &address)) return ERROR_FILENAME_EXCED_RANGE;
  Fd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sender.valid()) return ErrorFromErrno(errno);
  int result;
  do {
    result = ::connect(sender.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return ErrorFromErrno(errno);
  return SendConnected(sender, path, buffer, size);
}

// One datagram on the socket that proved the server at path live, which is
// then closed: later writes on the handle take a fresh socket each, as a
// socket of its own per datagram keeps one stalled receiver's backlog off
// the sender's buffer. If that server has gone since the proof, the
// datagram goes on a fresh socket to whatever is bound there now.
DWORD SendOnProbe(Fd& probe, const std::string& path, const void* buffer, DWORD size) {
  if (DeliverInProcess(path, buffer, size)) {
    probe.Reset();
    return ERROR_SUCCESS;
  }
  if (probe.valid()) {
    DWORD result = SendConnected(probe, path, buffer, size);
    probe.Reset();
    if (!PeerGone(result)) return result;
  }
  return SendDatagram(path, buffer, size);
}

}  // namespace

MailslotClient::MailslotClient(std::string slot)
    : Object(Kind::kMailslotClient), broadcast_(true), remote_(true), slot_(std::move(slot)) {}

MailslotClient::MailslotClient(std::string slot, std::string path, Fd live, bool remote)
    : Object(Kind::kMailslotClient),
      broadcast_(false),
      remote_(remote),
      slot_(std::move(slot)),
      path_(std::move(path)),
      live_(std::move(live)) {}

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
    std::string lan;
    if (!LanDirectory(&lan)) return FALSE;
    // Resolved at each write, so a computer that started after the open
    // hears it too.
    for (const std::string& groupName : FoldersNamed(lan, OwnWorkgroup())) {
      std::string group = lan + "/" + groupName;
      for (const std::string& computer : ListDirectory(group)) {
        std::string path = group + "/" + computer + "/" + slot_;
        Fd live = ConnectLive(path);
        if (live.valid()) count(SendOnProbe(live, path, buffer, size));
      }
    }
  } else {
    MutexLock guard(liveLock_);
    count(SendOnProbe(live_, path_, buffer, size));
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

HANDLE OpenNamedClient(const std::string& computer, const std::string& slot, bool remote) {
  std::string lan;
  if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
  bool computerSeen = false;
  std::string path;
  Fd live = FindNamedServer(lan, computer, slot, &path, &computerSeen);
  if (live.valid()) {
    return RegisterHandle(std::make_shared<MailslotClient>(slot, path, std::move(live), remote));
  }
  if (!computerSeen && RealLanSelected()) return OpenBridgeClient(computer, slot);
  SetLastError(computerSeen ? ERROR_FILE_NOT_FOUND : ERROR_BAD_NETPATH);
  return INVALID_HANDLE_VALUE;
}

}  // namespace vask::platform
