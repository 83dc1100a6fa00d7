#include "host/main/bridge_launch.h"

#include <errno.h>
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

bool BridgeAnswers(const std::string& lan) {
  const std::string socketPath = lan + "/.bridge";
  sockaddr_un address{};
  if (socketPath.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  // Non-blocking: a bridge that is stopped, or whose queue of connections
  // is full, must not hold up whoever asks; it refuses with EAGAIN and is
  // there all the same. A dead one leaves its socket refusing the rest.
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
                  errno == EAGAIN || errno == EINPROGRESS;
  close(fd);
  return ok;
}

pid_t SpawnBridge(const std::string& lan) {
  // Made before the fork: the child may only call what is safe after it.
  const std::string log = lan + "/.bridge.log";
  const std::string beside = ExecutableDir() + "/vask-bridge";
  const pid_t child = fork();
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
  return child < 0 ? -1 : child;
}

bool EnsureBridge(pid_t* started) {
  *started = -1;
  const std::string lan = LanDirectory();
  if (BridgeAnswers(lan)) return true;
  // The bridge's log lies in the directory: it must be there, and ours.
  if (std::string why = LanDirectoryText(lan_dir::Prepare(lan), lan); !why.empty()) {
    std::fprintf(stderr, "vask-host: %s\n", why.c_str());
    return false;
  }
  const pid_t child = SpawnBridge(lan);
  if (child < 0) {
    std::fprintf(stderr, "vask-host: nie da się uruchomić vask-bridge\n");
    return false;
  }
  *started = child;
  for (int i = 0; i < 100; ++i) {  // tries, not a host number
    if (BridgeAnswers(lan)) return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) break;  // it gave up: its log says why
    usleep(50000);
  }
  std::fprintf(stderr, "vask-host: vask-bridge nie wystartował; zobacz %s/.bridge.log\n",
               lan.c_str());
  return false;
}

}  // namespace vask::host
