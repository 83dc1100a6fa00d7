// Where the emulated LAN's server slots are (slot_paths.h).
#include "slot_paths.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "errors.h"
#include "lan.h"
#include "lan_names.h"

namespace vask::platform {
namespace {

// mkdir that accepts an existing folder; the LAN's folders are private.
bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
  SetLastErrorFromErrno();
  return false;
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

}  // namespace

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

bool ComputerFolder(const std::string& lan, const std::string& workgroup,
                    const std::string& computer, std::string* folder) {
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
  *folder = lan + "/" + groupName + "/" + computerName;
  return MakeFolder(lan + "/" + groupName) && MakeFolder(*folder);
}

Fd FindNamedServer(const std::string& lan, const std::string& computer, const std::string& slot,
                   std::string* path, bool* computerSeen) {
  const std::string own = OwnWorkgroup();
  // Nearly every receiver is in the own workgroup under the names this
  // library gives its folders: tried without listing the LAN, the other
  // folders only when it has no such server.
  Fd live = ConnectInGroup(lan, own, computer, slot, path, computerSeen);
  if (live.valid()) return live;
  std::vector<std::string> groups = ListDirectory(lan);
  std::stable_partition(groups.begin(), groups.end(),
                        [&own](const std::string& group) { return lan_names::Same(group, own); });
  for (const std::string& group : groups) {
    for (const std::string& folder : FoldersNamed(lan + "/" + group, computer)) {
      if (group == own && folder == computer) continue;  // tried above
      live = ConnectInGroup(lan, group, folder, slot, path, computerSeen);
      if (live.valid()) return live;
    }
  }
  return live;
}

}  // namespace vask::platform
