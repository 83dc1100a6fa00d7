#include "host/profile/profile_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vask::host {

namespace {

// The process id written in a lock file, or "" when it holds none.
std::string HolderOf(int fd) {
  char text[32] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  std::string pid;
  for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i) pid += text[i];
  return pid;
}

}  // namespace

ProfileLock::ProfileLock(const std::string& path) {
  if (path.empty() || path == ":memory:") return;
  const std::string lockPath = path + ".lock";
  fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  int taken;
  do {
    taken = flock(fd_, LOCK_EX | LOCK_NB);
  } while (taken != 0 && errno == EINTR);
  if (taken != 0) {
    const std::string pid = HolderOf(fd_);
    error_ = path + ": z tego profilu korzysta już inny vask-host" +
             (pid.empty() ? std::string() : " (proces " + pid + ")") +
             "; zakończ go albo wskaż inny profil opcją --profile";
    close(fd_);
    fd_ = -1;
    return;
  }
  // Ours now, whoever held it before: our process id, for the next one
  // refused to name.
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = pwrite(fd_, pid.data(), pid.size(), 0);
  }
}

ProfileLock::~ProfileLock() {
  // The file stays: removing it could let a starting host lock a file
  // that is no longer the one the next host opens.
  if (fd_ >= 0) close(fd_);
}

}  // namespace vask::host
