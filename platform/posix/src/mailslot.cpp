// Mailslots over the emulated LAN: CreateMailslotA, GetMailslotInfo,
// CreateFileA, ReadFile, WriteFile.
//
// A server slot is an AF_UNIX datagram socket bound at
// <LAN>/<WORKGROUP>/<COMPUTER>/<slot>. A drainer thread moves every datagram
// into a queue owned by the server handle as soon as it arrives, which gives
// GetMailslotInfo an exact count (the socket alone tells only the next size);
// a write to a server of the same process goes straight into that queue.
// Otherwise a client handle's first write goes on the socket that proved its server
// live at the open (a broadcast's, on the sockets that proved each receiver
// live at the write); other writes, and one whose server has gone since, on
// a fresh socket per receiver.
//
// A real network's rules hold. A write to another computer or to "*"
// carries at most kMaxRemoteWrite bytes and fails when remote mailslots are
// switched off; one to a slot of the own computer keeps the server's own
// limit. A write never waits for a receiver: what a full receiver cannot
// take waits in the outbox or is lost (outbox.cpp), and the writer and the
// other receivers of a broadcast go on at once. Workgroup, computer and slot
// names match without regard to case (lan_names.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "internal.h"
#include "lan_names.h"

namespace vask::platform {
namespace {

// Bytes a server keeps queued for its reader before it drops new arrivals,
// so a slot nobody reads cannot eat the machine's memory.
constexpr size_t kQueueLimit = 16u << 20;
constexpr int kReceiveBuffer = 4 << 20;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    char a = *text, b = *prefix;
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  if (path.size() >= sizeof address->sun_path) return false;
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// mkdir that accepts an existing folder; the LAN's folders are private.
bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  SetLastErrorFromErrno();
  return false;
}

class MailslotServer;

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
    std::lock_guard<std::mutex> guard(lock_);
    servers_[path] = server;
  }
  void Remove(const std::string& path, const MailslotServer* server) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = servers_.find(path);
    if (found == servers_.end()) return;
    std::shared_ptr<MailslotServer> live = found->second.lock();
    if (!live || live.get() == server) servers_.erase(found);
  }
  std::shared_ptr<MailslotServer> Find(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = servers_.find(path);
    return found == servers_.end() ? nullptr : found->second.lock();
  }

 private:
  std::mutex lock_;
  std::map<std::string, std::weak_ptr<MailslotServer>> servers_;
};

class MailslotServer : public Object {
 public:
  MailslotServer(DWORD maxSize, DWORD timeout)
      : Object(Kind::kMailslotServer), maxSize_(maxSize), timeout_(timeout) {}
  ~MailslotServer() override { Shutdown(); }

  // Binds the socket at path (the caller holds the computer's folder lock)
  // and starts the drainer. False with the error set.
  bool Bind(const std::string& path) {
    sockaddr_un address;
    if (!FillAddress(path, &address)) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    socket_ = Fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    wake_ = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!socket_.valid() || !wake_.valid()) {
      SetLastErrorFromErrno();
      return false;
    }
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      SetLastErrorFromErrno();
      return false;
    }
    path_ = path;
    // Capped by the system's limit; AF_UNIX counts queued datagrams mostly
    // against the sender, but a roomy receive buffer costs nothing.
    int size = kReceiveBuffer;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    drainer_ = std::thread([this] { DrainLoop(); });
    return true;
  }

  void Shutdown() override {
    std::unique_lock<std::mutex> guard(lock_);
    if (shutDown_) return;
    shutDown_ = true;
    guard.unlock();
    if (!path_.empty()) LocalServers::Get().Remove(path_, this);
    if (drainer_.joinable()) {
      uint64_t one = 1;
      ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
      (void)ignored;
      drainer_.join();
    }
    // Unlink before closing: while we are alive nobody else binds here, so
    // the file is still ours.
    if (!path_.empty()) ::unlink(path_.c_str());
    socket_.Reset();
    guard.lock();
    arrived_.notify_all();
  }

  // A write from this process: queued at once, by the rules a datagram
  // from the socket keeps.
  void Accept(const void* buffer, DWORD size) {
    std::lock_guard<std::mutex> guard(lock_);
    if (shutDown_) return;
    const char* bytes = static_cast<const char*>(buffer);
    // What came by the socket before came first.
    DrainLocked();
    if (KeepLocked(std::vector<char>(bytes, bytes + size))) arrived_.notify_all();
  }

  BOOL Info(LPDWORD maxSize, LPDWORD nextSize, LPDWORD count, LPDWORD timeout) {
    std::lock_guard<std::mutex> guard(lock_);
    DrainLocked();
    if (maxSize) *maxSize = maxSize_;
    if (nextSize) *nextSize = queue_.empty() ? MAILSLOT_NO_MESSAGE : static_cast<DWORD>(queue_.front().size());
    if (count) *count = static_cast<DWORD>(queue_.size());
    if (timeout) *timeout = timeout_;
    return TRUE;
  }

  BOOL Read(void* buffer, DWORD toRead, LPDWORD read) {
    if (read) *read = 0;
    std::unique_lock<std::mutex> guard(lock_);
    DrainLocked();
    if (queue_.empty() && timeout_ != 0) {
      auto ready = [this] { return !queue_.empty() || shutDown_; };
      if (timeout_ == MAILSLOT_WAIT_FOREVER) {
        arrived_.wait(guard, ready);
      } else {
        arrived_.wait_for(guard, std::chrono::milliseconds(timeout_), ready);
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

 private:
  void DrainLoop() {
    pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
    for (;;) {
      int ready = ::poll(fds, 2, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || (fds[1].revents & POLLIN)) return;
      std::lock_guard<std::mutex> guard(lock_);
      if (DrainLocked()) arrived_.notify_all();
    }
  }

  // Moves every waiting datagram into the queue; true if any was kept.
  bool DrainLocked() {
    if (!socket_.valid()) return false;
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

  // Queues one message for the reader; false when it is dropped.
  bool KeepLocked(std::vector<char> message) {
    // Too big for this slot: dropped, as Windows drops such a remote write.
    if (maxSize_ != 0 && message.size() > maxSize_) return false;
    if (queued_ + message.size() > kQueueLimit) return false;
    queued_ += message.size();
    queue_.push_back(std::move(message));
    return true;
  }

  const DWORD maxSize_;
  const DWORD timeout_;
  std::string path_;
  Fd socket_;
  Fd wake_;
  std::thread drainer_;
  std::mutex lock_;  // guards everything below
  std::condition_variable arrived_;
  std::deque<std::vector<char>> queue_;
  size_t queued_ = 0;
  bool shutDown_ = false;
};

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

// Hands the datagram to the server at path when it is one of this
// process's; false when it is not.
bool DeliverInProcess(const std::string& path, const void* buffer, DWORD size) {
  std::shared_ptr<MailslotServer> server = LocalServers::Get().Find(path);
  if (!server) return false;
  server->Accept(buffer, size);
  return true;
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

// Whether a write to another computer may go: remote mailslots switched on,
// and no more data than one remote write carries. False with the error set.
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

class MailslotClient : public Object {
 public:
  // Every computer of the own workgroup having slot.
  explicit MailslotClient(std::string slot)
      : Object(Kind::kMailslotClient), broadcast_(true), remote_(true), slot_(std::move(slot)) {}
  // The server at path, which `live` is connected to: the open's proof that
  // the server is live carries the first write. `remote`: another
  // computer's slot, not the own computer's.
  MailslotClient(std::string slot, std::string path, Fd live, bool remote)
      : Object(Kind::kMailslotClient), broadcast_(false), remote_(remote), slot_(std::move(slot)),
        path_(std::move(path)), live_(std::move(live)) {}

  BOOL Write(const void* buffer, DWORD size, LPDWORD written) {
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
      std::lock_guard<std::mutex> guard(liveLock_);
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

 private:
  const bool broadcast_;
  const bool remote_;
  const std::string slot_;
  const std::string path_;
  std::mutex liveLock_;  // guards live_, which writers on other threads share
  Fd live_;
};

// Creates the server slot on a computer of a workgroup of the LAN.
HANDLE CreateServer(const std::string& workgroup, const std::string& computer,
                    const std::string& name, DWORD maxSize, DWORD timeout) {
  std::string slot = lan_names::Fold(name);
  if (!IsUsableComponent(slot) || !IsUsableComponent(computer) || !IsUsableComponent(workgroup)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::string lan;
  if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
  // The computer's folder wherever it is already, in whatever case; else
  // made under the names given.
  std::string groupName = workgroup;
  std::string computerName = computer;
  std::vector<std::string> groups = FoldersNamed(lan, workgroup);
  if (!groups.empty()) groupName = groups.front();
  for (const std::string& group : groups) {
    std::vector<std::string> computers = FoldersNamed(lan + "/" + group, computer);
    if (!computers.empty()) {
      groupName = group;
      computerName = computers.front();
      break;
    }
  }
  std::string folder = lan + "/" + groupName + "/" + computerName;
  if (!MakeFolder(lan + "/" + groupName) || !MakeFolder(folder)) return INVALID_HANDLE_VALUE;

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

// The live server of slot on a computer in one workgroup folder, connected
// (an invalid Fd when there is none); *seen is set when the computer's
// folder is there.
Fd ConnectInGroup(const std::string& lan, const std::string& group, const std::string& computer,
                  const std::string& slot, std::string* path, bool* seen) {
  std::string folder = lan + "/" + group + "/" + computer;
  *path = folder + "/" + slot;
  // A socket found under the folder proves the folder is there; only
  // without one is the folder looked at itself.
  Fd live = ConnectLive(*path);
  struct stat info {};
  if (live.valid() || (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) *seen = true;
  return live;
}

// Opens the client side of slot on one named computer, in any workgroup,
// this computer's own workgroup first; folders match without regard to case.
HANDLE OpenNamedClient(const std::string& computer, const std::string& slot, bool remote) {
  std::string lan;
  if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
  const std::string own = OwnWorkgroup();
  bool computerSeen = false;
  std::string path;
  // Nearly every receiver is in the own workgroup under the names this
  // library gives its folders: tried without listing the LAN, the other
  // folders only when it has no such server.
  Fd live = ConnectInGroup(lan, own, computer, slot, &path, &computerSeen);
  if (!live.valid()) {
    std::vector<std::string> groups = ListDirectory(lan);
    std::stable_partition(groups.begin(), groups.end(),
                          [&own](const std::string& group) { return lan_names::Same(group, own); });
    for (const std::string& group : groups) {
      for (const std::string& folder : FoldersNamed(lan + "/" + group, computer)) {
        if (group == own && folder == computer) continue;  // tried above
        live = ConnectInGroup(lan, group, folder, slot, &path, &computerSeen);
        if (live.valid()) break;
      }
      if (live.valid()) break;
    }
  }
  if (live.valid()) {
    return RegisterHandle(std::make_shared<MailslotClient>(slot, path, std::move(live), remote));
  }
  if (!computerSeen && RealLanSelected()) return OpenBridgeClient(computer, slot);
  SetLastError(computerSeen ? ERROR_FILE_NOT_FOUND : ERROR_BAD_NETPATH);
  return INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace vask::platform

extern "C" {

HANDLE WINAPI CreateMailslotA(LPCSTR name, DWORD maxMessageSize, DWORD readTimeout,
                              LPSECURITY_ATTRIBUTES) {
  using namespace vask::platform;
  static const char kPrefix[] = "\\\\.\\mailslot\\";
  if (!name || !StartsWithNoCase(name, kPrefix)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return CreateServer(OwnWorkgroup(), OwnComputerName(), name + sizeof kPrefix - 1, maxMessageSize,
                      readTimeout);
}

HANDLE VaskCreateMailslotOn(LPCSTR computer, LPCSTR name, DWORD maxMessageSize) {
  using namespace vask::platform;
  if (!computer || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return CreateServer(OwnWorkgroup(), UpperName(computer), name, maxMessageSize, 0);
}

BOOL WINAPI GetMailslotInfo(HANDLE slot, LPDWORD maxMessageSize, LPDWORD nextSize,
                            LPDWORD messageCount, LPDWORD readTimeout) {
  using namespace vask::platform;
  auto object = LookupHandle(slot, Kind::kMailslotServer);
  if (!object) return FALSE;
  return static_cast<MailslotServer*>(object.get())->Info(maxMessageSize, nextSize, messageCount,
                                                          readTimeout);
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  using namespace vask::platform;
  // \\<computer>\mailslot\<slot>: anything else is no file this layer has.
  if (!name || name[0] != '\\' || name[1] != '\\') {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  const char* computerStart = name + 2;
  const char* computerEnd = std::strchr(computerStart, '\\');
  static const char kMiddle[] = "\\mailslot\\";
  if (!computerEnd || !StartsWithNoCase(computerEnd, kMiddle)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  std::string computer(computerStart, computerEnd);
  std::string slot = vask::lan_names::Fold(computerEnd + sizeof kMiddle - 1);
  if (!IsUsableComponent(slot) || computer.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  const bool own = computer == "." || vask::lan_names::Same(UpperName(computer), OwnComputerName());
  if (!own && RemoteMailslotsOff()) {
    SetLastError(ERROR_REMOTE_MAILSLOTS_DEPRECATED);
    return INVALID_HANDLE_VALUE;
  }
  if (computer == "*") {
    std::string lan;
    if (!LanDirectory(&lan)) return INVALID_HANDLE_VALUE;
    return RegisterHandle(std::make_shared<MailslotClient>(slot));
  }
  computer = own ? OwnComputerName() : UpperName(computer);
  if (!IsUsableComponent(computer)) {
    SetLastError(ERROR_BAD_NETPATH);
    return INVALID_HANDLE_VALUE;
  }
  return OpenNamedClient(computer, slot, !own);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  using namespace vask::platform;
  auto object = LookupAnyHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->kind != Kind::kMailslotServer) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return static_cast<MailslotServer*>(object.get())->Read(buffer, toRead, read);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  using namespace vask::platform;
  auto object = LookupAnyHandle(file);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (object->kind == Kind::kBridgeClient) {
    // Always another computer's slot; the bridge would refuse the size too.
    if (written) *written = 0;
    if (!RemoteWriteAllowed(toWrite)) return FALSE;
    return WriteBridgeClient(object.get(), buffer, toWrite, written);
  }
  if (object->kind != Kind::kMailslotClient) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return static_cast<MailslotClient*>(object.get())->Write(buffer, toWrite, written);
}

}  // extern "C"
