#include "bridge/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace vask::bridge {

LogFile::LogFile(uint64_t limit, bool mirrorStandardError,
                 std::function<void(const std::string&)> onCreate)
    : limit_(limit), mirror_(mirrorStandardError), onCreate_(std::move(onCreate)) {}

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool LogFile::Begin(int flags, std::string* error) {
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | flags, 0600);
  if (fd < 0) {
    if (error) *error = "cannot open the log " + path_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  size_ = ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  if (mirror_) {
    ::dup2(fd_, STDOUT_FILENO);
    ::dup2(fd_, STDERR_FILENO);
  }
  if (onCreate_) onCreate_(path_);
  return true;
}

bool LogFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  return Begin(0, error);
}

bool LogFile::AdoptStandardError() {
  struct stat info {};
  if (::fstat(STDERR_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  char target[4096];
  ssize_t length = ::readlink("/proc/self/fd/2", target, sizeof target - 1);
  if (length <= 0) return false;
  std::string path(target, static_cast<size_t>(length));
  struct stat named {};
  // A file that was removed or replaced since is not ours to rotate.
  if (path[0] != '/' || ::stat(path.c_str(), &named) != 0 || named.st_ino != info.st_ino ||
      named.st_dev != info.st_dev) {
    return false;
  }
  path_ = path;
  return Begin(0, nullptr);
}

void LogFile::Rotate() {
  // Should the rename fail, the file begins anew in place rather than grow.
  std::string previous = path_ + ".1";
  (void)::rename(path_.c_str(), previous.c_str());
  Begin(O_TRUNC, nullptr);
}

void LogFile::Write(const std::string& line) {
  std::string text = line + "\n";
  if (fd_ < 0) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    return;
  }
  if (size_ > 0 && size_ + text.size() > limit_) Rotate();
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = ::write(fd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // a full disk: the line is lost, the bridge goes on
    done += static_cast<size_t>(wrote);
  }
  size_ += done;
}

}  // namespace vask::bridge
