// The emulated LAN's names and folders, and GetComputerNameA.
#include "lan.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "descriptors.h"
#include "environment.h"
#include "errors.h"
#include "lan_dir.h"
#include "lan_names.h"

namespace vask::platform {
namespace {

// A name made from one environment variable, kept per thread while the
// variable's value is the same string.
struct NameFromValue {
  const char* value = nullptr;
  bool made = false;
  std::string name;
};

}  // namespace

bool Dir::Next(std::string* name) {
  if (!dir_) return false;
  while (dirent* entry = ::readdir(dir_)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    *name = entry->d_name;
    return true;
  }
  return false;
}

std::string UpperName(const std::string& name) {
  std::string upper = name.substr(0, MAX_COMPUTERNAME_LENGTH);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string OwnComputerName() {
  const char* value = EnvironmentValue("COMPUTERNAME");
  if (value && *value) {
    thread_local NameFromValue own;
    if (!own.made || own.value != value) own = {value, true, UpperName(value)};
    return own.name;
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "LOCALHOST";
  std::string name(host);
  name = name.substr(0, name.find('.'));
  return name.empty() ? std::string("LOCALHOST") : UpperName(name);
}

std::string OwnWorkgroup() {
  const char* value = EnvironmentValue("VASK_WORKGROUP");
  thread_local NameFromValue group;
  if (!group.made || group.value != value) {
    group = {value, true, UpperName(value && *value ? value : "WORKGROUP")};
  }
  return group.name;
}

bool IsUsableComponent(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    return false;
  }
  // The name is one file here, but Windows reads "." and ".." between its
  // backslashes as steps of a path ("..\\..\\x" leaves the mailslots).
  size_t start = 0;
  for (;;) {
    const size_t end = name.find('\\', start);
    const std::string_view part =
        std::string_view(name).substr(start, end == std::string::npos ? end : end - start);
    if (part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> FoldersNamed(const std::string& parent, const std::string& name) {
  std::vector<std::string> found;
  if (!IsUsableComponent(name)) return found;
  if (IsFolder(parent + "/" + name)) found.push_back(name);
  // A folder made by another hand ("workgroup", "Pc2") is the same one.
  for (const std::string& entry : ListDirectory(parent)) {
    if (entry != name && lan_names::Same(entry, name) && IsFolder(parent + "/" + entry)) {
      found.push_back(entry);
    }
  }
  return found;
}

bool RemoteMailslotsOff() {
  const char* value = EnvironmentValue("VASK_REMOTE_MAILSLOTS");
  if (!value) return false;
  return std::strcmp(value, "0") == 0 || lan_names::Same(value, "off");
}

const std::string& LanPath() {
  thread_local NameFromValue path;
  thread_local const char* runtimeSeen = nullptr;
  const char* lan = EnvironmentValue("VASK_LAN_DIR");
  const char* runtime = EnvironmentValue("XDG_RUNTIME_DIR");
  if (!path.made || path.value != lan || runtimeSeen != runtime) {
    path = {lan, true, lan_dir::PathFrom(lan, runtime)};
    runtimeSeen = runtime;
  }
  return path.name;
}

bool LanDirectory(std::string* path) {
  const std::string dir = LanPath();
  const lan_dir::Check check = lan_dir::Prepare(dir);
  if (check.verdict == lan_dir::Verdict::kCannotMake) {
    SetLastError(ErrorFromErrno(check.error));
    return false;
  }
  if (!check.usable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *path = dir;
  return true;
}

Fd ConnectLive(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return Fd();
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return Fd();
  Fd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!probe.valid()) return Fd();
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // A socket file whose process is gone refuses the connection.
  int result;
  do {
    result = ::connect(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? std::move(probe) : Fd();
}

bool SocketIsLive(const std::string& path) { return ConnectLive(path).valid(); }

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  Dir dir(path);
  std::string name;
  while (dir.Next(&name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vask::platform

extern "C" {

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name = vask::platform::OwnComputerName();
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), needed);
  *size = needed - 1;
  return TRUE;
}

}  // extern "C"
