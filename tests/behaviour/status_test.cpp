// The own status through the export: mapping, the host's 246 round trip,
// the engine started and stopped by it, and auto-away.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "lan_peer.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

class StatusTest : public PluginFixture {
 protected:
  int Status() { return static_cast<int>(Call(30031)); }
  intptr_t SetStatus(int status, const char* text = nullptr) {
    return Call(33005, status, text != nullptr ? Text(text) : 0);
  }
  // The status word of the last 246 as the plug-in sent it (before any
  // hook rewrote it, the call log copies the record first).
  std::optional<host::RecordedCall> Last246() { return Last(246); }
  size_t ThreadsStarted() {
    return host().calls().CountIf([](const host::RecordedCall& c) { return c.service == "BeginThread"; });
  }
};

TEST_F(StatusTest, UnknownNumbersAreMappedBeforeTheyAreKept) {
  const struct {
    int requested;
    int kept;
  } cases[] = {{1, 34}, {100, 64}, {-5, 34}, {64, 64}, {65, 65}, {34, 34}, {68, 68}, {50, 34}, {70, 64}};
  for (const auto& c : cases) {
    EXPECT_EQ(SetStatus(c.requested), 1);
    EXPECT_EQ(Status(), c.kept) << c.requested;
  }
}

TEST_F(StatusTest, MinusOneWithATextChangesOnlyTheText) {
  SetStatus(65);
  ASSERT_EQ(Status(), 65);
  SetStatus(-1, "Zaraz będę");
  auto announced = Last246();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), -1);
  EXPECT_EQ(announced->Text("text"), "Zaraz będę");
  EXPECT_EQ(Status(), 65);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(30032)), "Zaraz będę");
}

TEST_F(StatusTest, TheHostsRewrittenStatusAndTextAreReadBack) {
  SetStatus(64);
  ASSERT_EQ(Status(), 64);
  static const char kHostText[] = "od gospodarza";
  SetAnswer(246, [](HostMessage* m) -> std::optional<intptr_t> {
    m->p2 = 65;
    m->p3 = reinterpret_cast<intptr_t>(kHostText);
    return std::nullopt;
  });
  SetStatus(64);
  auto announced = Last246();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), -1);  // unchanged, as the plug-in sent it
  EXPECT_EQ(Status(), 65);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(30032)), kHostText);

  // A rewritten status the host made up is mapped like any other.
  SetAnswer(246, [](HostMessage* m) -> std::optional<intptr_t> {
    m->p2 = 3;
    return std::nullopt;
  });
  SetStatus(0);
  EXPECT_EQ(Status(), 34);
}

TEST_F(StatusTest, OnlineStartsTheEngineAndOfflineStopsIt) {
  ASSERT_EQ(ThreadsStarted(), 0u);
  SetStatus(64);
  EXPECT_EQ(ThreadsStarted(), 1u);
  SetStatus(34);
  EXPECT_EQ(ThreadsStarted(), 1u);  // already running
  SetStatus(0);
  EXPECT_EQ(Status(), 0);
  // The stop tells the host that every LAN contact went offline.
  EXPECT_TRUE(WaitFor(12001).has_value());
}

// Offline and online from two host threads at once: whatever order they
// take, the engine ends as the last status says. Here the stop is held in
// its 12001, before it clears the running flag, while the other thread asks
// for online; that request used to find the engine still running, do
// nothing, and leave it stopped under an online status.
TEST_F(StatusTest, OnlineWhileAStopIsUnderWayEndsRunning) {
  SetStatus(64);
  ASSERT_EQ(ThreadsStarted(), 1u);
  // Owned by the hook too: the shutdown's own 12001 comes after this body.
  struct Hold {
    Gate gate;
    std::atomic<bool> used{false};
  };
  auto hold = std::make_shared<Hold>();
  SetAnswer(12001, [hold](HostMessage*) -> std::optional<intptr_t> {
    if (!hold->used.exchange(true)) hold->gate.Hold();
    return std::nullopt;
  });
  Gate& gate = hold->gate;
  std::thread offline([&] { SetStatus(0); });
  if (!gate.WaitEntered()) {
    gate.Open();
    offline.join();
    FAIL() << "the stop never sent 12001";
  }
  std::atomic<bool> onlineDone{false};
  std::thread online([&] {
    SetStatus(64);
    onlineDone = true;
  });
  // Opened once the online request has returned, or after a while if it
  // waits for the stop to finish first (it must not decide before).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!onlineDone && std::chrono::steady_clock::now() < until) Sleep(5);
  gate.Open();
  offline.join();
  online.join();
  EXPECT_EQ(Status(), 64);
  EXPECT_EQ(ThreadsStarted(), 2u) << "online after the stop did not start the engine again";
}

TEST_F(StatusTest, AFailedStartEndsOffline) {
  // Another copy on this computer holds the channel slot already.
  HANDLE taken = VaskCreateMailslotOn("A", "Vask", 1000);
  ASSERT_NE(taken, INVALID_HANDLE_VALUE);
  SetStatus(64);
  EXPECT_EQ(Status(), 0);
  auto announced = Last246();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), 0);
  EXPECT_EQ(announced->Text("text"), "");
  EXPECT_EQ(Count(246), 3u);  // the start's, the request, the failure's
  CloseHandle(taken);
}

TEST_F(StatusTest, AutoAwayOnlyFromAvailableOrBackSoonWhileRunning) {
  Call(33002);
  EXPECT_EQ(Status(), 0);  // engine stopped: nothing

  SetStatus(34);
  EXPECT_EQ(Call(33002), 0);
  EXPECT_EQ(Status(), 34);  // do not disturb stays

  SetStatus(65);
  const size_t announcements = Count(246);
  EXPECT_EQ(Call(33002), 0);
  EXPECT_EQ(Status(), 68);
  // Coming back restores the stored setting, not the status before.
  SetSetting(15000, 64);
  EXPECT_EQ(Call(33003), 0);
  EXPECT_EQ(Status(), 64);
  EXPECT_EQ(Count(246), announcements);  // auto-away announces nothing
  EXPECT_EQ(ThreadsStarted(), 1u);

  EXPECT_EQ(Call(33003), 0);  // not away: nothing
  EXPECT_EQ(Status(), 64);
}

}  // namespace
}  // namespace vask::test
