// vask-bridge: carries this machine's mailslot traffic to and from the real
// LAN. One per machine: it owns UDP 137 (names) and 138 (datagrams),
// registers the local computers' names, and relays between the network
// and the slots of the LAN directory. Where no copy of the messenger on
// this machine holds UDP 41925, the bridge holds it and speaks the copies'
// UDP frames for its computers as well. Runs in the foreground until SIGINT,
// SIGTERM or `vask-bridge --stop`, then releases its names.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/frame_codec.h"
#include "bridge/interface_address.h"
#include "bridge/lan_folder.h"
#include "bridge/log_file.h"
#include "bridge/win32_errors.h"
#include "bridge_link.h"

namespace vask::bridge {
namespace {

constexpr Millis kRescanInterval = 1000;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

const char kUsage[] =
    "usage: vask-bridge [options]\n"
    "  --interface NAME    the network interface to speak on (default: the first one up)\n"
    "  --address A.B.C.D   the interface with this IPv4 address\n"
    "  --workgroup NAME    the workgroup (default: $VASK_WORKGROUP or WORKGROUP)\n"
    "  --lan-dir DIR       the LAN directory to serve (default: as the library finds it)\n"
    "  --computer NAME     serve this computer (repeatable; default: every computer\n"
    "                      running in the LAN directory's workgroup)\n"
    "  --log FILE          log to FILE instead of standard error\n"
    "  --log-limit BYTES   a log file is renamed to FILE.1 when it reaches this size\n"
    "                      (default 1048576); standard error that is a file counts too\n"
    "  --no-udp            never speak UDP frames on port 41925 (by default the bridge\n"
    "                      does where no copy of the messenger on this machine does)\n"
    "  --stop              stop the bridge that serves the LAN directory, and exit\n"
    "Needs root or CAP_NET_BIND_SERVICE for UDP ports 137 and 138.\n";

Millis Now() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The one log of the program; set up by main before anything is logged.
LogFile* logFile = nullptr;

void LogLine(const std::string& line) {
  std::time_t t = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&t));
  std::string text = std::string("vask-bridge ") + stamp + " " + line;
  if (logFile) {
    logFile->Write(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

struct Options {
  std::string interface;
  std::string address;
  std::string workgroup;
  std::string lan;
  std::vector<std::string> computers;
  std::string log;
  uint64_t logLimit = LogFile::kDefaultLimit;
  bool stop = false;
  bool udp = true;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  const char* workgroup = std::getenv("VASK_WORKGROUP");
  o->workgroup = workgroup && *workgroup ? workgroup : "WORKGROUP";
  o->lan = DefaultLanDirectory();
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--stop") {
      o->stop = true;
      continue;
    }
    if (arg == "--no-udp") {
      o->udp = false;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (arg == "--interface")
      o->interface = value;
    else if (arg == "--address")
      o->address = value;
    else if (arg == "--workgroup")
      o->workgroup = value;
    else if (arg == "--lan-dir")
      o->lan = value;
    else if (arg == "--computer")
      o->computers.push_back(value);
    else if (arg == "--log")
      o->log = value;
    else if (arg == "--log-limit") {
      char* end = nullptr;
      unsigned long long limit = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || limit < 4096) return false;
      o->logLimit = limit;
    } else
      return false;
  }
  return !o->workgroup.empty() && !o->lan.empty();
}

// A UDP socket on 0.0.0.0:port that may send broadcasts and, with
// packetInfo, tells each datagram's local address; -1 with errno's code in
// *error.
int OpenBroadcastUdp(uint16_t port, bool packetInfo, int* error) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (packetInfo) ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = errno;
    ::close(fd);
    return -1;
  }
  return fd;
}

// A NetBIOS port's socket; -1 with a message saying what to do.
int BindUdp(uint16_t port) {
  int error = 0;
  const int fd = OpenBroadcastUdp(port, false, &error);
  if (fd >= 0) return fd;
  if (error == EADDRINUSE) {
    LogLine("UDP port " + std::to_string(port) +
            " is taken: another NetBIOS service (or another vask-bridge) runs on this machine;"
            " stop it first");
  } else if (error == EACCES) {
    LogLine("may not bind UDP port " + std::to_string(port) +
            ": run as root or give vask-bridge CAP_NET_BIND_SERVICE");
  } else {
    LogLine("cannot bind UDP port " + std::to_string(port) + ": " + std::strerror(error));
  }
  return -1;
}

// A computer's address as the system resolves names (hosts file, DNS);
// 0 when it does not.
uint32_t ResolveHost(const std::string& computer) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(computer.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
  uint32_t ip = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(found);
  return ip;
}

bool FillUnixAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  if (path.size() >= sizeof address->sun_path) return false;
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The local socket clients reach us by; -1 with a message (already running,
// LAN directory missing).
int ListenLocal(const LanFolder& lan, std::string* path) {
  struct stat info {};
  if (::stat(lan.lan().c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    if (::mkdir(lan.lan().c_str(), 0700) != 0) {
      LogLine("cannot make the LAN directory " + lan.lan() + ": " + std::strerror(errno));
      return -1;
    }
  }
  *path = lan.lan() + "/" + bridge_link::kSocketName;
  sockaddr_un address;
  if (!FillUnixAddress(*path, &address)) {
    LogLine("the LAN directory's path is too long: " + lan.lan());
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno == EADDRINUSE) {
    int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    bool live =
        probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      LogLine("a vask-bridge already serves " + lan.lan());
      ::close(fd);
      return -1;
    }
    ::unlink(path->c_str());  // left by a bridge that is gone
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      LogLine("cannot bind " + *path + ": " + std::strerror(errno));
      ::close(fd);
      return -1;
    }
  }
  ::chmod(path->c_str(), 0600);
  lan.GiveToOwner(*path);
  if (::listen(fd, 64) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One local client connection: at most one request in flight.
struct Connection {
  int fd = -1;
  uint64_t serial = 0;
  bool busy = false;
};

class Program {
 public:
  Program(Options options, InterfaceAddress interface)
      : options_(std::move(options)),
        lan_(options_.lan, options_.workgroup),
        core_(MakeConfig(interface), MakeIo()) {}

  int Run() {
    name_ = BindUdp(kNamePort);
    if (name_ < 0) return kExitFailure;
    int on = 1;  // to tell a question to us from one to everybody
    ::setsockopt(name_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    datagram_ = BindUdp(kDatagramPort);
    if (datagram_ < 0) return kExitFailure;
    listen_ = ListenLocal(lan_, &socketPath_);
    if (listen_ < 0) return kExitFailure;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    Rescan(Now());
    LogLine("serving " + lan_.lan() + " workgroup " + CanonicalName(options_.workgroup) + " on " +
            interfaceName_ + " " + DottedAddress(config_.ip) + " broadcast " +
            DottedAddress(config_.broadcast));
    Millis nextRescan = Now() + kRescanInterval;
    bool stop = false;
    while (!stop) {
      std::vector<pollfd> fds = {{signalFd, POLLIN, 0},
                                 {name_, POLLIN, 0},
                                 {datagram_, POLLIN, 0},
                                 {listen_, POLLIN, 0},
                                 {frame_, static_cast<short>(frame_ >= 0 ? POLLIN : 0), 0}};
      constexpr size_t kFixed = 5;
      std::vector<uint64_t> serials;
      for (const auto& [serial, c] : connections_) {
        // A busy connection is not read: its next request waits for the reply.
        fds.push_back({c.fd, static_cast<short>(c.busy ? 0 : POLLIN), 0});
        serials.push_back(serial);
      }
      const size_t held = fds.size();  // then the slots that cannot take more yet
      backlog_.AddPollFds(&fds);
      Millis now = Now();
      Millis wake = nextRescan;
      Millis deadline = core_.NextDeadline();
      if (deadline >= 0 && deadline < wake) wake = deadline;
      int timeout = static_cast<int>(std::max<Millis>(0, wake - now));
      int ready = ::poll(fds.data(), fds.size(), timeout);
      if (ready < 0 && errno != EINTR) {
        LogLine(std::string("poll failed: ") + std::strerror(errno));
        break;
      }
      now = Now();
      if (ready > 0) {
        if (fds[0].revents & POLLIN) stop = true;
        if (fds[1].revents & POLLIN) ReadUdp(name_, Port::kNames, now);
        if (fds[2].revents & POLLIN) ReadUdp(datagram_, Port::kDatagrams, now);
        if (fds[3].revents & POLLIN) Accept();
        if (frame_ >= 0 && (fds[4].revents & POLLIN)) ReadUdp(frame_, Port::kFrames, now);
        for (size_t i = kFixed; i < held; ++i) {
          if (fds[i].revents) ReadLocal(serials[i - kFixed], now);
        }
        bool room = false;
        for (size_t i = held; i < fds.size(); ++i) room = room || fds[i].revents != 0;
        if (room) {
          backlog_.Retry([this, now](const std::string& computer, size_t count) {
            core_.OnLostHeld(computer, count, now);
          });
        }
      }
      core_.OnTimer(now);
      if (now >= nextRescan) {
        Rescan(now);
        nextRescan = now + kRescanInterval;
      }
      UpdateFramePort(now);
      if (core_.TakeNeighboursChanged()) lan_.WriteNeighbours(core_.Neighbours());
      if (stopRequested_) stop = true;
    }
    LogLine("stopping: releasing the names");
    core_.Shutdown(Now());
    if (frame_ >= 0) ::close(frame_);
    for (auto& [serial, c] : connections_) ::close(c.fd);
    ::unlink(socketPath_.c_str());
    lan_.RemoveNeighbours();
    return 0;
  }

 private:
  BridgeConfig MakeConfig(const InterfaceAddress& interface) {
    config_.workgroup = options_.workgroup;
    config_.ip = interface.ip;
    config_.broadcast = interface.broadcast;
    config_.mask = interface.mask;
    config_.mac = interface.mac;
    interfaceName_ = interface.interface;
    return config_;
  }

  BridgeIo MakeIo() {
    BridgeIo io;
    io.sendUdp = [this](uint16_t fromPort, uint32_t ip, uint16_t port,
                        const std::vector<uint8_t>& packet) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(ip);
      int fd = fromPort == kNamePort ? name_ : datagram_;
      ssize_t sent;
      do {
        sent = ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to);
      } while (sent < 0 && errno == EINTR);
      if (sent < 0) LogLine("cannot send to " + DottedAddress(ip) + ": " + std::strerror(errno));
    };
    io.deliver = [this](const std::string& computer, const std::string& slot,
                        const std::vector<uint8_t>& data) {
      return lan_.Deliver(computer, slot, data, &backlog_);
    };
    io.sendFrame = [this](uint32_t ip, const std::string& frame) {
      if (frame_ < 0) return false;
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(kFramePort);
      to.sin_addr.s_addr = htonl(ip);
      ssize_t sent;
      do {
        sent = ::sendto(frame_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to);
      } while (sent < 0 && errno == EINTR);
      if (sent < 0) {
        LogLine("cannot send a frame to " + DottedAddress(ip) + ": " + std::strerror(errno));
      }
      return sent >= 0;
    };
    io.resolveHost = ResolveHost;
    io.log = LogLine;
    io.comment = [this](const std::string& computer) { return lan_.Comment(computer); };
    return io;
  }

  void Rescan(Millis now) {
    if (!options_.computers.empty()) {
      core_.SetServedComputers(options_.computers, now);
    } else {
      core_.SetServedComputers(lan_.RunningComputers(), now);
    }
  }

  // The frame port is the copies' first: the bridge leaves it free while
  // one of them starts (it binds the port right after its slots are open)
  // and takes it only where none did, retrying once a second, so that a
  // copy that speaks UDP itself never loses its receive to the bridge.
  void UpdateFramePort(Millis now) {
    if (!options_.udp) return;
    const bool wanted = core_.WantsFramePort(now);
    if (frame_ >= 0 && !wanted) {
      ::close(frame_);
      frame_ = -1;
      core_.SetFramePort(false);
      LogLine("UDP port " + std::to_string(kFramePort) +
              " left free: a copy starts, or no computer is served");
      return;
    }
    if (frame_ >= 0 || !wanted || now < nextFrameTry_) return;
    nextFrameTry_ = now + kRescanInterval;
    int error = 0;
    // EADDRINUSE: a copy of the messenger, or another program, holds it.
    frame_ = OpenBroadcastUdp(kFramePort, true, &error);
    core_.SetFramePort(frame_ >= 0);
    const int state = frame_ >= 0 ? 0 : error;
    if (state == frameBindState_) return;  // said already
    frameBindState_ = state;
    if (frame_ >= 0) {
      LogLine("speaking UDP frames on port " + std::to_string(kFramePort) +
              " for the computers served");
    } else if (error == EADDRINUSE) {
      LogLine("UDP port " + std::to_string(kFramePort) +
              " is held by a copy of the messenger (or another program): frames are left to it");
    } else {
      LogLine("cannot bind UDP port " + std::to_string(kFramePort) + ": " + std::strerror(error));
    }
  }

  enum class Port { kNames, kDatagrams, kFrames };

  void ReadUdp(int fd, Port port, Millis now) {
    for (;;) {
      uint8_t packet[2048];
      sockaddr_in from{};
      // The address the packet was sent to (IP_PKTINFO on the name socket).
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
      iovec data{packet, sizeof packet};
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &data;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      ssize_t got = ::recvmsg(fd, &message, MSG_TRUNC);
      if (got < 0) {
        if (errno == EINTR) continue;
        return;  // EAGAIN: drained
      }
      uint32_t ip = ntohl(from.sin_addr.s_addr);
      if (static_cast<size_t>(got) > sizeof packet) {
        core_.OnDroppedPacket("packet larger than 2048 bytes", ip, now);
        continue;
      }
      bool unicast = false;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        uint32_t to = ntohl(info.ipi_addr.s_addr);
        unicast = to != config_.broadcast && to != INADDR_BROADCAST;
      }
      if (port == Port::kNames) {
        core_.OnNamePacket(packet, static_cast<size_t>(got), ip, ntohs(from.sin_port), now,
                           unicast);
      } else if (port == Port::kDatagrams) {
        core_.OnDatagramPacket(packet, static_cast<size_t>(got), ip, now);
      } else {
        core_.OnFramePacket(packet, static_cast<size_t>(got), ip, now, unicast);
      }
    }
  }

  void Accept() {
    for (;;) {
      int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      uint64_t serial = ++nextSerial_;
      connections_[serial] = Connection{fd, serial, false};
    }
  }

  void Close(uint64_t serial) {
    auto it = connections_.find(serial);
    if (it == connections_.end()) return;
    ::close(it->second.fd);
    connections_.erase(it);
  }

  void Reply(uint64_t serial, uint32_t error) {
    auto it = connections_.find(serial);
    if (it == connections_.end()) return;  // the client gave up and left
    uint8_t reply[bridge_link::kReplySize] = {
        static_cast<uint8_t>(error), static_cast<uint8_t>(error >> 8),
        static_cast<uint8_t>(error >> 16), static_cast<uint8_t>(error >> 24)};
    if (::send(it->second.fd, reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(sizeof reply)) {
      Close(serial);
      return;
    }
    it->second.busy = false;
  }

  // Splits "a\0b\0..." into the first n NUL-terminated fields and the rest.
  static bool Fields(const char* at, const char* end, size_t n, std::vector<std::string>* fields,
                     const char** rest) {
    for (size_t i = 0; i < n; ++i) {
      const char* nul = static_cast<const char*>(std::memchr(at, 0, end - at));
      if (!nul) return false;
      fields->emplace_back(at, nul);
      at = nul + 1;
    }
    *rest = at;
    return true;
  }

  void ReadLocal(uint64_t serial, Millis now) {
    auto it = connections_.find(serial);
    if (it == connections_.end()) return;
    char request[bridge_link::kMaxRequest];
    ssize_t got;
    do {
      got = ::recv(it->second.fd, request, sizeof request, MSG_TRUNC);
    } while (got < 0 && errno == EINTR);
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
      Close(serial);
      return;
    }
    it->second.busy = true;
    if (static_cast<size_t>(got) > sizeof request) {
      Reply(serial, ERROR_BAD_NETPATH);
      return;
    }
    const char* end = request + got;
    std::vector<std::string> fields;
    const char* rest = nullptr;
    auto done = [this, serial](uint32_t error) { Reply(serial, error); };
    if (request[0] == bridge_link::kOpResolve && Fields(request + 1, end, 1, &fields, &rest)) {
      core_.Resolve(fields[0], now, done);
    } else if (request[0] == bridge_link::kOpClaim && Fields(request + 1, end, 2, &fields, &rest)) {
      if (CanonicalName(fields[0]) != CanonicalName(options_.workgroup)) {
        Reply(serial, 0);  // a computer of another workgroup is not ours to speak for
        return;
      }
      Rescan(now);  // its slot is open already: it is served from now on
      // Its copy may bind the frame port once this claim is answered.
      core_.Claim(fields[1], now, [this, done](uint32_t error) {
        UpdateFramePort(Now());
        done(error);
      });
    } else if (request[0] == bridge_link::kOpStop && got == 1) {
      LogLine("asked to stop");
      stopRequested_ = true;
      Reply(serial, 0);
    } else if (request[0] == bridge_link::kOpWrite && Fields(request + 1, end, 3, &fields, &rest)) {
      std::vector<uint8_t> data(rest, end);
      core_.Write(fields[0], fields[1], fields[2], data, now, done);
    } else {
      LogLine("dropped a malformed local request");
      Reply(serial, ERROR_INVALID_PARAMETER);
    }
  }

  Options options_;
  std::string interfaceName_;
  BridgeConfig config_;
  LanFolder lan_;
  Backlog backlog_;
  BridgeCore core_;
  int name_ = -1;
  int datagram_ = -1;
  int listen_ = -1;
  int frame_ = -1;  // the frame port, while the bridge holds it
  Millis nextFrameTry_ = 0;
  int frameBindState_ = -1;  // 0 bound, else the errno of the last failed bind
  std::string socketPath_;
  std::map<uint64_t, Connection> connections_;
  uint64_t nextSerial_ = 0;
  bool stopRequested_ = false;
};

// --stop: asks the bridge of the LAN directory to stop and waits until it
// has released its names and gone.
int StopBridge(const Options& options) {
  std::string path = options.lan + "/" + bridge_link::kSocketName;
  sockaddr_un address;
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0 || !FillUnixAddress(path, &address) ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "vask-bridge: no bridge serves %s\n", options.lan.c_str());
    if (fd >= 0) ::close(fd);
    return kExitFailure;
  }
  char request = bridge_link::kOpStop;
  uint8_t reply[bridge_link::kReplySize];
  pollfd wait{fd, POLLIN, 0};
  bool told = ::send(fd, &request, 1, MSG_NOSIGNAL) == 1 &&
              ::poll(&wait, 1, bridge_link::kReplyTimeoutMs) == 1 &&
              ::recv(fd, reply, sizeof reply, 0) == static_cast<ssize_t>(sizeof reply);
  if (!told) {
    std::fprintf(stderr, "vask-bridge: the bridge of %s did not answer\n", options.lan.c_str());
    ::close(fd);
    return kExitFailure;
  }
  // It closes its end when it exits.
  wait.revents = 0;
  int closed = ::poll(&wait, 1, bridge_link::kReplyTimeoutMs);
  ::close(fd);
  if (closed != 1) {
    std::fprintf(stderr, "vask-bridge: the bridge of %s is still stopping\n", options.lan.c_str());
    return kExitFailure;
  }
  std::printf("vask-bridge: stopped the bridge of %s\n", options.lan.c_str());
  return 0;
}

}  // namespace
}  // namespace vask::bridge

int main(int argc, char** argv) {
  using namespace vask::bridge;
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (options.stop) return StopBridge(options);
  LanFolder owner(options.lan, options.workgroup);
  LogFile log(options.logLimit, true,
              [&owner](const std::string& path) { owner.GiveToOwner(path); });
  if (!options.log.empty()) {
    std::string error;
    if (!log.Open(options.log, &error)) {
      std::fprintf(stderr, "vask-bridge: %s\n", error.c_str());
      return kExitFailure;
    }
  } else {
    log.AdoptStandardError();
  }
  logFile = &log;
  InterfaceAddress interface;
  std::string error;
  if (!FindInterface(options.interface, options.address, &interface, &error)) {
    LogLine(error);
    return kExitFailure;
  }
  Program program(std::move(options), interface);
  return program.Run();
}
