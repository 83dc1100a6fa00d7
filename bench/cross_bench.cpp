// Datagrams between two processes of one emulated LAN, each figure beside
// the best the kernel does for the same work and beside a fresh socket per
// datagram (socket, connect, send, close):
//  - the send: a client slot opened on computer C (another process), one
//    64-byte write and the close, against sendto on one long-lived socket,
//    sendmmsg of the batch, and the fresh socket; CPU time of the sender;
//  - the receive: the CPU that the receiving process spends per datagram
//    (the scheduler's count in /proc/<pid>/schedstat), a server slot read
//    with GetMailslotInfo and ReadFile against a plain socket emptied by a
//    recv loop and by recvmmsg.
// The sender goes in batches of 8 (less than the kernel's queue of a
// datagram socket, 10) and waits, with its clock stopped, for the receiver
// to say it has read them, so no datagram waits or is lost on either path.
//
// The receivers are this program started again as "cross_bench child MODE";
// the run's LAN is a fresh /tmp/vask-bench-* folder.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_lan.h"
#include "transport/datagram.h"
#include "transport/mailslot_handle.h"
#include "win32.h"

extern char** environ;

namespace {

constexpr int kBatch = 8;
constexpr int kAckFd = 1;  // the child's stdout: one byte per batch read

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

void MakeFolders(const std::string& path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0700);
  }
  ::mkdir(path.c_str(), 0700);
}

void Ack() {
  char byte = 'a';
  if (::write(kAckFd, &byte, 1) != 1) _exit(3);
}

// ---- The receiving processes ----------------------------------------------

// A server slot "bench" on this computer (COMPUTERNAME is the child's): a
// read that waits for the first datagram, then the next size and a read of
// each, as the engine's worker reads, until none is left.
int ChildSlot() {
  HANDLE slot = CreateMailslotA("\\\\.\\mailslot\\bench", 100100, MAILSLOT_WAIT_FOREVER, nullptr);
  if (slot == INVALID_HANDLE_VALUE) return 2;
  Ack();
  std::vector<char> buffer(100100);
  long read = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(slot, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return 4;
    if (++read % kBatch == 0) Ack();
    DWORD next = 0;
    while (GetMailslotInfo(slot, nullptr, &next, nullptr, nullptr) && next != MAILSLOT_NO_MESSAGE) {
      if (!ReadFile(slot, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
        return 4;
      if (++read % kBatch == 0) Ack();
    }
  }
}

// A plain socket bound at <lan>/WORKGROUP/<computer>/bench, waited on with
// poll and emptied by recv or recvmmsg.
int ChildSocket(const std::string& folder, bool batched) {
  MakeFolders(folder);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_un address = AddressOf(folder + "/bench");
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return 2;
  Ack();
  constexpr int kMany = 16;
  static char buffers[kMany][65536];
  iovec vectors[kMany];
  mmsghdr messages[kMany];
  for (int i = 0; i < kMany; ++i) {
    vectors[i] = {buffers[i], sizeof buffers[i]};
    messages[i] = {};
    messages[i].msg_hdr.msg_iov = &vectors[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  long read = 0;
  pollfd wait{fd, POLLIN, 0};
  for (;;) {
    if (::poll(&wait, 1, -1) < 0) continue;
    for (;;) {
      int got;
      if (batched) {
        got = ::recvmmsg(fd, messages, kMany, MSG_DONTWAIT, nullptr);
      } else {
        got = ::recv(fd, buffers[0], sizeof buffers[0], MSG_DONTWAIT) >= 0 ? 1 : -1;
      }
      if (got <= 0) break;
      for (int i = 0; i < got; ++i) {
        if (++read % kBatch == 0) Ack();
      }
    }
  }
}

// ---- The sending side -----------------------------------------------------

// One receiving process: its pid, the pipe of its acknowledgements, and the
// socket path it reads.
struct Child {
  pid_t pid = -1;
  int acks = -1;
  std::string path;
  sockaddr_un address{};
};

struct Lan {
  vask::test::TempLan lan{"A", "WORKGROUP", "vask-bench-cross"};
  std::map<std::string, Child> children;

  ~Lan() {
    for (auto& [mode, child] : children) {
      ::kill(child.pid, SIGKILL);
      ::waitpid(child.pid, nullptr, 0);
    }
  }

  Child& Start(const std::string& mode, const std::string& computer) {
    Child& child = children[mode];
    if (child.pid > 0) return child;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], kAckFd);
    const std::string name = "COMPUTERNAME=" + computer;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "COMPUTERNAME=", 13) != 0) env.push_back(*e);
    }
    env.push_back(const_cast<char*>(name.c_str()));
    env.push_back(nullptr);
    std::string self = "/proc/self/exe";
    char* argv[] = {const_cast<char*>("cross_bench"), const_cast<char*>("child"),
                    const_cast<char*>(mode.c_str()), nullptr};
    char exe[4096];
    const ssize_t n = ::readlink(self.c_str(), exe, sizeof exe - 1);
    if (n <= 0) std::abort();
    exe[n] = '\0';
    if (posix_spawn(&child.pid, exe, &actions, nullptr, argv, env.data()) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    child.acks = pipe[0];
    char ready;
    if (::read(child.acks, &ready, 1) != 1) std::abort();
    child.path = lan.dir() + "/WORKGROUP/" + computer + "/bench";
    child.address = AddressOf(child.path);
    return child;
  }
};

Lan& TheLan() {
  static Lan lan;
  return lan;
}

// The receiver has read one more batch.
void AwaitBatch(const Child& child) {
  char byte;
  if (::read(child.acks, &byte, 1) != 1) std::abort();
}

// The scheduler's CPU time of a whole process (every thread), in ns.
double ProcessCpuNs(pid_t pid) {
  double total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(tasks.c_str()), ::closedir);
  if (!dir) return 0;
  while (dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + e->d_name + "/schedstat");
    double ns = 0;
    if (stat >> ns) total += ns;
  }
  return total;
}

std::string Datagram() {
  std::string body = "1234";
  body.push_back('\0');
  body.append(64 - 30, 'x');
  return vask::BuildDatagram(41, "A", "C", "MESSAGE", body);
}

// Runs `send` for every datagram, in batches the receiver acknowledges with
// the clock stopped.
template <typename Send>
void Paced(benchmark::State& state, const Child& child, Send send) {
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      if (!send()) {
        state.SkipWithError("send failed");
        return;
      }
    }
    state.PauseTiming();
    AwaitBatch(child);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

// The slot layer: CreateFileA, WriteFile, CloseHandle, per datagram.
void BM_CrossSlotSend(benchmark::State& state) {
  const Child& child = TheLan().Start("slot", "C");
  const std::string bytes = Datagram();
  Paced(state, child, [&] {
    vask::MailslotHandle client;
    DWORD written = 0;
    return client.OpenClient("C", "bench", nullptr) &&
           client.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) &&
           client.Close();
  });
}

// Today's baseline: a fresh socket per datagram.
void BM_CrossFreshSocket(benchmark::State& state) {
  const Child& child = TheLan().Start("slot", "C");
  const std::string bytes = Datagram();
  Paced(state, child, [&] {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool ok =
        fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&child.address), sizeof child.address) ==
            0 &&
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) ::close(fd);
    return ok;
  });
}

// The best single send: sendto on one long-lived socket.
void BM_CrossSendto(benchmark::State& state) {
  const Child& child = TheLan().Start("slot", "C");
  const std::string bytes = Datagram();
  static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Paced(state, child, [&] {
    return ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&child.address),
                    sizeof child.address) == static_cast<ssize_t>(bytes.size());
  });
}

// The best of all: the batch in one sendmmsg.
void BM_CrossSendmmsg(benchmark::State& state) {
  const Child& child = TheLan().Start("slot", "C");
  const std::string bytes = Datagram();
  static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  iovec vector{const_cast<char*>(bytes.data()), bytes.size()};
  mmsghdr messages[kBatch];
  for (mmsghdr& m : messages) {
    m = {};
    m.msg_hdr.msg_name = const_cast<sockaddr_un*>(&child.address);
    m.msg_hdr.msg_namelen = sizeof child.address;
    m.msg_hdr.msg_iov = &vector;
    m.msg_hdr.msg_iovlen = 1;
  }
  for (auto _ : state) {
    if (::sendmmsg(fd, messages, kBatch, MSG_NOSIGNAL) != kBatch) {
      state.SkipWithError("sendmmsg failed");
      return;
    }
    state.PauseTiming();
    AwaitBatch(child);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

// The receiving process's CPU per datagram, fed by sendto in paced batches.
void Receive(benchmark::State& state, const std::string& mode, const std::string& computer) {
  const Child& child = TheLan().Start(mode, computer);
  const std::string bytes = Datagram();
  static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const double before = ProcessCpuNs(child.pid);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      if (::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&child.address),
                   sizeof child.address) != static_cast<ssize_t>(bytes.size())) {
        state.SkipWithError("sendto failed");
        return;
      }
    }
    AwaitBatch(child);
  }
  const double datagrams = static_cast<double>(state.iterations()) * kBatch;
  state.counters["receiver_ns"] = (ProcessCpuNs(child.pid) - before) / datagrams;
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_CrossSlotReceive(benchmark::State& state) { Receive(state, "slot", "C"); }
void BM_CrossRecv(benchmark::State& state) { Receive(state, "recv", "R"); }
void BM_CrossRecvmmsg(benchmark::State& state) { Receive(state, "recvmmsg", "M"); }

BENCHMARK(BM_CrossSendto);
BENCHMARK(BM_CrossSendmmsg);
BENCHMARK(BM_CrossFreshSocket);
BENCHMARK(BM_CrossSlotSend);
BENCHMARK(BM_CrossRecv);
BENCHMARK(BM_CrossRecvmmsg);
BENCHMARK(BM_CrossSlotReceive);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "child") == 0) {
    const std::string mode = argv[2];
    const char* lan = std::getenv("VASK_LAN_DIR");
    const char* computer = std::getenv("COMPUTERNAME");
    if (!lan || !computer) return 2;
    const std::string folder = std::string(lan) + "/WORKGROUP/" + computer;
    if (mode == "slot") return ChildSlot();
    if (mode == "recv") return ChildSocket(folder, false);
    if (mode == "recvmmsg") return ChildSocket(folder, true);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
