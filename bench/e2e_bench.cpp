// End-to-end figures of whole `vask-host` processes on one emulated LAN,
// each beside a raw AF_UNIX baseline measured in the same run:
//
//   e2e_bench chat   VASK_HOST [SAMPLES STREAM]
//                                A and B exchange messages in the scripted
//                                mode: delivery latency (median, 99th
//                                percentile; 400 samples) and messages per
//                                second (2000 at once); baseline: two
//                                processes passing the same bytes over
//                                plain datagram sockets.
//   e2e_bench idle   VASK_HOST [SECONDS]
//                                a host left alone (online, one absent
//                                contact): CPU time and RSS; baseline: a
//                                process that polls a socket every 250 ms.
//   e2e_bench memory VASK_HOST [SENDERS MESSAGES]
//                                RSS of a host with a profile file before
//                                and after datagrams from 10 000 distinct
//                                senders and after 100 000 messages.
//
// Figures go to standard output as "name value unit" lines.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "abi/host_ids.h"
#include "tests/support/host_process.h"
#include "tests/support/json_fields.h"
#include "tests/support/nul_fields.h"
#include "tests/support/temp_lan.h"

namespace {

using Clock = std::chrono::steady_clock;
using Host = vask::test::HostProcess;
using vask::test::ContactEntry;
using vask::test::Datagram;
using vask::test::IsEvent;
using vask::test::JsonField;
using vask::test::JsonInt;
using namespace std::chrono_literals;

// A new temporary folder; the run cannot go on without one.
std::string MakeTempDir(const char* prefix) {
  std::string dir = vask::test::MakeTempDir(prefix);
  if (dir.empty()) std::abort();
  return dir;
}

void RemoveTree(const std::string& dir) { vask::test::RemoveTree(dir); }

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Figure(const std::string& name, double value, const char* unit) {
  std::printf("%-40s %12.3f %s\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

// Resident set, its peak and its parts (anonymous memory such as the heap,
// file pages, shared memory) of a process, in bytes.
struct Memory {
  size_t rss = 0;
  size_t peak = 0;
  size_t anon = 0;
  size_t file = 0;
  size_t shmem = 0;
};

Memory MemoryOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  Memory memory;
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) memory.rss = std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    if (line.rfind("VmHWM:", 0) == 0) memory.peak = std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
    if (line.rfind("RssAnon:", 0) == 0) memory.anon = std::strtoull(line.c_str() + 8, nullptr, 10) * 1024;
    if (line.rfind("RssFile:", 0) == 0) memory.file = std::strtoull(line.c_str() + 8, nullptr, 10) * 1024;
    if (line.rfind("RssShmem:", 0) == 0) memory.shmem = std::strtoull(line.c_str() + 9, nullptr, 10) * 1024;
  }
  return memory;
}

// CPU time of a live process's threads, in nanoseconds (the scheduler's
// own count, finer than the tick-based utime and stime).
uint64_t CpuNsOf(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  uint64_t total = 0;
  if (DIR* dir = opendir(tasks.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
      uint64_t onCpu = 0;
      if (stat >> onCpu) total += onCpu;
    }
    closedir(dir);
  }
  return total;
}

// Both contacts of each other and seen online by each other.
bool MakePresent(Host& a, const std::string& aName, Host& b, const std::string& bName) {
  a.Send("add " + bName);
  b.Send("add " + aName);
  a.Send("status " + std::to_string(vask::kStatusAvailable));
  b.Send("status " + std::to_string(vask::kStatusAvailable));
  auto online = [](Host& host, const std::string& who) {
    auto present = [&who](const std::string& list) {
      const auto entry = ContactEntry(list, who);
      return entry && JsonInt(*entry, "status") == vask::kStatusAvailable;
    };
    const auto list = host.WaitForContacts(present);
    return list && present(*list);
  };
  return online(a, bName) && online(b, aName);
}

// --- chat ---------------------------------------------------------------

// Latency: messages from A to B at random moments (a mean gap of `gapMs`,
// independent of B's polling), each timed from the write of the "send"
// command to A until B printed the message.
void ChatLatency(Host& a, Host& b, int count, int gapMs) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> gap(0, 2 * gapMs);
  std::vector<Clock::time_point> sentAt(count);
  const size_t mark = b.Mark();
  for (int i = 0; i < count; ++i) {
    sentAt[i] = Clock::now();
    a.Send("send B lat" + std::to_string(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
  }
  b.WaitFor(
      [&](const std::string& line) {
        return JsonField(line, "body") == "lat" + std::to_string(count - 1);
      },
      mark);
  std::vector<double> latencies;
  b.Visit(mark, [&](const std::string& line, Clock::time_point at) {
    if (JsonField(line, "event") != "message") return;
    const auto body = JsonField(line, "body");
    if (!body || body->rfind("lat", 0) != 0) return;
    const int i = std::atoi(body->c_str() + 3);
    if (i >= 0 && i < count) latencies.push_back(Ms(at - sentAt[i]));
  });
  Figure("vask latency samples", static_cast<double>(latencies.size()), "messages");
  Figure("vask latency min", Percentile(latencies, 0), "ms");
  Figure("vask latency median", Percentile(latencies, 0.5), "ms");
  Figure("vask latency p99", Percentile(latencies, 0.99), "ms");
  Figure("vask latency max", Percentile(latencies, 1), "ms");
}

// Throughput: `count` messages written to A at once; the time until A has
// reported the last sent (host message 108, once its sending thread wrote
// the datagram) and until B has printed the last.
void ChatThroughput(Host& a, Host& b, int count) {
  const size_t markA = a.Mark();
  const size_t markB = b.Mark();
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) a.Send("send B th" + std::to_string(i));
  // Sending threads may overtake each other: the run ends with the last
  // of the `count` to arrive, whichever it is.
  Clock::time_point deliveredAt{};
  size_t got = 0;
  const auto deadline = Clock::now() + 60s;
  while (got < static_cast<size_t>(count) && Clock::now() < deadline) {
    got = 0;
    b.Visit(markB, [&](const std::string& line, Clock::time_point at) {
      if (JsonField(line, "event") == "message" &&
          JsonField(line, "body").value_or("").rfind("th", 0) == 0) {
        ++got;
        deliveredAt = std::max(deliveredAt, at);
      }
    });
    if (got < static_cast<size_t>(count)) std::this_thread::sleep_for(20ms);
  }
  size_t sent = 0;
  const auto sentDeadline = Clock::now() + 30s;
  Clock::time_point sentAt{};
  while (sent < static_cast<size_t>(count) && Clock::now() < sentDeadline) {
    sent = 0;
    a.Visit(markA, [&](const std::string& line, Clock::time_point at) {
      if (JsonField(line, "event") == "send-result") {
        ++sent;
        sentAt = std::max(sentAt, at);
      }
    });
    if (sent < static_cast<size_t>(count)) std::this_thread::sleep_for(20ms);
  }
  if (got < static_cast<size_t>(count)) std::fprintf(stderr, "chat: not every message arrived\n");
  Figure("vask throughput messages delivered", static_cast<double>(got), "messages");
  Figure("vask throughput delivered per second", got / (Ms(deliveredAt - start) / 1000), "messages/s");
  Figure("vask throughput sent", static_cast<double>(sent), "messages");
  Figure("vask throughput sent per second", sent / (Ms(sentAt - start) / 1000), "messages/s");
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

int BoundSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = AddressOf(path);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) std::abort();
  return fd;
}

// As the slot layer sends: a fresh socket per datagram.
void SendFresh(const sockaddr_un& to, const std::string& bytes) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    std::abort();
  }
  ::close(fd);
}

// The raw pair: a child that answers every datagram with an acknowledgement
// ("MESSAGEACK" bytes) and this process sending "MESSAGE" bytes.
void RawChat(int pings, int stream) {
  const std::string dir = MakeTempDir("vask-bench-raw");
  const sockaddr_un aAddress = AddressOf(dir + "/a");
  const sockaddr_un bAddress = AddressOf(dir + "/b");
  const int b = BoundSocket(dir + "/b");
  const pid_t child = fork();
  if (child == 0) {
    const std::string ack = Datagram("7", "B", "A", "MESSAGEACK", "1234");
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(b, buffer, sizeof buffer, 0);
      if (n <= 0 || buffer[0] == 'Q') _exit(0);
      SendFresh(aAddress, ack);
    }
  }
  close(b);
  const int a = BoundSocket(dir + "/a");
  std::string body = "1234";
  body.push_back('\0');
  body += "lat0";
  body.push_back('\0');
  body += "675f1a2b";
  const std::string message = Datagram("6", "A", "B", "MESSAGE", body);
  char buffer[65536];
  std::vector<double> halves;
  for (int i = 0; i < pings; ++i) {
    const auto start = Clock::now();
    SendFresh(bAddress, message);
    if (::recv(a, buffer, sizeof buffer, 0) <= 0) std::abort();
    halves.push_back(Ms(Clock::now() - start) / 2);
  }
  Figure("raw latency (round trip / 2) median", Percentile(halves, 0.5), "ms");
  Figure("raw latency (round trip / 2) p99", Percentile(halves, 0.99), "ms");
  // Streaming: a reader thread counts the acknowledgements.
  std::atomic<int> acked{0};
  std::thread reader([&] {
    char in[65536];
    while (acked < stream && ::recv(a, in, sizeof in, 0) > 0) ++acked;
  });
  const auto start = Clock::now();
  for (int i = 0; i < stream; ++i) SendFresh(bAddress, message);
  reader.join();
  Figure("raw throughput acknowledged per second", stream / (Ms(Clock::now() - start) / 1000), "messages/s");
  SendFresh(bAddress, "Q");
  waitpid(child, nullptr, 0);
  close(a);
  RemoveTree(dir);
}

int Chat(const std::string& program, int samples, int stream) {
  const std::string lan = MakeTempDir("vask-bench-e2e");
  {
    Host a(program, "A", lan, ":memory:");
    Host b(program, "B", lan, ":memory:");
    if (!a.WaitFor(IsEvent("started")) || !b.WaitFor(IsEvent("started")) ||
        !MakePresent(a, "A", b, "B")) {
      std::fprintf(stderr, "chat: the hosts did not start or see each other\n");
      RemoveTree(lan);
      return 1;
    }
    ChatLatency(a, b, samples, 15);
    ChatThroughput(a, b, stream);
  }
  RemoveTree(lan);
  RawChat(2000, stream * 10);
  return 0;
}

// --- idle ---------------------------------------------------------------

// The baseline: a socket polled every 250 ms, as an idle worker does.
[[noreturn]] void IdleBaseline(const std::string& path) {
  const int fd = BoundSocket(path);
  char buffer[256];
  for (;;) {
    while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    ::poll(nullptr, 0, 250);
  }
}

int Idle(const std::string& program, int seconds) {
  const std::string lan = MakeTempDir("vask-bench-idle");
  Host host(program, "IDLE", lan, ":memory:");
  if (!host.WaitFor(IsEvent("started"))) return 1;
  host.Send("add ABSENT");
  host.Send("status " + std::to_string(vask::kStatusAvailable));
  host.WaitFor(IsEvent("own-status"));
  const pid_t baseline = fork();
  if (baseline == 0) IdleBaseline(lan + "/baseline");
  // Past the start: only the idle passes are counted.
  std::this_thread::sleep_for(2s);
  const uint64_t hostStart = CpuNsOf(host.pid());
  const uint64_t baseStart = CpuNsOf(baseline);
  const Memory hostBefore = MemoryOf(host.pid());
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const uint64_t hostCpu = CpuNsOf(host.pid()) - hostStart;
  const uint64_t baseCpu = CpuNsOf(baseline) - baseStart;
  const Memory hostAfter = MemoryOf(host.pid());
  const Memory baseAfter = MemoryOf(baseline);
  kill(baseline, SIGKILL);
  waitpid(baseline, nullptr, 0);
  host.Stop();
  Figure("idle seconds", seconds, "s");
  Figure("vask idle cpu", hostCpu / 1e6, "ms");
  Figure("vask idle cpu per second", hostCpu / 1e3 / seconds, "us/s");
  Figure("vask idle rss at start", hostBefore.rss / 1024.0, "KiB");
  Figure("vask idle rss at end", hostAfter.rss / 1024.0, "KiB");
  Figure("baseline idle cpu", baseCpu / 1e6, "ms");
  Figure("baseline idle cpu per second", baseCpu / 1e3 / seconds, "us/s");
  Figure("baseline idle rss", baseAfter.rss / 1024.0, "KiB");
  RemoveTree(lan);
  return 0;
}

// --- memory -------------------------------------------------------------

int MemoryRun(const std::string& program, int senderCount, int messageCount) {
  const std::string lan = MakeTempDir("vask-bench-mem");
  // A profile file, so the history is not in the process; on tmpfs when
  // there is one, so that the run measures the host and not the disk's
  // flushes of SQLite's journal.
  struct stat shm {};
  const bool tmpfs = ::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && ::access("/dev/shm", W_OK) == 0;
  const std::string profileDir = tmpfs ? std::string("/dev/shm/vask-bench-") + std::to_string(getpid()) : lan;
  ::mkdir(profileDir.c_str(), 0700);
  const std::string profile = profileDir + "/B.db";
  Host b(program, "B", lan, profile);
  if (!b.WaitFor(IsEvent("started"))) return 1;
  b.Send("add S");
  b.Send("status " + std::to_string(vask::kStatusAvailable));
  b.WaitFor(IsEvent("own-status"));
  std::this_thread::sleep_for(500ms);
  // From here on only the count of lines matters: the run prints millions.
  b.Observe(nullptr);
  const sockaddr_un slot = AddressOf(lan + "/WORKGROUP/B/vask");
  // Waits until the host has printed `lines` lines in all, or printed
  // nothing for `quiet` (longer than a poll period).
  auto settle = [&](uint64_t lines, Clock::duration quiet) {
    uint64_t last = b.LinesRead();
    auto since = Clock::now();
    while (b.LinesRead() < lines && Clock::now() - since < quiet) {
      std::this_thread::sleep_for(5ms);
      if (b.LinesRead() != last) {
        last = b.LinesRead();
        since = Clock::now();
      }
    }
  };
  // Sends `count` datagrams in batches, each batch once the host has
  // printed the events of the one before: the host's slot queue stays
  // short, so its memory does not count. The events per datagram are
  // learnt from the first batch.
  auto feed = [&](int count, int batch, const std::function<std::string(int)>& datagram) {
    double perDatagram = 0;
    for (int first = 0; first < count; first += batch) {
      const uint64_t before = b.LinesRead();
      const int n = std::min(batch, count - first);
      for (int i = first; i < first + n; ++i) SendFresh(slot, datagram(i));
      if (perDatagram == 0) {
        settle(UINT64_MAX, 600ms);
        perDatagram = static_cast<double>(b.LinesRead() - before) / n;
      } else {
        // A little short of the full count, so that an estimate a shade
        // high does not make every batch wait out the quiet period.
        settle(before + static_cast<uint64_t>(0.9 * perDatagram * n), 2s);
      }
    }
    settle(UINT64_MAX, 600ms);
  };
  const Memory start = MemoryOf(b.pid());

  // The senders, one "PING" each: the host is asked for the contact (200)
  // and the "PONG" finds no such computer.
  feed(senderCount, 1000, [](int i) {
    char sender[16];
    std::snprintf(sender, sizeof sender, "KOMPUTER%05d", i);
    return Datagram("1", sender, "B", "PING");
  });
  const Memory senders = MemoryOf(b.pid());

  // The messages, from contact S; their history goes to the profile file.
  std::string body = "1234";
  body.push_back('\0');
  body.append(64, 'x');
  body.push_back('\0');
  body += "675f1a2b";
  const auto started = Clock::now();
  // In quarters, with the heap's size after each: growth that levels off is
  // a cache filling, growth that keeps on is kept per message.
  std::vector<std::pair<int, Memory>> quarters;
  for (int quarter = 0, done = 0; quarter < 4; ++quarter) {
    const int count = messageCount / 4 + (quarter == 3 ? messageCount % 4 : 0);
    feed(count, 2000,
         [&](int i) { return Datagram(std::to_string(done + i + 2), "S", "B", "MESSAGE", body); });
    done += count;
    quarters.emplace_back(done, MemoryOf(b.pid()));
  }
  const double seconds = Ms(Clock::now() - started) / 1000;
  const Memory messages = MemoryOf(b.pid());
  struct stat info {};
  ::stat(profile.c_str(), &info);
  b.Stop();

  Figure("host rss at start", start.rss / 1024.0, "KiB");
  Figure("host senders", senderCount, "senders");
  Figure("host messages", messageCount, "messages");
  Figure("host rss after the senders", senders.rss / 1024.0, "KiB");
  Figure("host rss per sender", (static_cast<double>(senders.rss) - start.rss) / senderCount, "bytes");
  Figure("host rss after the messages", messages.rss / 1024.0, "KiB");
  Figure("host rss growth over the messages", (static_cast<double>(messages.rss) - senders.rss) / 1024.0, "KiB");
  Figure("host rss peak", messages.peak / 1024.0, "KiB");
  for (const auto& [count, memory] : quarters) {
    Figure("host anon rss after " + std::to_string(count) + " messages", memory.anon / 1024.0, "KiB");
  }
  for (const auto& [name, memory] : {std::pair{"at start", start}, {"after the senders", senders},
                                     {"after the messages", messages}}) {
    Figure(std::string("host anon rss ") + name, memory.anon / 1024.0, "KiB");
    Figure(std::string("host file rss ") + name, memory.file / 1024.0, "KiB");
    Figure(std::string("host shmem rss ") + name, memory.shmem / 1024.0, "KiB");
  }
  Figure("host profile size", info.st_size / 1024.0, "KiB");
  Figure("host feed pace (not a throughput)", messageCount / seconds, "messages/s");
  Figure("host events printed", static_cast<double>(b.LinesRead()), "lines");
  Figure("host profile on tmpfs", tmpfs ? 1 : 0, "(1 yes, 0 no)");
  RemoveTree(lan);
  if (profileDir != lan) RemoveTree(profileDir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 3) {
    std::fprintf(stderr, "usage: e2e_bench chat VASK_HOST [SAMPLES STREAM] | idle VASK_HOST [SECONDS] | memory VASK_HOST [SENDERS MESSAGES]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const std::string program = argv[2];
  auto number = [&](int at, int fallback) { return argc > at ? std::atoi(argv[at]) : fallback; };
  if (mode == "chat") return Chat(program, number(3, 400), number(4, 2000));
  if (mode == "idle") return Idle(program, number(3, 60));
  if (mode == "memory") return MemoryRun(program, number(3, 10000), number(4, 100000));
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
