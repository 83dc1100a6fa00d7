#include "bridge/lan_folder.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "bridge_link.h"
#include "lan_dir.h"
#include "lan_names.h"

namespace vask::bridge {
namespace {

std::vector<std::string> List(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;  // ".", "..", and our own files
    names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

bool Usable(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool IsLive(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  int fd = ConnectSlot(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::string Dotted(uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF,
                ip & 0xFF);
  return text;
}

}  // namespace

std::string DefaultLanDirectory() { return lan_dir::DefaultPath(); }

LanFolder::LanFolder(std::string lan, std::string workgroup)
    : lan_(std::move(lan)), workgroup_(CanonicalName(workgroup)) {}

std::vector<std::string> LanFolder::RunningComputers() const {
  std::vector<std::string> running;
  std::string group = lan_ + "/" + workgroup_;
  for (const std::string& computer : List(group)) {
    std::string folder = group + "/" + computer;
    for (const std::string& slot : List(folder)) {
      if (IsLive(folder + "/" + slot)) {
        running.push_back(CanonicalName(computer));
        break;
      }
    }
  }
  return running;
}

Delivery LanFolder::Deliver(const std::string& computer, const std::string& slot,
                            const std::vector<uint8_t>& data, Backlog* backlog) const {
  std::string name = CanonicalName(computer);
  // Slots are kept folded, Windows-1250 letters included, as the library
  // folds them.
  std::string lowerSlot = lan_names::Fold(slot);
  if (!Usable(name) || !Usable(lowerSlot)) return Delivery::kNoSlot;
  return backlog->Send(lan_ + "/" + workgroup_ + "/" + name + "/" + lowerSlot, name, data.data(),
                       data.size());
}

std::string LanFolder::Comment(const std::string& computer) const {
  std::string name = CanonicalName(computer);
  if (!Usable(name)) return {};
  std::ifstream file(lan_ + "/" + workgroup_ + "/" + name + "/comment");
  std::string line;
  if (!file || !std::getline(file, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line.substr(0, 43);
}

void LanFolder::WriteNeighbours(const std::vector<Neighbour>& neighbours) const {
  std::string path = lan_ + "/" + bridge_link::kNeighboursName;
  std::string temporary = path + ".new";
  {
    std::ofstream file(temporary, std::ios::trunc);
    for (const Neighbour& n : neighbours) {
      if (!bridge_link::IsListableName(n.workgroup) || !bridge_link::IsListableName(n.name)) {
        continue;
      }
      file << n.workgroup << ' ' << n.name << ' ' << Dotted(n.ip) << ' '
           << bridge_link::EscapeField(n.comment) << '\n';
    }
    if (!file) return;
  }
  GiveToOwner(temporary);
  std::rename(temporary.c_str(), path.c_str());
}

void LanFolder::RemoveNeighbours() const {
  ::unlink((lan_ + "/" + bridge_link::kNeighboursName).c_str());
}

void LanFolder::GiveToOwner(const std::string& path) const {
  struct stat info {};
  if (::geteuid() != 0 || ::stat(lan_.c_str(), &info) != 0) return;
  if (::chown(path.c_str(), info.st_uid, info.st_gid) != 0) {
    // Not fatal: root can still serve it, the owner only cannot remove it.
  }
}

}  // namespace vask::bridge
