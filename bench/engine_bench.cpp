// The engine's receive path and its fan-out sends, each against the least
// the same work could cost on the same kind of socket:
//  - the worker's drain (DrainSlots: the count, the reads, the split, the
//    checks, the dispatch and the handler) of a slot holding "STATUS" or
//    "MESSAGE" datagrams from a contact, against a recv loop emptying a
//    plain AF_UNIX datagram socket of the same datagrams;
//  - SendPacket to "^" (every LAN contact in turn) and to "*" (every
//    computer of the workgroup) with 10, 100 and 1000 receivers, against a
//    socket, connect, send and close of the same bytes to each of them;
//  - one-shot heap and RSS figures: 10 000 distinct senders (their entries
//    in the engine's table of last sequence numbers) and 100 000 messages.
// The host is CountingHost (bench/counting_host.h), which keeps no history, so
// the figures are the plug-in's and the platform layer's work.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "abi/host_ids.h"
#include "base/host_api.h"
#include "bench/counting_host.h"
#include "protocol/receive_loop.h"
#include "search/network_walk.h"
#include "tests/support/temp_lan.h"
#include "transport/datagram.h"
#include "transport/lan_engine.h"

namespace {

using vask::bench::CountingHost;

// Datagrams in the slot at each drain: no more than a plain socket's queue
// holds (net.unix.max_dgram_qlen is 10 by default), so both sides of the
// comparison handle the same batch.
constexpr int kBatch = 10;

std::string StatusBody() {
  std::string body = "64";
  body.push_back('\0');
  body += "2097152";
  body.push_back('\0');
  body += "przy biurku";
  return body;
}

// A chat line of 64 bytes, its number and its hexadecimal time. Each
// message needs a number of its own: the engine shows a repeat of a recent
// message (same sender, number and time) only once.
std::string MessageBody(int number = 1234) {
  std::string body = std::to_string(number);
  body.push_back('\0');
  body.append(64, 'x');
  body.push_back('\0');
  body += "675f1a2b";
  return body;
}

void MakeFolders(const std::string& path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0700);
  }
  ::mkdir(path.c_str(), 0700);
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// A plain datagram socket bound at <folder>/<name>.
int BindAt(const std::string& folder, const std::string& name) {
  MakeFolders(folder);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_un address = AddressOf(folder + "/" + name);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::perror("bind");
    std::abort();
  }
  return fd;
}

// The raw send of the baselines: socket, connect, send, close.
bool RawSend(const sockaddr_un& address, const std::string& bytes) {
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  return ok;
}

int EmptySocket(int fd) {
  char buffer[65536];
  int n = 0;
  while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++n;
  return n;
}

size_t HeapInUse() { return mallinfo2().uordblks; }

size_t RssBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
  }
  return 0;
}

// The run's LAN: this computer A with its channel slot open in the engine
// (the worker is not started: the benchmarks call its steps), contact B
// with a live channel slot for the acknowledgements, and A's host.
struct Lan {
  vask::test::TempLan lan{"A", "WORKGROUP", "vask-bench-lan"};
  std::string dir = lan.dir();
  CountingHost host;
  HANDLE bSlot = INVALID_HANDLE_VALUE;
  sockaddr_un aAddress{};
  int32_t sequence = 0;
  int messageNumber = 0;

  Lan() {
    if (!lan.ok()) std::abort();
    host.Reset("A", {"B"});
    vask::SetHost(host.control());
    vask::LanEngine& engine = vask::Engine();
    if (!engine.BeginSteps("Vask")) std::abort();
    engine.SetStatus(vask::kStatusAvailable);
    aAddress = AddressOf(dir + "/WORKGROUP/A/vask");
    bSlot = VaskCreateMailslotOn("B", "vask", vask::kSlotMaxMessage);
    if (bSlot == INVALID_HANDLE_VALUE) std::abort();
  }
  ~Lan() {
    vask::Engine().EndSteps();
    CloseHandle(bSlot);
  }

  // Puts `count` datagrams from B into A's channel slot, each with a new
  // number so that none is dropped as a repeat (a "MESSAGE" also with a
  // message number of its own), and waits until the slot's drainer has
  // queued them all.
  void Fill(const std::string& command, const std::string& body, int count) {
    for (int i = 0; i < count; ++i) {
      const std::string& text = command == "MESSAGE" ? MessageBody(++messageNumber) : body;
      if (!RawSend(aAddress, vask::BuildDatagram(++sequence, "B", "A", command, text)))
        std::abort();
    }
    while (vask::Engine().WaitingDatagrams() < static_cast<uint32_t>(count))
      std::this_thread::yield();
  }

  void EmptyB() {
    std::vector<char> buffer(vask::kSlotMaxMessage);
    DWORD count = 0;
    DWORD read = 0;
    while (GetMailslotInfo(bSlot, nullptr, nullptr, &count, nullptr) && count > 0) {
      ReadFile(bSlot, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
    }
  }
};

Lan& TheLan() {
  static Lan lan;
  return lan;
}

void ReceiveCommand(benchmark::State& state, const std::string& command, const std::string& body,
                    int countedId) {
  Lan& lan = TheLan();
  lan.host.Reset("A", {"B"});
  vask::LanEngine& engine = vask::Engine();
  for (auto _ : state) {
    state.PauseTiming();
    lan.EmptyB();
    lan.Fill(command, body, kBatch);
    state.ResumeTiming();
    vask::DrainSlots(engine);
  }
  lan.EmptyB();
  // Every datagram must have reached its handler, or the figure is of
  // something else.
  if (lan.host.Count(countedId) != static_cast<uint64_t>(state.iterations()) * kBatch)
    state.SkipWithError("datagrams were not all handled");
  state.SetItemsProcessed(state.iterations() * kBatch);
}

// "STATUS" from a contact: seq check, contact lookup, bus, four contact
// columns read or written, the contact-changed message.
void BM_ReceiveStatus(benchmark::State& state) {
  ReceiveCommand(state, "STATUS", StatusBody(), vask::kMsgContactChanged);
}

// "MESSAGE" from a contact: as above, then the message shown to the host
// and the "MESSAGEACK" sent back to B, and the query of the host's message
// queue once per drain.
void BM_ReceiveMessage(benchmark::State& state) {
  ReceiveCommand(state, "MESSAGE", MessageBody(), vask::kMsgShowMessage);
}

// The baseline: the same datagrams read off a plain socket until it is empty.
void BM_RawRecv(benchmark::State& state) {
  Lan& lan = TheLan();
  static const int fd = BindAt(lan.dir + "/WORKGROUP/A", "raw");
  const sockaddr_un address = AddressOf(lan.dir + "/WORKGROUP/A/raw");
  const std::string datagram = vask::BuildDatagram(1, "B", "A", "MESSAGE", MessageBody());
  int64_t received = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kBatch; ++i) {
      if (!RawSend(address, datagram)) std::abort();
    }
    state.ResumeTiming();
    char buffer[vask::kSlotMaxMessage];
    while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) ++received;
  }
  if (received != state.iterations() * kBatch) state.SkipWithError("datagrams were lost");
  state.SetItemsProcessed(received);
}

// N computers in a workgroup of their own ("G<N>"), each a plain socket
// bound where its channel slot would be.
struct Receivers {
  std::vector<std::string> names;
  std::vector<int> fds;
  std::vector<sockaddr_un> addresses;
};

Receivers& ReceiversOf(int count) {
  static std::map<int, Receivers> all;
  Receivers& receivers = all[count];
  if (receivers.names.empty()) {
    const std::string group = TheLan().dir + "/G" + std::to_string(count);
    for (int i = 0; i < count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "N%dX%04d", count, i);
      receivers.names.push_back(name);
      receivers.fds.push_back(BindAt(group + "/" + name, "vask"));
      receivers.addresses.push_back(AddressOf(group + "/" + name + "/vask"));
    }
  }
  return receivers;
}

// Empties every receiver; false unless each held exactly `expected`.
bool EmptyReceivers(const Receivers& receivers, int expected) {
  bool exact = true;
  for (int fd : receivers.fds) exact = EmptySocket(fd) == expected && exact;
  return exact;
}

void FanOut(benchmark::State& state, bool listed) {
  Lan& lan = TheLan();
  const int count = static_cast<int>(state.range(0));
  Receivers& receivers = ReceiversOf(count);
  lan.host.Reset("A", listed ? receivers.names : std::vector<std::string>{});
  setenv("VASK_WORKGROUP", ("G" + std::to_string(count)).c_str(), 1);
  vask::LanEngine& engine = vask::Engine();
  engine.SetOnlyListed(false);
  const std::string body = StatusBody();
  bool exact = true;
  for (auto _ : state) {
    if (!engine.SendPacket(listed ? "^" : "*", "STATUS", body)) {
      state.SkipWithError("SendPacket failed");
      break;
    }
    state.PauseTiming();
    exact = EmptyReceivers(receivers, 1) && exact;
    state.ResumeTiming();
  }
  setenv("VASK_WORKGROUP", "WORKGROUP", 1);
  if (!exact) state.SkipWithError("a receiver did not get exactly one datagram per send");
  state.counters["per_receiver"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * count,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// "^": the host's LAN contacts in row order, one client slot opened per
// contact.
void BM_FanOutContacts(benchmark::State& state) { FanOut(state, true); }
// "*": one client slot for the workgroup; the platform layer lists the
// computers and proves each live at the write.
void BM_FanOutWorkgroup(benchmark::State& state) { FanOut(state, false); }

void BM_RawFanOut(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Receivers& receivers = ReceiversOf(count);
  const std::string datagram = vask::BuildDatagram(1, "A", "N", "STATUS", StatusBody());
  bool exact = true;
  for (auto _ : state) {
    for (const sockaddr_un& address : receivers.addresses) {
      if (!RawSend(address, datagram)) state.SkipWithError("raw send failed");
    }
    state.PauseTiming();
    exact = EmptyReceivers(receivers, 1) && exact;
    state.ResumeTiming();
  }
  if (!exact) state.SkipWithError("a receiver did not get exactly one datagram per send");
  state.counters["per_receiver"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * count,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The best single sends: sendto on a long-lived socket to each receiver.
void BM_SendtoFanOut(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Receivers& receivers = ReceiversOf(count);
  const std::string datagram = vask::BuildDatagram(1, "A", "N", "STATUS", StatusBody());
  // A socket per receiver: the datagrams a socket sent stay charged to its
  // buffer until they are read, and 1000 of them fill one (208 KiB).
  static std::map<int, std::vector<int>> socketsOf;
  std::vector<int>& sockets = socketsOf[count];
  while (sockets.size() < receivers.addresses.size())
    sockets.push_back(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  bool exact = true;
  for (auto _ : state) {
    for (size_t i = 0; i < receivers.addresses.size(); ++i) {
      const sockaddr_un& address = receivers.addresses[i];
      if (::sendto(sockets[i], datagram.data(), datagram.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address),
                   sizeof address) != static_cast<ssize_t>(datagram.size()))
        state.SkipWithError("sendto failed");
    }
    state.PauseTiming();
    exact = EmptyReceivers(receivers, 1) && exact;
    state.ResumeTiming();
  }
  if (!exact) state.SkipWithError("a receiver did not get exactly one datagram per send");
  state.counters["per_receiver"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * count,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The best of all: the receivers' datagrams in sendmmsg calls of 64 each.
void BM_SendmmsgFanOut(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Receivers& receivers = ReceiversOf(count);
  const std::string datagram = vask::BuildDatagram(1, "A", "N", "STATUS", StatusBody());
  // A socket per 64 receivers, for the buffer as above.
  static std::map<int, std::vector<int>> socketsOf;
  std::vector<int>& sockets = socketsOf[count];
  while (sockets.size() * 64 < receivers.addresses.size())
    sockets.push_back(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  iovec vector{const_cast<char*>(datagram.data()), datagram.size()};
  std::vector<mmsghdr> messages(receivers.addresses.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    messages[i] = {};
    messages[i].msg_hdr.msg_name = &receivers.addresses[i];
    messages[i].msg_hdr.msg_namelen = sizeof receivers.addresses[i];
    messages[i].msg_hdr.msg_iov = &vector;
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  bool exact = true;
  for (auto _ : state) {
    for (size_t at = 0; at < messages.size();) {
      const unsigned n = static_cast<unsigned>(std::min<size_t>(64, messages.size() - at));
      const int sent = ::sendmmsg(sockets[at / 64], messages.data() + at, n, MSG_NOSIGNAL);
      if (sent <= 0) {
        state.SkipWithError("sendmmsg failed");
        break;
      }
      at += static_cast<size_t>(sent);
    }
    state.PauseTiming();
    exact = EmptyReceivers(receivers, 1) && exact;
    state.ResumeTiming();
  }
  if (!exact) state.SkipWithError("a receiver did not get exactly one datagram per send");
  state.counters["per_receiver"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * count,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The network neighbourhood walk from the root (every workgroup of the
// run's LAN: WORKGROUP, G10, G100 and G1000) and from the workgroup G1000
// alone; per computer found.
void Walk(benchmark::State& state, bool root) {
  Lan& lan = TheLan();
  ReceiversOf(10);
  ReceiversOf(100);
  ReceiversOf(1000);
  lan.host.Reset("A", {"B"});
  vask::SearchStatusRecord notice{};
  NETRESOURCEA group{};
  group.dwDisplayType = RESOURCEDISPLAYTYPE_DOMAIN;
  group.dwUsage = RESOURCEUSAGE_CONTAINER;
  char name[] = "G1000";
  group.lpRemoteName = name;
  for (auto _ : state) {
    if (root) {
      vask::WalkNetwork(notice, vask::WalkStart::Root, nullptr, "");
    } else {
      vask::WalkNetwork(notice, vask::WalkStart::Container, &group, "");
    }
  }
  const double found = static_cast<double>(lan.host.Count(vask::kMsgFoundContact));
  const double perWalk = found / static_cast<double>(state.iterations());
  if (perWalk < (root ? 1110 : 1000)) state.SkipWithError("the walk missed computers");
  state.counters["per_computer"] =
      benchmark::Counter(found, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_WalkRoot(benchmark::State& state) { Walk(state, true); }
void BM_WalkWorkgroup(benchmark::State& state) { Walk(state, false); }

// One-shot: datagrams from 10 000 distinct senders (a "PING" each, whose
// "PONG" finds no such computer) and what the engine keeps for them.
void BM_MemoryDistinctSenders(benchmark::State& state) {
  TheLan().host.Reset("A", {"B"});
  vask::LanEngine& engine = vask::Engine();
  constexpr int kSenders = 10000;
  for (auto _ : state) {
    engine.ForgetSenders();
    malloc_trim(0);
    const size_t heap = HeapInUse();
    const size_t rss = RssBytes();
    bool delivered = false;
    for (int i = 0; i < kSenders; ++i) {
      char sender[16];
      std::snprintf(sender, sizeof sender, "KOMPUTER%05d", i);
      vask::HandleDatagram(engine, vask::BuildDatagram(1, sender, "A", "PING", ""), true,
                           delivered);
    }
    state.counters["senders"] = static_cast<double>(engine.KnownSenders());
    state.counters["heap_per_sender"] = static_cast<double>(HeapInUse() - heap) / kSenders;
    state.counters["rss_per_sender"] = static_cast<double>(RssBytes() - rss) / kSenders;
    engine.ForgetSenders();
  }
}

// One-shot: 100 000 "MESSAGE" datagrams from B drained as the worker does,
// in batches of 100; the heap and RSS growth over them.
void BM_Memory100kMessages(benchmark::State& state) {
  Lan& lan = TheLan();
  lan.host.Reset("A", {"B"});
  vask::LanEngine& engine = vask::Engine();
  constexpr int kMessages = 100000;
  constexpr int kPerDrain = 100;
  const std::string body = MessageBody();
  for (auto _ : state) {
    // One batch first, so that buffers sized once are not counted as growth.
    lan.Fill("MESSAGE", body, kPerDrain);
    vask::DrainSlots(engine);
    lan.EmptyB();
    malloc_trim(0);
    const uint64_t before = lan.host.Count(vask::kMsgShowMessage);
    const size_t heap = HeapInUse();
    const size_t rss = RssBytes();
    for (int i = 0; i < kMessages / kPerDrain; ++i) {
      lan.Fill("MESSAGE", body, kPerDrain);
      vask::DrainSlots(engine);
      lan.EmptyB();
    }
    state.counters["messages"] =
        static_cast<double>(lan.host.Count(vask::kMsgShowMessage) - before);
    state.counters["heap_growth"] = static_cast<double>(HeapInUse()) - static_cast<double>(heap);
    state.counters["rss_growth"] = static_cast<double>(RssBytes()) - static_cast<double>(rss);
  }
}

BENCHMARK(BM_RawRecv);
BENCHMARK(BM_ReceiveStatus);
BENCHMARK(BM_ReceiveMessage);
BENCHMARK(BM_RawFanOut)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SendtoFanOut)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SendmmsgFanOut)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_FanOutContacts)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_FanOutWorkgroup)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_WalkWorkgroup);
BENCHMARK(BM_WalkRoot);
BENCHMARK(BM_MemoryDistinctSenders)->Iterations(1)->Repetitions(1);
BENCHMARK(BM_Memory100kMessages)->Iterations(1)->Repetitions(1);

}  // namespace

BENCHMARK_MAIN();
