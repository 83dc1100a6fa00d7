// The server side of an emulated mailslot (mailslot_server.h), and the
// registry of this process's servers.
#include "mailslot_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "bridge_client.h"
#include "errors.h"
#include "lan.h"
#include "lan_names.h"
#include "slot_paths.h"

namespace vask::platform {
namespace {

// Bytes a server keeps queued for its reader before it drops new arrivals,
// so a slot nobody reads cannot eat the machine's memory.
constexpr size_t kQueueLimit = 16u << 20;
constexpr int kReceiveBuffer = 4 << 20;
// Datagrams taken from the socket by one system call, into room of the
// slot's largest size when that is at most kLargestBatched.
constexpr unsigned kBatch = 16;
constexpr DWORD kLargestBatched = 128 * 1024;

// What poll waits until the deadline, rounded up: -1 for no deadline.
template <typename Deadline>
int MillisecondsUntil(DWORD timeout, const Deadline& deadline) {
  if (timeout == MAILSLOT_WAIT_FOREVER) return -1;
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT32_MAX ? INT32_MAX : static_cast<int>(ms);
}

void Signal(int eventFd) {
  uint64_t one = 1;
  ssize_t ignored = ::write(eventFd, &one, sizeof one);
  (void)ignored;
}

// The server slots of this process by socket path. A write to one of them
// goes straight into its queue, as a write to a local mailslot does, rather
// than through the socket's short queue and its drainer thread: several
// computers in one process (the tests' peers) then see each other's writes
// at once, and no write waits.
class LocalServers {
 public:
  static LocalServers& Get() {
    static LocalServers* const servers = new LocalServers;  // outlives every server
    return *servers;
  }
  void Add(const std::string& path, const std::shared_ptr<MailslotServer>& server) {
    MutexLock guard(lock_);
    servers_[path] = server;
    generation_.fetch_add(1, std::memory_order_release);
  }
  void Remove(const std::string& path, const MailslotServer* server) {
    MutexLock guard(lock_);
    auto found = servers_.find(path);
    if (found == servers_.end()) return;
    std::shared_ptr<MailslotServer> live = found->second.lock();
    if (!live || live.get() == server) servers_.erase(found);
    generation_.fetch_add(1, std::memory_order_release);
  }
  // The server at path, or null; *generation is the generation the answer
  // holds for.
  std::shared_ptr<MailslotServer> Find(const std::string& path, uint64_t* generation = nullptr) {
    MutexLock guard(lock_);
    if (generation) *generation = generation_.load(std::memory_order_relaxed);
    auto found = servers_.find(path);
    return found == servers_.end() ? nullptr : found->second.lock();
  }
  // Moves on whenever a server is added or removed; never 0.
  uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }

 private:
  Mutex lock_;
  std::map<std::string, std::weak_ptr<MailslotServer>> servers_ GUARDED_BY(lock_);
  std::atomic<uint64_t> generation_{1};
};

}  // namespace

bool MailslotServer::Bind(const std::string& path) {
  sockaddr_un address;
  if (!FillAddress(path, &address)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  Fd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  wake_ = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  readerWake_ = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  watched_ = Fd(::epoll_create1(EPOLL_CLOEXEC));
  if (!socket.valid() || !wake_.valid() || !readerWake_.valid() || !watched_.valid()) {
    SetLastErrorFromErrno();
    return false;
  }
  epoll_event onSocket{EPOLLIN, {}};
  onSocket.data.fd = socket.get();
  epoll_event onWake{EPOLLIN, {}};
  onWake.data.fd = wake_.get();
  if (::epoll_ctl(watched_.get(), EPOLL_CTL_ADD, socket.get(), &onSocket) != 0 ||
      ::epoll_ctl(watched_.get(), EPOLL_CTL_ADD, wake_.get(), &onWake) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  path_ = path;
  // Capped by the system's limit; AF_UNIX counts queued datagrams mostly
  // against the sender, but a roomy receive buffer costs nothing.
  int size = kReceiveBuffer;
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  {
    MutexLock guard(lock_);
    socket_ = std::move(socket);
    // A slot whose largest message is very large (or unbounded) reads each
    // datagram by its size instead.
    if (maxSize_ != 0 && maxSize_ <= kLargestBatched) {
      batch_.reset(new (std::nothrow) char[size_t{kBatch} * maxSize_]);
    }
  }
  // The socket stays open until Shutdown has joined the drainer and no
  // reader watches it.
  drainer_ = std::thread(
      [this, watched = watched_.get(), wake = wake_.get()] { DrainLoop(watched, wake); });
  return true;
}

void MailslotServer::Shutdown() {
  MutexLock guard(lock_);
  if (shutDown_) return;
  shutDown_ = true;
  AnnounceLocked();
  guard.Unlock();
  if (!path_.empty()) LocalServers::Get().Remove(path_, this);
  if (drainer_.joinable()) {
    Signal(wake_.get());
    drainer_.join();
  }
  // Unlink before closing: while we are alive nobody else binds here, so
  // the file is still ours.
  if (!path_.empty()) ::unlink(path_.c_str());
  guard.Lock();
  while (readerWatches_) arrived_.Wait(lock_);
  socket_.Reset();
  arrived_.NotifyAll();
}

void MailslotServer::Accept(const void* buffer, DWORD size) {
  MutexLock guard(lock_);
  if (shutDown_) return;
  const char* bytes = static_cast<const char*>(buffer);
  // What came by the socket before came first.
  DrainLocked();
  if (KeepLocked(std::vector<char>(bytes, bytes + size))) AnnounceLocked();
}

BOOL MailslotServer::Info(LPDWORD maxSize, LPDWORD nextSize, LPDWORD count, LPDWORD timeout) {
  MutexLock guard(lock_);
  // The count takes in what a writer sent just before; the next size is
  // the oldest message's, which is queued already unless none is.
  if ((count || queue_.empty()) && DrainLocked()) AnnounceLocked();
  if (maxSize) *maxSize = maxSize_;
  if (nextSize)
    *nextSize = queue_.empty() ? MAILSLOT_NO_MESSAGE : static_cast<DWORD>(queue_.front().size());
  if (count) *count = static_cast<DWORD>(queue_.size());
  if (timeout) *timeout = timeout_;
  return TRUE;
}

BOOL MailslotServer::Read(void* buffer, DWORD toRead, LPDWORD read) {
  if (read) *read = 0;
  MutexLock guard(lock_);
  // A read that may wait leaves the socket to the drainer, which wakes for
  // anything waiting there; one that may not takes in what a writer sent
  // just before. With a message queued, that one is the oldest anyway.
  if (queue_.empty() && timeout_ == 0) DrainLocked();
  if (timeout_ != 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_);
    while (queue_.empty() && !shutDown_) {
      if (!readerWatches_ && socket_.valid() && DrainerWatches(false)) {
        readerWatches_ = true;
        pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {readerWake_.get(), POLLIN, 0}};
        guard.Unlock();
        const int ready = ::poll(fds, 2, MillisecondsUntil(timeout_, deadline));
        guard.Lock();
        if (fds[1].revents & POLLIN) {
          uint64_t count;
          ssize_t ignored = ::read(readerWake_.get(), &count, sizeof count);
          (void)ignored;
        }
        DrainLocked();
        DrainerWatches(true);
        readerWatches_ = false;
        // Other readers, and Shutdown, wait for the socket to be free.
        arrived_.NotifyAll();
        if (ready == 0) break;
        continue;
      }
      if (timeout_ == MAILSLOT_WAIT_FOREVER) {
        arrived_.Wait(lock_);
      } else if (!arrived_.WaitUntil(lock_, deadline)) {
        break;
      }
    }
  }
  if (shutDown_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (queue_.empty()) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  std::vector<char>& next = queue_.front();
  if (toRead < next.size()) {
    // The message stays queued for a read with a big enough buffer.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!next.empty()) std::memcpy(buffer, next.data(), next.size());
  if (read) *read = static_cast<DWORD>(next.size());
  queued_ -= next.size();
  queue_.pop_front();
  return TRUE;
}

void MailslotServer::DrainLoop(int watched, int wake) {
  epoll_event events[2];
  for (;;) {
    const int ready = ::epoll_wait(watched, events, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return;
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.fd == wake) return;
    }
    MutexLock guard(lock_);
    // A reader that took the socket over since the arrival reads it itself.
    if (readerWatches_ || !DrainLocked()) continue;
    // Woken after the lock is free, a waiting reader need not wait for it.
    guard.Unlock();
    arrived_.NotifyAll();
  }
}

bool MailslotServer::DrainerWatches(bool watch) {
  // Changing a registration allocates nothing, so this fails only on a
  // descriptor that is not the set's: never while the server lives.
  epoll_event event{watch ? static_cast<uint32_t>(EPOLLIN) : 0u, {}};
  event.data.fd = socket_.get();
  return ::epoll_ctl(watched_.get(), EPOLL_CTL_MOD, socket_.get(), &event) == 0;
}

void MailslotServer::AnnounceLocked() {
  arrived_.NotifyAll();
  if (readerWatches_) Signal(readerWake_.get());
}

bool MailslotServer::DrainLocked() {
  if (!socket_.valid()) return false;
  if (!batch_) return DrainEachLocked();
  // A batch per system call, each datagram into room of the largest size
  // kept: one that does not fit is longer than that and is dropped whole
  // (MSG_TRUNC reports its full length).
  iovec vectors[kBatch];
  mmsghdr messages[kBatch];
  bool kept = false;
  for (;;) {
    for (unsigned i = 0; i < kBatch; ++i) {
      vectors[i] = {batch_.get() + size_t{i} * maxSize_, maxSize_};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int got = ::recvmmsg(socket_.get(), messages, kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return kept;  // EAGAIN: nothing more waits
    for (int i = 0; i < got; ++i) {
      const size_t length = messages[i].msg_len;
      if ((messages[i].msg_hdr.msg_flags & MSG_TRUNC) || length > maxSize_) continue;
      const char* bytes = static_cast<const char*>(vectors[i].iov_base);
      if (KeepLocked(std::vector<char>(bytes, bytes + length))) kept = true;
    }
    // A short batch emptied the socket; what came since wakes the drainer.
    if (got < static_cast<int>(kBatch)) return kept;
  }
}

bool MailslotServer::DrainEachLocked() {
  bool kept = false;
  for (;;) {
    // MSG_TRUNC with MSG_PEEK reports the datagram's full length.
    ssize_t length = ::recv(socket_.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0) {
      if (errno == EINTR) continue;
      return kept;  // EAGAIN: nothing more waits
    }
    std::vector<char> message(static_cast<size_t>(length));
    ssize_t got;
    do {
      got = ::recv(socket_.get(), message.data(), message.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return kept;
    message.resize(static_cast<size_t>(got));
    if (KeepLocked(std::move(message))) kept = true;
  }
}

bool MailslotServer::KeepLocked(std::vector<char> message) {
  // Too big for this slot: dropped, as Windows drops such a remote write.
  if (maxSize_ != 0 && message.size() > maxSize_) return false;
  if (queued_ + message.size() > kQueueLimit) return false;
  queued_ += message.size();
  queue_.push_back(std::move(message));
  return true;
}

HANDLE CreateServer(const std::string& workgroup, const std::string& computer,
                    const std::string& name, DWORD maxSize, DWORD timeout) {
  std::string slot = lan_names::Fold(name);
  if (!IsUsableComponent(slot) || !IsUsableComponent(computer) || !IsUsableComponent(workgroup)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::string lan;
  if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
  std::string folder;
  if (!ComputerFolder(lan, workgroup, computer, &folder)) return INVALID_HANDLE_VALUE;

  // The folder lock makes "is a live server there? else reclaim and bind"
  // one step among processes of this machine.
  Fd lock(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock.valid()) {
    SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      return INVALID_HANDLE_VALUE;
    }
  }
  std::string path = folder + "/" + slot;
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode) || SocketIsLive(path)) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    // Left behind by a process that is gone: reclaim it.
    ::unlink(path.c_str());
  }
  auto server = std::make_shared<MailslotServer>(maxSize, timeout);
  if (!server->Bind(path)) return INVALID_HANDLE_VALUE;
  if (RealLanSelected()) {
    // On the real LAN the computer's name must be this machine's: the
    // bridge registers it and refuses when another machine holds it, and
    // the slot goes away again. Others may open slots meanwhile.
    lock.Reset();
    DWORD refused = BridgeClaim(workgroup, computer);
    if (refused != ERROR_SUCCESS) {
      SetLastError(refused);
      return INVALID_HANDLE_VALUE;
    }
  }
  LocalServers::Get().Add(path, server);
  return RegisterHandle(std::move(server));
}

bool DeliverInProcess(const std::string& path, const void* buffer, DWORD size) {
  std::shared_ptr<MailslotServer> server = LocalServers::Get().Find(path);
  if (!server) return false;
  server->Accept(buffer, size);
  return true;
}

bool DeliverInProcess(Peer& peer, const void* buffer, DWORD size) {
  LocalServers& servers = LocalServers::Get();
  if (peer.notLocalAt.load(std::memory_order_acquire) == servers.Generation()) return false;
  uint64_t generation = 0;
  std::shared_ptr<MailslotServer> server = servers.Find(peer.path, &generation);
  if (!server) {
    peer.notLocalAt.store(generation, std::memory_order_release);
    return false;
  }
  server->Accept(buffer, size);
  return true;
}

}  // namespace vask::platform
