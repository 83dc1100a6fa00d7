#include "tests/support/temp_lan.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vask::test {

std::string MakeTempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return "";
  return buffer.data();
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  if (!path.empty()) std::filesystem::remove_all(path, error);
}

std::string BuildDir() {
  if (const char* dir = std::getenv("VASK_BUILD_DIR"); dir && *dir) return dir;
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "." : program.parent_path().parent_path().string();
}

TempLan::TempLan(const std::string& computer, const std::string& workgroup,
                 const std::string& prefix)
    : dir_(MakeTempDir(prefix)) {
  if (dir_.empty()) return;
  Set("VASK_LAN_DIR", dir_.c_str());
  Set("COMPUTERNAME", computer.c_str());
  Set("VASK_WORKGROUP", workgroup.empty() ? nullptr : workgroup.c_str());
  // Remote mailslots are on unless a test switches them off.
  Set("VASK_REMOTE_MAILSLOTS", nullptr);
  // No UDP: copies of parallel tests on one machine would hear each
  // other's frames on the one port. The network-namespace tests have it.
  Set("VASK_UDP", "off");
}

TempLan::~TempLan() {
  // Each variable was saved once, with its value from before.
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  RemoveTree(dir_);
}

void TempLan::Set(const char* name, const char* value) {
  const bool known = std::any_of(saved_.begin(), saved_.end(),
                                 [name](const auto& entry) { return entry.first == name; });
  if (!known) {
    const char* before = std::getenv(name);
    saved_.emplace_back(name, before ? std::optional<std::string>(before) : std::nullopt);
  }
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace vask::test
