// A long conversation between two vask-host processes with disk profiles:
// every message both ways sent, answered, delivered once and acknowledged,
// while malformed datagrams keep arriving at both hosts' slots; the hosts'
// memory stays flat after warm-up.
//
// VASK_SOAK_MESSAGES sets the number of messages in each direction (default
// 3000 for the ordinary suite; tools/run-soak.sh runs 100 000). The figures
// (time, rate, VmRSS) are printed, not asserted, except for a generous bound
// on memory growth.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "multi_fixture.h"
#include "tests/support/lan_peer.h"
#include "tests/support/nul_fields.h"

namespace vask::multi {
namespace {

using test::Join;

constexpr size_t kDefaultMessages = 3000;
// Messages one host may have asked for that the other has not shown yet:
// enough to keep both busy, little enough that nothing waits in a slot for
// anywhere near the 10 s after which a message counts as lost.
constexpr size_t kWindow = 200;
constexpr size_t kBadInputEvery = 500;  // messages between two rounds of bad input
// RSS growth from the warm-up sample to the end that still counts as flat.
constexpr long kRssGrowthLimitKb = 24 * 1024;

size_t MessagesFromEnvironment() {
  const char* text = std::getenv("VASK_SOAK_MESSAGES");
  if (text == nullptr || *text == '\0') return kDefaultMessages;
  const long long n = std::atoll(text);
  return n > 0 ? static_cast<size_t>(n) : kDefaultMessages;
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// One round of what a broken or hostile computer might send, to both of a
// host's slots.
void SendBadInput(const std::string& computer, std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<size_t> length(0, 200);
  auto randomBytes = [&](size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(byte(random));
    return bytes;
  };
  const std::string longName(300, 'N');
  const std::vector<std::string> datagrams = {
      randomBytes(length(random)),
      randomBytes(length(random)),
      randomBytes(length(random)),
      Join({"EVIL", computer, "three fields"}),
      randomBytes(100100),  // the largest a slot takes
      randomBytes(100101),  // one byte more: dropped by the slot
      std::string(100100, 'x'),
      Join({"7", longName, computer, "PING"}),
      Join({"8", longName, computer, "GETSTATUS"}),
      Join({longName, computer, "from a long name"}),
      std::string(1, '\0'),
      std::string(4, '\0'),
      std::string(1000, '\0'),
  };
  // Whether a write gets through does not matter here.
  for (const std::string& bytes : datagrams) {
    test::SendRaw(computer, bytes, "Vask");
    test::SendRaw(computer, bytes, "messngr");
  }
}

// What one host showed, from its output as it comes.
class Tally {
 public:
  Tally(std::string partner, size_t messages) : partner_(std::move(partner)), seen_(messages, 0) {}

  void OnLine(const std::string& line) {
    auto event = JsonField(line, "event");
    if (!event) return;
    std::lock_guard lock(mutex_);
    if (*event == "clock") {
      ++clockTurns_;
    } else if (*event == "contact-status") {
      if (JsonField(line, "address") == partner_)
        partnerText_ = JsonField(line, "text").value_or("");
    } else if (*event == "send-result") {
      auto id = JsonField(line, "messageId");
      auto sent = JsonField(line, "sent");
      ++results_;
      if (sent != "1") ++failedSends_;
      if (id) ++resultsById_[*id];
    } else if (*event == "message") {
      const auto type = JsonField(line, "type");
      const auto body = JsonField(line, "body").value_or("");
      if (type == "2") {
        if (body.find("prawdopodobnie") != std::string::npos) {
          lost_.push_back(body);
        } else {
          others_.push_back(body);  // late deliveries and send errors
        }
      } else if (type == "1" && JsonField(line, "from") == partner_ && body.size() > 1 &&
                 body[0] == 'm') {
        const size_t index = std::strtoull(body.c_str() + 1, nullptr, 10);
        if (index < seen_.size()) {
          if (seen_[index]++ == 0) ++distinct_;
        } else {
          ++strays_;
        }
      }
    } else {
      return;
    }
    changed_.notify_all();
  }

  // Waits until at least `n` different messages of the partner were shown.
  bool WaitSeen(size_t n, std::chrono::seconds deadline = 60s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return distinct_ >= n; });
  }
  bool WaitResults(size_t n, std::chrono::seconds deadline = 60s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return results_ >= n; });
  }
  // Waits until the partner was last seen with this description.
  bool WaitPartnerText(const std::string& text, std::chrono::seconds deadline = 20s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return partnerText_ == text; });
  }
  bool WaitClockTurned(std::chrono::seconds deadline = 5s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] { return clockTurns_ > 0; });
  }
  bool WaitLost(const std::string& part, std::chrono::seconds deadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, [&] {
      return std::any_of(lost_.begin(), lost_.end(),
                         [&](const std::string& l) { return l.find(part) != std::string::npos; });
    });
  }

  size_t distinct() {
    std::lock_guard lock(mutex_);
    return distinct_;
  }
  // Messages shown more than once, and how many were never shown.
  size_t duplicates() {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(seen_.begin(), seen_.end(), [](int n) { return n > 1; }));
  }
  size_t missing() {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(seen_.begin(), seen_.end(), 0));
  }
  size_t results() {
    std::lock_guard lock(mutex_);
    return results_;
  }
  size_t failedSends() {
    std::lock_guard lock(mutex_);
    return failedSends_;
  }
  size_t repeatedResults() {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& [id, count] : resultsById_) n += count > 1 ? 1 : 0;
    return n;
  }
  size_t strays() {
    std::lock_guard lock(mutex_);
    return strays_;
  }
  std::vector<std::string> lost() {
    std::lock_guard lock(mutex_);
    return lost_;
  }
  std::vector<std::string> otherNotices() {
    std::lock_guard lock(mutex_);
    return others_;
  }

 private:
  const std::string partner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int> seen_;  // index of the partner's message -> times shown
  size_t distinct_ = 0;
  size_t strays_ = 0;
  size_t results_ = 0;
  size_t failedSends_ = 0;
  size_t clockTurns_ = 0;
  std::string partnerText_;
  std::map<std::string, int> resultsById_;
  std::vector<std::string> lost_;
  std::vector<std::string> others_;
};

class Soak : public MultiFixture {
 protected:
  void SetUp() override {
    MultiFixture::SetUp();
    // Profiles on disk, as a user has them; beside the LAN, not in it.
    profiles_ = lanDir_ + "-profiles";
    std::filesystem::create_directory(profiles_);
    // Bad input is written from this process, on the hosts' LAN.
    setenv("VASK_LAN_DIR", lanDir_.c_str(), 1);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back (its quarantine, 256 MB) to
    // catch late uses: the hosts' RSS would grow with how much they free,
    // not with what they keep. Without it the bound measures what they keep;
    // LeakSanitizer still checks at their exit.
    const char* options = std::getenv("ASAN_OPTIONS");
    std::string hosts = options && *options ? std::string(options) + ":" : std::string();
    setenv("ASAN_OPTIONS", (hosts + "quarantine_size_mb=0").c_str(), 1);
#endif
  }
  void TearDown() override {
    MultiFixture::TearDown();
    std::error_code error;
    std::filesystem::remove_all(profiles_, error);
  }

  std::string profiles_;
};

TEST_F(Soak, BothWaysNothingLostOrRepeatedMemoryFlatUnderBadInput) {
  const size_t n = MessagesFromEnvironment();
  HostProcess& a = StartHost("A", profiles_ + "/A.db");
  HostProcess& b = StartHost("B", profiles_ + "/B.db");
  a.Send("add B");
  b.Send("add A");
  a.Send(StatusCommand(kStatusAvailable));
  b.Send(StatusCommand(kStatusAvailable));
  // Each must see the other present, or messages would go as WinPopup.
  auto present = [](const std::string& who) {
    return [who](const std::string& list) {
      auto entry = ContactEntry(list, who);
      return entry && JsonInt(*entry, "status") == kStatusAvailable;
    };
  };
  // NOBODY: a contact that looks present, so a message to it goes by the
  // LAN protocol (with WinPopup emulation on, only present contacts get
  // that) and, its computer missing, stays unanswered: the expiry horizon.
  a.Send("add NOBODY");
  b.Send("add NOBODY");
  int statusNumber = 0;  // each a new number: a repeat of the last is dropped
  auto presentAt = [&](const std::string& computer) {
    test::SendRaw(computer, Join({std::to_string(++statusNumber), "NOBODY", computer, "STATUS",
                                  "64", "2097152", ""}));
  };
  auto bothPresent = [&](const std::string& who) {
    return
        [&, who](const std::string& list) { return present(who)(list) && present("NOBODY")(list); };
  };
  auto onA = a.WaitForContacts([&](const std::string& list) {
    if (!present("NOBODY")(list)) presentAt("A");
    return bothPresent("B")(list);
  });
  ASSERT_TRUE(onA && bothPresent("B")(*onA)) << onA.value_or("no contact list from A");
  auto onB = b.WaitForContacts([&](const std::string& list) {
    if (!present("NOBODY")(list)) presentAt("B");
    return bothPresent("A")(list);
  });
  ASSERT_TRUE(onB && bothPresent("A")(*onB)) << onB.value_or("no contact list from B");

  Tally atA("B", n), atB("A", n);  // what A showed of B's messages, and B of A's
  a.Observe([&](const std::string& line) { atA.OnLine(line); });
  b.Observe([&](const std::string& line) { atB.OnLine(line); });
  // The hosts outlive this body: their output must stop reaching the
  // tallies before those go, on every way out.
  struct Unobserve {
    HostProcess& a;
    HostProcess& b;
    ~Unobserve() {
      a.Observe(nullptr);
      b.Observe(nullptr);
    }
  } unobserve{a, b};

  const auto start = std::chrono::steady_clock::now();
  const size_t warmUp = std::max<size_t>(n / 5, 1);
  std::atomic<long> warmA{-1}, warmB{-1};
  std::atomic<bool> stalled{false};
  // One feeder per direction; the A-to-B one also sends the bad input and
  // takes the warm-up sample.
  auto feed = [&](HostProcess& from, const std::string& to, Tally& other, bool extras) {
    std::mt19937 random(12345);
    for (size_t i = 0; i < n; ++i) {
      if (i >= kWindow && !other.WaitSeen(i - kWindow + 1)) {
        stalled = true;
        return;
      }
      from.Send("send " + to + " m" + std::to_string(i));
      if (extras && i % kBadInputEvery == kBadInputEvery / 2) {
        SendBadInput("A", random);
        SendBadInput("B", random);
      }
      if (extras && i == warmUp) {
        warmA = RssKb(a.pid());
        warmB = RssKb(b.pid());
      }
    }
  };
  std::thread towardB([&] { feed(a, "B", atB, true); });
  std::thread towardA([&] { feed(b, "A", atA, false); });
  towardB.join();
  towardA.join();
  ASSERT_FALSE(stalled) << "the window did not move: A showed " << atA.distinct() << ", B showed "
                        << atB.distinct();
  ASSERT_TRUE(atB.WaitSeen(n)) << "B showed " << atB.distinct() << " of " << n;
  ASSERT_TRUE(atA.WaitSeen(n)) << "A showed " << atA.distinct() << " of " << n;
  ASSERT_TRUE(atA.WaitResults(n));
  ASSERT_TRUE(atB.WaitResults(n));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long endA = RssKb(a.pid()), endB = RssKb(b.pid());

  // The expiry horizon: a message to nobody, sent last by each host, whose
  // likely-lost notice comes with or after that of any earlier message
  // still unanswered. Once both are pending (their send results came) and
  // each host showed the other's new description (so the acknowledgements
  // sent before it have arrived: a slot keeps its order), both plug-ins'
  // clocks turn past the expiry: the notices must come well before the ten
  // real seconds would have passed.
  a.Send("send NOBODY horizon-a");
  b.Send("send NOBODY horizon-b");
  ASSERT_TRUE(atA.WaitResults(n + 1));
  ASSERT_TRUE(atB.WaitResults(n + 1));
  a.Send("describe po rozmowie A");
  b.Send("describe po rozmowie B");
  ASSERT_TRUE(atB.WaitPartnerText("po rozmowie A"));
  ASSERT_TRUE(atA.WaitPartnerText("po rozmowie B"));
  a.Send(ClockCommand(kExpiryTurn));
  b.Send(ClockCommand(kExpiryTurn));
  ASSERT_TRUE(atA.WaitClockTurned()) << "A did not turn its clock";
  ASSERT_TRUE(atB.WaitClockTurned()) << "B did not turn its clock";
  EXPECT_TRUE(atA.WaitLost("horizon-a", 5s));
  EXPECT_TRUE(atB.WaitLost("horizon-b", 5s));

  std::printf("soak: %zu messages each way in %.1f s (%.0f messages/s both ways together)\n", n,
              seconds, 2.0 * static_cast<double>(n) / seconds);
  std::printf("soak: VmRSS A %ld kB after %zu messages, %ld kB at the end; B %ld kB, %ld kB\n",
              warmA.load(), warmUp, endA, warmB.load(), endB);

  for (Tally* t : {&atA, &atB}) {
    const char* who = t == &atA ? "at A" : "at B";
    EXPECT_EQ(t->missing(), 0u) << who;
    EXPECT_EQ(t->duplicates(), 0u) << who;
    EXPECT_EQ(t->strays(), 0u) << who;
    EXPECT_EQ(t->results(), n + 1) << who;   // and the horizon's
    EXPECT_EQ(t->failedSends(), 1u) << who;  // the horizon only
    EXPECT_EQ(t->repeatedResults(), 0u) << who;
    // Likely lost: only the horizon; the one other notice is its send error.
    const auto lost = t->lost();
    EXPECT_EQ(lost.size(), 1u) << who << ": " << (lost.empty() ? "none" : lost.back());
    EXPECT_TRUE(lost.empty() || lost.front().find("horizon") != std::string::npos) << who;
    const auto others = t->otherNotices();
    EXPECT_EQ(others.size(), 1u) << who << ": " << (others.empty() ? "none" : others.back());
  }
  ASSERT_GT(warmA.load(), 0);
  ASSERT_GT(warmB.load(), 0);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // A sanitizer's allocator keeps caches per thread and size class, and its
  // shadow memory grows with what was ever touched: the hosts' RSS varies by
  // 5 to 60 MB from run to run there, whatever they keep. Shown here;
  // asserted by the ordinary suite and the full-length soak
  // (tools/run-soak.sh, 100 000 each way).
  std::printf(
      "soak: RSS growth under a sanitizer: A %ld kB, B %ld kB (bound %ld kB, not asserted)\n",
      static_cast<long>(endA - warmA.load()), static_cast<long>(endB - warmB.load()),
      static_cast<long>(kRssGrowthLimitKb));
#else
  EXPECT_LT(endA - warmA.load(), kRssGrowthLimitKb);
  EXPECT_LT(endB - warmB.load(), kRssGrowthLimitKb);
#endif
}

}  // namespace
}  // namespace vask::multi
