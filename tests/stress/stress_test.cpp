// Everything at once in one process: eight threads sending messages, a
// search, the own status changing, engine stops and starts, a second
// computer talking to us, and a bus subscriber joining while datagrams flow.
//
// A copy sending to its own computer name reads its own datagrams from its
// own channel slot, which closes the loop inside the process; computer B is
// a slot of this process too, whose thread acknowledges what it gets and
// sends messages of its own. The work is a fixed number of messages; every
// wait has a deadline, so a hang fails the test instead of holding it.
//
// Rounds: each starts the engine, runs a burst of everything together, waits
// until every message is answered and acknowledged, then stops the engine
// and sends a few more, which must fail. Within a round every message whose
// send succeeded must be delivered exactly once; the stopped sends must fail
// and expire as likely lost. A last round flips the engine on and off from
// two threads while the senders go on: there only "at most once" holds,
// since a datagram written just before a stop is lost with the slot.
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "behaviour/chat_fixture.h"
#include "tests/listener/bus_listener.h"
#include "tests/support/lan_peer.h"

namespace vask::test {
namespace {

namespace ids = vask::test_listener;

constexpr int kRounds = 3;
constexpr int kSenders = 8;
constexpr int kToSelf = 20;       // per sender and round
constexpr int kToPeer = 3;        // per sender and round
constexpr int kFromPeer = 30;     // per round; every tenth is written twice
constexpr int kWhileStopped = 2;  // per sender and round
constexpr int kChaosPerSender = 6;
constexpr int kChaosFlips = 8;
constexpr auto kDeadline = std::chrono::seconds(30);
constexpr int kEveryEvent = EVENT_SENT | EVENT_RECEIVED | EVENT_STARTED | EVENT_STOPPING;

// What the plug-in told the host, counted as it happens (the call log's
// listener), so that the checks need no scan of the whole log.
class Tally {
 public:
  void On(const host::RecordedCall& call) {
    if (!call.IsHostMessage()) return;
    std::lock_guard lock(mutex_);
    if (call.id == kMsgSendResult) {
      results_[static_cast<int>(call.Int("messageId"))].push_back(
          static_cast<int>(call.Int("sent")));
    } else if (call.id == kMsgShowMessage && call.Int("type") == 1) {
      ++delivered_[call.Text("from") + "|" + call.Text("body")];
    } else if (call.id == kMsgShowMessage && call.Int("type") == 2) {
      notices_.push_back(call.Text("body"));
    } else {
      return;
    }
    changed_.notify_all();
  }

  // Waits until `done` holds (called under the lock); false at the deadline.
  bool Wait(const std::function<bool()>& done, std::chrono::seconds deadline = kDeadline) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, deadline, done);
  }

  // For use inside Wait's predicate or under Locked().
  int DeliveredLocked(const std::string& from, const std::string& body) const {
    auto it = delivered_.find(from + "|" + body);
    return it == delivered_.end() ? 0 : it->second;
  }
  const std::vector<int>* ResultsLocked(int id) const {
    auto it = results_.find(id);
    return it == results_.end() ? nullptr : &it->second;
  }
  std::unique_lock<std::mutex> Locked() { return std::unique_lock(mutex_); }
  std::vector<std::string> Notices() {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  size_t DeliveredTotal() {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& [key, count] : delivered_) n += static_cast<size_t>(count);
    return n;
  }
  std::map<std::string, int> Delivered() {
    std::lock_guard lock(mutex_);
    return delivered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, std::vector<int>> results_;  // host message id -> every send result's flag
  std::map<std::string, int> delivered_;     // "from|body" -> times delivered
  std::vector<std::string> notices_;
};

std::string UpperHex(long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lX", value);
  return buffer;
}

// Computer B: a LAN peer of this process with a thread that reads its
// slot, answers every "MESSAGE" with its "MESSAGEACK" and counts what came.
class PeerComputer {
 public:
  explicit PeerComputer(const std::string& name) : peer_(name) {
    if (ok()) thread_ = std::thread([this] { Loop(); });
  }
  ~PeerComputer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  PeerComputer(const PeerComputer&) = delete;
  PeerComputer& operator=(const PeerComputer&) = delete;

  bool ok() const { return peer_.ok(); }

  // A "MESSAGE" numbered `number` to `target`; `twice` writes the very same
  // datagram again right after, as a network that duplicates would. A
  // receiver drops only a repeat of the last number it took from a sender.
  bool SendMessage(const std::string& target, int number, const std::string& text, bool twice) {
    return peer_.Send(
        target, "MESSAGE",
        {std::to_string(number), text, UpperHex(static_cast<long>(std::time(nullptr)))},
        twice ? 2 : 1);
  }

  // A "PING" and its "PONG": once it is back, the target's worker has
  // handled everything that was in its slot before the "PING".
  bool Sync(const std::string& target) {
    int before;
    {
      std::lock_guard lock(mutex_);
      before = pongs_;
    }
    if (!peer_.Send(target, "PING")) return false;
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return pongs_ > before; });
  }

  bool WaitReceived(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return receivedTotal_ >= count; });
  }
  std::map<std::string, int> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::map<int, int> acks() {
    std::lock_guard lock(mutex_);
    return acks_;
  }

 private:
  void Loop() {
    while (!stop_) {
      auto fields = peer_.ReadFields(std::chrono::milliseconds(0));
      if (!fields) {
        Sleep(1);
        continue;
      }
      Handle(*fields);
    }
  }

  void Handle(const Fields& fields) {
    if (fields.size() < 4) return;
    // As a copy of the plug-in takes them: a repeat of a sender's last
    // sequence number (an answer goes again as the same datagram) is dropped.
    int& last = lastNumbers_[fields[1]];
    const int number = std::atoi(fields[0].c_str());
    if (number == last) return;
    last = number;
    const std::string& command = fields[3];
    if (command == "MESSAGE" && fields.size() >= 6) {
      // The answer goes out before the count, so a test that saw the count
      // knows the acknowledgement is in the sender's slot.
      peer_.Send(fields[1], "MESSAGEACK", {fields[4]});
      std::lock_guard lock(mutex_);
      ++received_[fields[5]];
      ++receivedTotal_;
    } else if (command == "MESSAGEACK" && fields.size() >= 5) {
      std::lock_guard lock(mutex_);
      ++acks_[std::atoi(fields[4].c_str())];
    } else if (command == "PONG") {
      std::lock_guard lock(mutex_);
      ++pongs_;
    } else {
      return;
    }
    changed_.notify_all();
  }

  LanPeer peer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> received_;  // message text -> times received
  size_t receivedTotal_ = 0;
  std::map<int, int> acks_;                 // message number -> times acknowledged
  std::map<std::string, int> lastNumbers_;  // the loop's alone: sender -> last sequence number
  int pongs_ = 0;
};

class Stress : public ChatFixture {
 protected:
  void BeforeStart() override {
    SetSetting(kSettingWinPopup, 0);  // every message by the LAN protocol
    SetSetting(kSettingNotices, 1);   // expiry and late acknowledgements show
    host().calls().SetListener([this](const host::RecordedCall& call) { tally_.On(call); });
  }

  // A message the host asked us to send, and what became of it.
  struct Sent {
    int id;
    std::string to;
    std::string text;
  };

  // Sends from kSenders threads at once: each sends `perSender` messages
  // to `to`, its host ids and texts derived from `tag`.
  std::vector<Sent> SendFromThreads(const std::string& tag, const std::string& to, int perSender,
                                    int firstId) {
    std::vector<Sent> all;
    for (int t = 0; t < kSenders; ++t) {
      for (int i = 0; i < perSender; ++i) {
        all.push_back({firstId + t * perSender + i, to,
                       tag + "t" + std::to_string(t) + "m" + std::to_string(i)});
      }
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kSenders; ++t) {
      threads.emplace_back([this, &all, t, perSender] {
        for (int i = 0; i < perSender; ++i) {
          const Sent& s = all[static_cast<size_t>(t * perSender + i)];
          EXPECT_EQ(SendMessage(s.id, s.to, s.text), 8);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    return all;
  }

  // The sent flag of every send result for this id.
  std::vector<int> Results(int id) {
    auto lock = tally_.Locked();
    const std::vector<int>* r = tally_.ResultsLocked(id);
    return r ? *r : std::vector<int>{};
  }
  bool WaitAllResults(const std::vector<Sent>& sent) {
    return tally_.Wait([&] {
      for (const Sent& s : sent) {
        if (!tally_.ResultsLocked(s.id)) return false;
      }
      return true;
    });
  }

  // The own slot is gone once the ending worker has closed it.
  bool WaitSlotClosed() {
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    while (!SlotFree(computer_, "Vask")) {
      if (std::chrono::steady_clock::now() >= until) return false;
      Sleep(5);
    }
    return true;
  }

  Tally tally_;
};

TEST_F(Stress, SendersSearchStatusRestartsAndABusSubscriberTogether) {
  PeerComputer b("B");
  ASSERT_TRUE(b.ok());
  AddContact("B");
  const int listener = LoadListener();
  ASSERT_NE(listener, 0);

  std::vector<Sent> delivered;        // sent while the engine ran: exactly once
  std::vector<Sent> toPeer;           // likewise, at B
  std::vector<Sent> stopped;          // sent while it was stopped: failed
  std::vector<std::string> fromPeer;  // B's texts: delivered exactly once
  size_t peerReceived = 0;
  int peerNumber = 0;
  int nextId = 1;

  for (int round = 0; round < kRounds; ++round) {
    const std::string tag = "r" + std::to_string(round);
    StartEngine();
    // The listener joins during the first round's traffic; later rounds it
    // must see every datagram that reached the engine.
    const bool joinNow = round == 0;
    if (!joinNow) host().Call(listener, ids::kReset);

    FoundContact request{};
    request.size = sizeof request;
    request.status = 1;  // a query to everybody
    std::atomic<bool> searchDone{false};
    const uint64_t searchMark = host().calls().Mark();
    std::thread search([&] {
      Call(kMsgSearch, reinterpret_cast<intptr_t>(&request));
      searchDone = true;
    });
    std::thread status([&] {
      const int statuses[] = {kStatusDnd, kStatusBrb, kStatusAway, kStatusAvailable};
      for (int i = 0; i < 12; ++i) EXPECT_EQ(Call(kMsgSetStatus, statuses[i % 4], 0), 1);
    });
    std::thread subscriber;
    if (joinNow) {
      subscriber = std::thread([&] {
        // Once some messages have come through, while the rest still flow.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (tally_.DeliveredTotal() < 20 && std::chrono::steady_clock::now() < until) Sleep(1);
        EXPECT_EQ(host().Call(listener, ids::kSubscribe, plugin(), kEveryEvent), 1);
      });
    }
    std::vector<std::string> peerTexts;
    std::thread peer([&] {
      for (int i = 0; i < kFromPeer; ++i) {
        const std::string text = "B" + tag + "m" + std::to_string(i);
        EXPECT_TRUE(b.SendMessage(computer_, ++peerNumber, text, i % 10 == 0));
        peerTexts.push_back(text);
      }
    });
    std::vector<Sent> self, peerBound;
    std::thread toB([&] { peerBound = SendFromThreads(tag + "b", "B", kToPeer, nextId + 50000); });
    self = SendFromThreads(tag, computer_, kToSelf, nextId);
    toB.join();
    peer.join();
    status.join();
    if (subscriber.joinable()) subscriber.join();
    nextId += 100000;

    // The own computer answers the query like any other (a found contact
    // while the search runs); then the search waits for Cancel: pressed
    // until the call has returned.
    EXPECT_TRUE(host().calls().WaitForHost(
        kMsgFoundContact, kDeadline,
        [&](const host::RecordedCall& c) { return c.sequence >= searchMark; }))
        << tag << ": the search found nobody";
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    while (!searchDone && std::chrono::steady_clock::now() < until) {
      host().PressCancel();
      Sleep(5);
    }
    if (!searchDone) {
      search.detach();  // still inside the plug-in: it cannot be joined
      FAIL() << "the search did not end after Cancel";
    }
    search.join();

    // Everything answered, delivered and acknowledged before the stop.
    ASSERT_TRUE(WaitAllResults(self)) << tag;
    ASSERT_TRUE(WaitAllResults(peerBound)) << tag;
    for (const Sent& s : self) ASSERT_EQ(Results(s.id), std::vector<int>{1}) << s.text;
    for (const Sent& s : peerBound) ASSERT_EQ(Results(s.id), std::vector<int>{1}) << s.text;
    ASSERT_TRUE(tally_.Wait([&] {
      for (const Sent& s : self) {
        if (tally_.DeliveredLocked(computer_, s.text) == 0) return false;
      }
      for (const std::string& text : peerTexts) {
        if (tally_.DeliveredLocked("B", text) == 0) return false;
      }
      return true;
    })) << tag
        << ": not every message arrived";
    peerReceived += peerBound.size();
    ASSERT_TRUE(b.WaitReceived(peerReceived)) << tag;
    ASSERT_TRUE(b.Sync(computer_));
    ASSERT_TRUE(b.Sync(computer_));  // the acknowledgements of the last ones too

    if (!joinNow) {
      // Each datagram that reached the engine once was offered once: the
      // messages to ourselves, B's (its repeats dropped before the bus).
      EXPECT_EQ(host().Call(listener, ids::kCount, kMsgBusReceived, Text("MESSAGE")),
                static_cast<intptr_t>(self.size() + peerTexts.size()))
          << tag;
    }
    delivered.insert(delivered.end(), self.begin(), self.end());
    toPeer.insert(toPeer.end(), peerBound.begin(), peerBound.end());
    fromPeer.insert(fromPeer.end(), peerTexts.begin(), peerTexts.end());

    StopEngine();
    ASSERT_TRUE(WaitSlotClosed()) << tag << ": the worker did not close the slot";
    auto failed = SendFromThreads(tag + "s", computer_, kWhileStopped, nextId);
    nextId += 100000;
    ASSERT_TRUE(WaitAllResults(failed)) << tag;
    for (const Sent& s : failed) EXPECT_EQ(Results(s.id), std::vector<int>{0}) << s.text;
    stopped.insert(stopped.end(), failed.begin(), failed.end());
  }

  // Chaos: two threads flip the engine on and off while the senders go on.
  StartEngine();
  std::atomic<bool> flipping{true};
  std::vector<std::thread> flippers;
  for (int f = 0; f < 2; ++f) {
    flippers.emplace_back([&, f] {
      for (int i = 0; i < kChaosFlips && flipping; ++i) {
        Call(kMsgSetStatus, (i + f) % 2 == 0 ? kStatusOffline : kStatusAvailable, 0);
      }
    });
  }
  auto chaos = SendFromThreads("c", computer_, kChaosPerSender, nextId);
  nextId += 100000;
  for (auto& f : flippers) f.join();
  StartEngine();
  ASSERT_TRUE(WaitAllResults(chaos));
  for (const Sent& s : chaos) EXPECT_EQ(Results(s.id).size(), 1u) << s.text;

  // The expiry horizon: a message to nobody is sent last, so once its
  // likely-lost notice is here every earlier unanswered message has had its
  // own (the walk goes in number order).
  const std::string probe = "probe to nobody";
  EXPECT_EQ(SendMessage(nextId, "NOBODY", probe), 8);
  auto lostProbe = WaitNotice(LostNotice(probe), std::chrono::milliseconds(40000));
  ASSERT_TRUE(lostProbe.has_value()) << "the probe never expired";
  ASSERT_TRUE(b.Sync(computer_));

  // At most once, for everything.
  for (const auto& [key, count] : tally_.Delivered()) EXPECT_EQ(count, 1) << key;
  for (const auto& [text, count] : b.received()) EXPECT_EQ(count, 1) << text;
  for (const auto& [number, count] : b.acks()) EXPECT_EQ(count, 1) << "B's message " << number;

  // Exactly once while the engine ran, and acknowledged.
  for (const Sent& s : delivered)
    EXPECT_EQ(tally_.Delivered()[computer_ + "|" + s.text], 1) << s.text;
  for (const std::string& text : fromPeer) EXPECT_EQ(tally_.Delivered()["B|" + text], 1) << text;
  auto atPeer = b.received();
  for (const Sent& s : toPeer) EXPECT_EQ(atPeer[s.text], 1) << s.text;
  EXPECT_EQ(b.acks().size(), static_cast<size_t>(peerNumber));
  for (const Sent& s : stopped)
    EXPECT_EQ(tally_.Delivered().count(computer_ + "|" + s.text), 0u) << s.text;

  // Notices: a failure for every failed send; likely lost exactly the
  // stopped ones and the probe, plus chaos messages lost in a stop; no late
  // acknowledgement, which would mean an answer for a message not pending.
  std::set<std::string> mayBeLost, mustBeLost;
  for (const Sent& s : stopped) mustBeLost.insert(s.text);
  mustBeLost.insert(probe);
  for (const Sent& s : chaos) mayBeLost.insert(s.text);
  std::map<std::string, int> lost;
  size_t failures = 0;
  for (const std::string& notice : tally_.Notices()) {
    EXPECT_NE(notice, LateDeliveryNotice());
    if (notice.rfind(SendErrorPrefix(), 0) == 0) {
      ++failures;
      continue;
    }
    bool matched = false;
    for (const auto* set : {&mustBeLost, &mayBeLost}) {
      for (const std::string& text : *set) {
        if (notice == LostNotice(text)) {
          ++lost[text];
          matched = true;
        }
      }
    }
    EXPECT_TRUE(matched) << "unexpected notice: " << notice;
  }
  for (const std::string& text : mustBeLost) EXPECT_EQ(lost[text], 1) << text;
  size_t failedSends = stopped.size() + 1;  // the probe
  for (const Sent& s : chaos) failedSends += Results(s.id) == std::vector<int>{0} ? 1 : 0;
  EXPECT_EQ(failures, failedSends);
}

// Auto-away's notices race the user's status requests from another host
// thread, over and over, the engine starting and stopping as they go.
// Whatever the order, the status ends as the user's request left it
// (auto-away only turns available or be-right-back into away, never revives
// an offline engine and never overwrites a status set meanwhile), and the
// engine runs exactly while that status is not offline.
class AutoAwayRace : public ChatFixture {
 protected:
  // Whether the engine runs, as the plug-in itself answers it: the "publish
  // the own details" item is withdrawn exactly while the engine is stopped.
  bool EngineRuns() {
    ActionEvent event{};
    event.size = sizeof event;
    event.ref = ActionRef{kItemRefreshOwn, kParentOwnDetails, 0};
    event.code = kActionShowing;
    Call(kMsgAction, reinterpret_cast<intptr_t>(&event));
    auto shown = Last(kMsgSetItemStatus);
    return shown && shown->Int("status", -99) == 0;
  }
};

TEST_F(AutoAwayRace, RacingStatusChangesEndAsTheLastRequestAsked) {
  const int requests[] = {kStatusAvailable, kStatusDnd,      kStatusBrb,       kStatusAvailable,
                          kStatusOffline,   kStatusBrb,      kStatusAvailable, kStatusDnd,
                          kStatusOffline,   kStatusAvailable};
  constexpr int kRaces = 60;
  for (int round = 0; round < kRaces; ++round) {
    const int request = requests[round % std::size(requests)];
    const int notice = (round / 2) % 2 == 0 ? kMsgAutoAwayBegin : kMsgAutoAwayEnd;
    // Both calls leave together.
    std::atomic<int> ready{0};
    auto together = [&ready] {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
    };
    std::thread user([&] {
      together();
      EXPECT_EQ(Call(kMsgSetStatus, request, 0), 1);
    });
    std::thread idle([&] {
      together();
      EXPECT_EQ(Call(notice), 0);
    });
    user.join();
    idle.join();

    const int status = static_cast<int>(Call(kMsgOwnStatus));
    const bool mayBeAway =
        notice == kMsgAutoAwayBegin && (request == kStatusAvailable || request == kStatusBrb);
    if (mayBeAway && status == kStatusAway) {
      SUCCEED();
    } else {
      EXPECT_EQ(status, request) << "round " << round << ", notice " << notice;
    }
    EXPECT_EQ(EngineRuns(), status != kStatusOffline) << "round " << round << ": status " << status;
  }
}

}  // namespace
}  // namespace vask::test
