// The datagram codec and the send path, each against the least the same
// work could cost:
//  - BuildDatagram and SplitFields of one "MESSAGE" against a memcpy of its
//    bytes;
//  - opening a client slot to a server slot on this computer, writing the
//    datagram and closing, against a raw AF_UNIX socket, connect, send and
//    close of the same bytes to the same server socket.
// The emulated LAN lives in a fresh temporary directory for the run.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/temp_lan.h"
#include "transport/datagram.h"
#include "transport/mailslot_handle.h"

namespace {

using vask::MailslotHandle;

// A "MESSAGE" whose text is `length` bytes long.
std::string MessageBody(size_t length) {
  std::string body = "1234";
  body.push_back('\0');
  body.append(length, 'x');
  return body;
}

std::string MessageDatagram(size_t length) {
  return vask::BuildDatagram(41, "KOMPUTER-B", "KOMPUTER-A", "MESSAGE", MessageBody(length));
}

void BM_BuildDatagram(benchmark::State& state) {
  const std::string body = MessageBody(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::string datagram = vask::BuildDatagram(41, "KOMPUTER-B", "KOMPUTER-A", "MESSAGE", body);
    benchmark::DoNotOptimize(datagram.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(body.size()));
}

void BM_SplitFields(benchmark::State& state) {
  const std::string datagram = MessageDatagram(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    vask::DatagramFields fields;
    vask::SplitFields(datagram, '\0', fields);
    benchmark::DoNotOptimize(fields.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(datagram.size()));
}

// The baseline of both: the bytes copied into a fresh string once.
void BM_CopyBytes(benchmark::State& state) {
  const std::string datagram = MessageDatagram(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(datagram.size(), '\0');
    std::memcpy(copy.data(), datagram.data(), datagram.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(datagram.size()));
}

// The LAN of the run with the server slot of computer A, and the path of
// its socket.
struct Lan {
  vask::test::TempLan lan{"A", "WORKGROUP", "vask-bench-lan"};
  MailslotHandle server;
  std::string socketPath;

  Lan() {
    if (!lan.ok() || !server.CreateServer("bench", 100100, 0, nullptr)) std::abort();
    socketPath = FindSocket(lan.dir());
    if (socketPath.empty()) std::abort();
  }
  ~Lan() { server.Close(); }

  // Reads whatever waits, so the server's queue does not grow over a run.
  void Drain() {
    std::vector<char> buffer(100100);
    DWORD read = 0;
    while (server.MessageCount() > 0)
      server.Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &read);
  }

  static std::string FindSocket(const std::string& at) {
    DIR* d = opendir(at.c_str());
    if (d == nullptr) return "";
    std::string found;
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = at + "/" + name;
      if (e->d_type == DT_DIR) {
        found = FindSocket(path);
      } else if (e->d_type == DT_SOCK && name == "bench") {
        found = path;
      }
      if (!found.empty()) break;
    }
    closedir(d);
    return found;
  }
};

Lan& TheLan() {
  static Lan lan;
  return lan;
}

constexpr int kDrainEvery = 256;

void BM_SlotSend(benchmark::State& state) {
  Lan& lan = TheLan();
  const std::string datagram = MessageDatagram(static_cast<size_t>(state.range(0)));
  int n = 0;
  for (auto _ : state) {
    MailslotHandle client;
    if (!client.OpenClient("A", "bench", nullptr)) {
      state.SkipWithError("OpenClient failed");
      break;
    }
    DWORD written = 0;
    if (!client.Write(datagram.data(), static_cast<uint32_t>(datagram.size()), &written)) {
      state.SkipWithError("Write failed");
      break;
    }
    client.Close();
    if (++n % kDrainEvery == 0) {
      state.PauseTiming();
      lan.Drain();
      state.ResumeTiming();
    }
  }
  lan.Drain();
}

void BM_RawSocketSend(benchmark::State& state) {
  Lan& lan = TheLan();
  const std::string datagram = MessageDatagram(static_cast<size_t>(state.range(0)));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, lan.socketPath.c_str(), sizeof address.sun_path - 1);
  int n = 0;
  for (auto _ : state) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(datagram.size())) {
      state.SkipWithError("raw send failed");
      if (fd >= 0) ::close(fd);
      break;
    }
    ::close(fd);
    if (++n % kDrainEvery == 0) {
      state.PauseTiming();
      lan.Drain();
      state.ResumeTiming();
    }
  }
  lan.Drain();
}

// The best single send: sendto on one long-lived socket.
void BM_Sendto(benchmark::State& state) {
  Lan& lan = TheLan();
  const std::string datagram = MessageDatagram(static_cast<size_t>(state.range(0)));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, lan.socketPath.c_str(), sizeof address.sun_path - 1);
  static const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int n = 0;
  for (auto _ : state) {
    if (::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                 reinterpret_cast<sockaddr*>(&address),
                 sizeof address) != static_cast<ssize_t>(datagram.size())) {
      state.SkipWithError("sendto failed");
      break;
    }
    if (++n % 8 == 0) {
      // The server's socket queues 10 datagrams; its drainer keeps up only
      // when it gets a turn.
      state.PauseTiming();
      lan.Drain();
      state.ResumeTiming();
    }
  }
  lan.Drain();
}

// 64 bytes: a chat line; 4000: a long pasted text.
BENCHMARK(BM_CopyBytes)->Arg(64)->Arg(4000);
BENCHMARK(BM_BuildDatagram)->Arg(64)->Arg(4000);
BENCHMARK(BM_SplitFields)->Arg(64)->Arg(4000);
BENCHMARK(BM_Sendto)->Arg(64)->Arg(4000);
BENCHMARK(BM_RawSocketSend)->Arg(64)->Arg(4000);
BENCHMARK(BM_SlotSend)->Arg(64)->Arg(4000);

}  // namespace

BENCHMARK_MAIN();
