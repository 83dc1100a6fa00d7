// Internals shared by the files of the POSIX platform library: the error
// translator, owning wrappers for descriptors, the handle table and the
// emulated LAN's names and folders. Nothing here is exported.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "win32.h"

namespace vask::platform {

// The one errno -> GetLastError translation of this library.
DWORD ErrorFromErrno(int error);
// SetLastError(ErrorFromErrno(errno)); returns the code.
DWORD SetLastErrorFromErrno();

// Owns one file descriptor (socket, lock, eventfd); closed on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);  // close is not retried on EINTR: Linux frees the fd anyway
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Owns one directory stream.
class Dir {
 public:
  explicit Dir(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~Dir() {
    if (dir_) ::closedir(dir_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  bool valid() const { return dir_ != nullptr; }
  // The next entry's name other than "." and "..", or false at the end.
  bool Next(std::string* name);

 private:
  DIR* dir_;
};

// The objects behind HANDLE values. A handle is the object's address; the
// table below keeps every live one, so a stale or made-up handle is refused
// with ERROR_INVALID_HANDLE instead of being dereferenced.
enum class Kind { kMailslotServer, kMailslotClient, kThread, kNetEnum, kBridgeClient };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  // Called once by CloseHandle before the table lets go: wakes any thread
  // still blocked on the object.
  virtual void Shutdown() {}
  const Kind kind;
};

// Enters the object into the table and returns its handle.
HANDLE RegisterHandle(std::shared_ptr<Object> object);
// The live object of that kind behind a handle, or null with
// ERROR_INVALID_HANDLE set.
std::shared_ptr<Object> LookupHandle(HANDLE handle, Kind kind);
// The live object behind a handle whatever its kind, or null (nothing set).
std::shared_ptr<Object> LookupAnyHandle(HANDLE handle);

// The emulated LAN.
std::string UpperName(const std::string& name);  // ASCII upper case, at most 15 characters
std::string OwnComputerName();
std::string OwnWorkgroup();
// A single path component we can use: not empty, no '/', not "." or "..".
bool IsUsableComponent(const std::string& name);
bool IsFolder(const std::string& path);
// The folders in parent whose names match name without regard to case
// (lan_names.h), name itself first when it is one; none when there are none.
std::vector<std::string> FoldersNamed(const std::string& parent, const std::string& name);

// The most data one write to another computer or to "*" carries, as
// between Windows computers and through vask-bridge: a longer one fails with
// ERROR_BAD_NETPATH, the code both give.
inline constexpr DWORD kMaxRemoteWrite = 424;
// VASK_REMOTE_MAILSLOTS=off (or 0): remote mailslots are switched off on this
// computer, as newer Windows ships them; opens of and writes to another
// computer's slot or "*" fail with ERROR_REMOTE_MAILSLOTS_DEPRECATED.
bool RemoteMailslotsOff();
// The LAN directory, created 0700 when missing. False with ERROR_ACCESS_DENIED
// when it is not ours alone, or another error when it cannot be made.
bool LanDirectory(std::string* path);
// Hands one datagram to the server that the connected socket leads to,
// without waiting: when the receiver's queue is full, the datagram waits in
// this process's outbox behind any earlier ones for that receiver, and is
// lost when those fill the outbox's share (outbox.cpp). ERROR_SUCCESS when
// it was sent or kept, else the code of the failed send (the socket is
// then still the caller's).
DWORD SendOrKeep(Fd& connected, const std::string& path, const void* buffer, DWORD size);

// A datagram socket connected to the live server bound at the socket path,
// or an invalid Fd when none is (a symbolic link is not followed).
Fd ConnectLive(const std::string& path);
// True when a live server is bound at the socket path (a connect test).
bool SocketIsLive(const std::string& path);
// The workgroup folders' names, sorted.
std::vector<std::string> ListDirectory(const std::string& path);

// The real LAN through vask-bridge (bridge_client.cpp). VASK_REAL_LAN set
// (and not "0") selects it; otherwise none of these are reached.
bool RealLanSelected();
// A client on a computer that is not in the LAN directory: the bridge must
// resolve it. INVALID_HANDLE_VALUE with ERROR_BAD_NETPATH when it does not
// or no bridge runs.
HANDLE OpenBridgeClient(const std::string& computer, const std::string& slot);
BOOL WriteBridgeClient(Object* client, const void* buffer, DWORD size, LPDWORD written);
// A write to "*" carried to the network; the GetLastError code.
DWORD BridgeBroadcast(const std::string& slot, const void* buffer, DWORD size);
// A server slot of a computer was opened: with a bridge running, it checks
// that the computer's name is this machine's on the network (registering
// it first). ERROR_SUCCESS, or the bridge's refusal (ERROR_DUP_NAME: another
// machine holds the name). No bridge, or one that does not answer, is no
// refusal: the emulated LAN goes on without the network.
DWORD BridgeClaim(const std::string& workgroup, const std::string& computer);
// A computer of a workgroup that the bridge has heard of, with the comment
// it announced (empty when none).
struct BridgeNeighbour {
  std::string name;
  std::string comment;
};
std::vector<BridgeNeighbour> BridgeNeighbours(const std::string& lan, const std::string& workgroup);

}  // namespace vask::platform
