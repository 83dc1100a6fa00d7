// The outbox: datagrams that a receiver could not take at once.
//
// A server's socket takes only a few datagrams ahead of its drainer thread
// (the kernel's queue of a datagram socket: net.unix.max_dgram_qlen, 10 by
// default). A live receiver's drainer empties it at once; a stopped process
// (Ctrl-Z) never does. A mailslot write waits for neither, as a datagram on
// a network waits for nobody: a datagram the socket refuses waits here,
// behind the earlier ones for the same receiver, and one thread hands them
// over as room appears there. A receiver whose share of the outbox is full
// loses further datagrams, as a busy computer loses them on a network; one
// that has gone loses what waited for it.
#include "outbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "descriptors.h"
#include "errors.h"
#include "mutex.h"

namespace vask::platform {
namespace {

// One receiver's share: a stopped one holds at most this much of each
// writer's memory (and one socket) until it goes on or goes away. The
// count is high enough that a receiver only starved of CPU for a while
// (two hosts answering each other's streams on a loaded machine, each
// message answered twice) loses nothing; the bytes bound the memory.
constexpr size_t kHeldDatagrams = 4096;
constexpr size_t kHeldBytes = 1u << 20;
constexpr size_t kHeldReceivers = 64;

struct Waiting {
  Fd socket;  // connected to the receiver; its poll says when room appears
  std::deque<std::vector<char>> datagrams;
  size_t bytes = 0;
};

class Outbox {
 public:
  // Never destroyed: its thread may run on while the process exits, and
  // what still waits then is lost, as on a network.
  static Outbox& Get() {
    static Outbox* const outbox = new Outbox;
    return *outbox;
  }

  // True when datagrams wait for the receiver at path: this one then waits
  // behind them (or is lost when the receiver's share is full), so that a
  // writer's datagrams arrive in the order it wrote them.
  bool QueueBehind(const std::string& path, const void* buffer, DWORD size) {
    if (receivers_.load(std::memory_order_acquire) == 0) return false;
    MutexLock guard(lock_);
    auto found = waiting_.find(path);
    if (found == waiting_.end()) return false;
    AddLocked(found->second, buffer, size);
    return true;
  }

  // Keeps a datagram that the receiver behind the connected socket refused
  // for now; the socket is the outbox's from here on.
  void Keep(Fd socket, const std::string& path, const void* buffer, DWORD size) {
    MutexLock guard(lock_);
    auto found = waiting_.find(path);
    if (found == waiting_.end()) {
      if (waiting_.size() >= kHeldReceivers || !StartLocked()) return;  // lost
      found = waiting_.emplace(path, Waiting{}).first;
      found->second.socket = std::move(socket);
      receivers_.store(waiting_.size(), std::memory_order_release);
      uint64_t one = 1;
      ssize_t ignored = ::write(wake_.get(), &one, sizeof one);  // poll the new socket too
      (void)ignored;
    }
    AddLocked(found->second, buffer, size);
  }

 private:
  Outbox() = default;

  static void AddLocked(Waiting& waiting, const void* buffer, DWORD size) {
    if (waiting.datagrams.size() >= kHeldDatagrams || waiting.bytes + size > kHeldBytes) return;
    const char* bytes = static_cast<const char*>(buffer);
    waiting.datagrams.emplace_back(bytes, bytes + size);
    waiting.bytes += size;
  }

  bool StartLocked() REQUIRES(lock_) {
    if (started_) return true;
    wake_ = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_.valid()) return false;
    std::thread([this] { Run(); }).detach();
    started_ = true;
    return true;
  }

  void Run() {
    std::vector<pollfd> fds;
    std::vector<std::string> paths;
    for (;;) {
      paths.clear();
      {
        MutexLock guard(lock_);
        fds.assign(1, pollfd{wake_.get(), POLLIN, 0});
        for (const auto& [path, waiting] : waiting_) {
          fds.push_back(pollfd{waiting.socket.get(), POLLOUT, 0});
          paths.push_back(path);
        }
      }
      // Only this thread closes the sockets polled here, so every one of
      // them stays open until it looks again.
      int ready;
      do {
        ready = ::poll(fds.data(), fds.size(), -1);
      } while (ready < 0 && errno == EINTR);
      if (ready < 0) {
        GiveUp();
        return;
      }
      if (fds[0].revents & POLLIN) {
        uint64_t count;
        ssize_t ignored = ::read(fds[0].fd, &count, sizeof count);
        (void)ignored;
      }
      MutexLock guard(lock_);
      for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        auto found = waiting_.find(paths[i - 1]);
        if (found != waiting_.end()) HandOverLocked(found);
      }
      receivers_.store(waiting_.size(), std::memory_order_release);
    }
  }

  // The thread cannot wait for room any more (poll failed other than by a
  // signal: no memory, or more sockets than the process may poll): what
  // waits is lost, as on a network, and the thread ends. The next datagram
  // a receiver refuses starts a fresh one.
  void GiveUp() {
    MutexLock guard(lock_);
    waiting_.clear();
    receivers_.store(0, std::memory_order_release);
    wake_.Reset();
    started_ = false;
  }

  // Sends what waits for one receiver until its queue is full again; the
  // receiver is forgotten when nothing is left or it has gone. Sends never
  // block, and happen under the lock so that no writer's new datagram can
  // pass one that waited.
  void HandOverLocked(std::map<std::string, Waiting>::iterator found) REQUIRES(lock_) {
    Waiting& waiting = found->second;
    while (!waiting.datagrams.empty()) {
      const std::vector<char>& next = waiting.datagrams.front();
      ssize_t sent =
          ::send(waiting.socket.get(), next.data(), next.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno == EAGAIN) return;
      if (sent < 0) break;  // the receiver has gone (or was bound anew): the rest is lost
      waiting.bytes -= next.size();
      waiting.datagrams.pop_front();
    }
    waiting_.erase(found);
  }

  Mutex lock_;
  // By the receiver's socket path.
  std::map<std::string, Waiting> waiting_ GUARDED_BY(lock_);
  bool started_ GUARDED_BY(lock_) = false;
  Fd wake_ GUARDED_BY(lock_);         // counts new receivers for the thread's poll
  std::atomic<size_t> receivers_{0};  // waiting_.size(), read without the lock
};

}  // namespace

int SendOrKeep(int connected, const std::string& path, const void* buffer, DWORD size) {
  Outbox& outbox = Outbox::Get();
  if (outbox.QueueBehind(path, buffer, size)) return 0;
  for (;;) {
    ssize_t sent = ::send(connected, buffer, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return errno;
    // The receiver's queue is full: the writer goes on, the datagram waits
    // (lost when no descriptor is left for the outbox's copy).
    Fd copy(::fcntl(connected, F_DUPFD_CLOEXEC, 0));
    if (copy.valid()) outbox.Keep(std::move(copy), path, buffer, size);
    return 0;
  }
}

}  // namespace vask::platform
