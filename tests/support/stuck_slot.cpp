#include "tests/support/stuck_slot.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vask::test {

StuckSlot::StuckSlot(const std::string& lanDir, const std::string& workgroup,
                     const std::string& computer, const std::string& slot) {
  std::string folder = lanDir;
  ::mkdir(folder.c_str(), 0700);  // private, as the LAN directory must be
  for (const std::string& part : {workgroup, computer}) {
    folder += "/" + part;
    ::mkdir(folder.c_str(), 0700);
  }
  const std::string path = folder + "/" + slot;
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

StuckSlot::~StuckSlot() {
  if (fd_ >= 0) ::close(fd_);
}

std::string StuckSlot::Next(int deadlineMs) {
  if (fd_ < 0) return "<none>";
  pollfd ready{fd_, POLLIN, 0};
  int result;
  do {
    result = ::poll(&ready, 1, deadlineMs);
  } while (result < 0 && errno == EINTR);
  if (result != 1) return "<none>";
  char buffer[4096];
  const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
  return got < 0 ? "<none>" : std::string(buffer, static_cast<size_t>(got));
}

int StuckSlot::KernelQueue() {
  std::ifstream file("/proc/sys/net/unix/max_dgram_qlen");
  int length = 10;
  file >> length;
  return length + 1;
}

}  // namespace vask::test
