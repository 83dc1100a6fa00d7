#include "bridge/backlog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vask::bridge {
namespace {

enum class Sent { kDone, kNoRoom, kGone };

Sent SendOne(int fd, const uint8_t* data, size_t size) {
  ssize_t sent;
  do {
    // Never block the bridge on a slot whose reader stopped.
    sent = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent == static_cast<ssize_t>(size)) return Sent::kDone;
  if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Sent::kNoRoom;
  return Sent::kGone;  // the reader closed its slot (ECONNREFUSED), or worse
}

}  // namespace

int ConnectSlot(const std::string& path) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

Backlog::~Backlog() {
  for (auto& [path, w] : waiting_) ::close(w.fd);
}

Delivery Backlog::Send(const std::string& path, const std::string& label, const uint8_t* data,
                       size_t size) {
  auto found = waiting_.find(path);
  if (found != waiting_.end()) {
    Waiting& w = found->second;
    if (w.datagrams.size() >= kHeldDatagrams || w.bytes + size > kHeldBytes) {
      return Delivery::kBacklogFull;
    }
    w.datagrams.emplace_back(data, data + size);
    w.bytes += size;
    return Delivery::kHeld;  // handed over in order by Retry
  }
  int fd = ConnectSlot(path);
  if (fd < 0) return Delivery::kNoSlot;
  switch (SendOne(fd, data, size)) {
    case Sent::kDone:
      ::close(fd);
      return Delivery::kDelivered;
    case Sent::kGone:
      ::close(fd);
      return Delivery::kNoSlot;
    case Sent::kNoRoom:
      break;
  }
  if (waiting_.size() >= kHeldReceivers) {
    ::close(fd);
    return Delivery::kTooManyReceivers;
  }
  Waiting& w = waiting_[path];
  w.fd = fd;  // its poll says when room appears
  w.label = label;
  w.datagrams.emplace_back(data, data + size);
  w.bytes = size;
  return Delivery::kHeld;
}

void Backlog::AddPollFds(std::vector<pollfd>* fds) const {
  for (const auto& [path, w] : waiting_) fds->push_back({w.fd, POLLOUT, 0});
}

void Backlog::Retry(const std::function<void(const std::string& label, size_t count)>& lost) {
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    Waiting& w = it->second;
    bool reconnected = false;
    while (!w.datagrams.empty()) {
      const std::vector<uint8_t>& front = w.datagrams.front();
      Sent sent = SendOne(w.fd, front.data(), front.size());
      if (sent == Sent::kDone) {
        w.bytes -= front.size();
        w.datagrams.pop_front();
        continue;
      }
      if (sent == Sent::kNoRoom) break;
      // The reader's socket is gone; a new reader of the same slot (the
      // computer started again) takes the rest, else it is lost.
      int fd = reconnected ? -1 : ConnectSlot(it->first);
      if (fd < 0) {
        lost(w.label, w.datagrams.size());
        w.datagrams.clear();
        break;
      }
      ::close(w.fd);
      w.fd = fd;
      reconnected = true;
    }
    if (w.datagrams.empty()) {
      ::close(w.fd);
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
}

size_t Backlog::Held() const {
  size_t held = 0;
  for (const auto& [path, w] : waiting_) held += w.datagrams.size();
  return held;
}

}  // namespace vask::bridge
