// Temporary folders, the build's folder, and a fresh emulated LAN for the
// running process.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vask::test {

// A new empty directory $TMPDIR/<prefix>-XXXXXX (/tmp without TMPDIR); ""
// when it cannot be made.
std::string MakeTempDir(const std::string& prefix);

// Deletes a directory tree; quiet when it is gone already or `path` is "".
void RemoveTree(const std::string& path);

// The top of the build: $VASK_BUILD_DIR, else the parent of the running
// program's folder (the test binaries lie in <build>/tests, the libraries
// and vask-host in <build>).
std::string BuildDir();

// A private LAN directory for this process, which becomes computer
// `computer` of workgroup `workgroup` there (VASK_LAN_DIR, COMPUTERNAME,
// VASK_WORKGROUP; an empty workgroup unsets it, leaving the platform's
// default), with remote mailslots on (VASK_REMOTE_MAILSLOTS unset) and no UDP
// (VASK_UDP=off). When it goes, the environment
// is put back as it was and the directory is deleted.
class TempLan {
 public:
  explicit TempLan(const std::string& computer = "A", const std::string& workgroup = "WORKGROUP",
                   const std::string& prefix = "vask-lan");
  ~TempLan();
  TempLan(const TempLan&) = delete;
  TempLan& operator=(const TempLan&) = delete;

  // False when the directory could not be made (nothing was changed then).
  bool ok() const { return !dir_.empty(); }
  const std::string& dir() const { return dir_; }

  // Changes one of the variables for the rest of this LAN's life (restored
  // with the others); null unsets it.
  void Set(const char* name, const char* value);

 private:
  std::string dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vask::test
