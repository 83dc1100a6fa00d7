// One host per profile: a lock taken on `<profile>.lock` at start and held
// until the process ends, so that a second vask-host on the same profile is
// refused instead of writing over the first one's settings and history.
#pragma once

#include <string>

namespace vask::host {

class ProfileLock {
 public:
  // Takes the lock of the profile at `path` (none for ":memory:"). The lock
  // is the system's (flock), so the lock of a process that died is free.
  explicit ProfileLock(const std::string& path);
  ~ProfileLock();
  ProfileLock(const ProfileLock&) = delete;
  ProfileLock& operator=(const ProfileLock&) = delete;

  // False when another process holds the profile; error() then says which,
  // in Polish. A lock file that cannot be made (a folder the user may only
  // read) takes no lock and is no refusal: the profile's own checks speak.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace vask::host
