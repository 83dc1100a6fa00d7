#include "host/main/bridge_launch.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/main/program_options.h"

namespace vask::host {

bool EnsureBridge() {
  const std::string lan = LanDirectory();
  std::string socketPath = lan + "/.bridge";
  auto listening = [&socketPath] {
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return ok;
  };
  if (listening()) return true;
  // The bridge's log lies in the directory: it must be there, and ours.
  if (std::string why = LanDirectoryText(lan_dir::Prepare(lan), lan); !why.empty()) {
    std::fprintf(stderr, "vask-host: %s\n", why.c_str());
    return false;
  }
  std::string log = lan + "/.bridge.log";
  std::string beside = ExecutableDir() + "/vask-bridge";
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    int none = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (none >= 0) dup2(none, 0);
    execl(beside.c_str(), "vask-bridge", "--lan-dir", lan.c_str(), static_cast<char*>(nullptr));
    execlp("vask-bridge", "vask-bridge", "--lan-dir", lan.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) {
    std::fprintf(stderr, "vask-host: nie da się uruchomić vask-bridge\n");
    return false;
  }
  for (int i = 0; i < 100; ++i) {  // tries, not a host number
    if (listening()) return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) break;  // it gave up: its log says why
    usleep(50000);
  }
  std::fprintf(stderr, "vask-host: vask-bridge nie wystartował; zobacz %s\n", log.c_str());
  return false;
}

}  // namespace vask::host
