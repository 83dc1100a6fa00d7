// Owning wrappers for the descriptors the platform library holds: a file
// descriptor (socket, lock, eventfd) and a directory stream.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace vask::platform {

// Owns one file descriptor; closed on destruction.
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

}  // namespace vask::platform
