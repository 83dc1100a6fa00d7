// The own status through the export: mapping, the round trip of the
// status announced to the host, the engine started and stopped by it, and
// auto-away.
#include <atomic>
#include <string>
#include <thread>

#include "plugin_fixture.h"

namespace vask::test {
namespace {

class StatusTest : public PluginFixture {
 protected:
  int Status() { return static_cast<int>(Call(kMsgOwnStatus)); }
  intptr_t SetStatus(int status, const char* text = nullptr) {
    return Call(kMsgSetStatus, status, text != nullptr ? Text(text) : 0);
  }
  // The last status announced, as the plug-in sent it (before any hook
  // rewrote it, the call log copies the record first).
  std::optional<host::RecordedCall> LastAnnounced() { return Last(kMsgAnnounceStatus); }
  size_t ThreadsStarted() {
    return host().calls().CountIf(
        [](const host::RecordedCall& c) { return c.service == "BeginThread"; });
  }
};

TEST_F(StatusTest, UnknownNumbersAreMappedBeforeTheyAreKept) {
  // 1, 100, -5, 50 and 70 are no status.
  const struct {
    int requested;
    int kept;
  } cases[] = {{1, kStatusDnd},
               {100, kStatusAvailable},
               {-5, kStatusDnd},
               {kStatusAvailable, kStatusAvailable},
               {kStatusBrb, kStatusBrb},
               {kStatusDnd, kStatusDnd},
               {kStatusAway, kStatusAway},
               {50, kStatusDnd},
               {70, kStatusAvailable}};
  for (const auto& c : cases) {
    EXPECT_EQ(SetStatus(c.requested), 1);
    EXPECT_EQ(Status(), c.kept) << c.requested;
  }
}

TEST_F(StatusTest, MinusOneWithATextChangesOnlyTheText) {
  SetStatus(kStatusBrb);
  ASSERT_EQ(Status(), kStatusBrb);
  SetStatus(-1, "Zaraz będę");
  auto announced = LastAnnounced();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), -1);
  EXPECT_EQ(announced->Text("text"), "Zaraz będę");
  EXPECT_EQ(Status(), kStatusBrb);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), "Zaraz będę");
}

TEST_F(StatusTest, TheHostsRewrittenStatusAndTextAreReadBack) {
  SetStatus(kStatusAvailable);
  ASSERT_EQ(Status(), kStatusAvailable);
  static const char kHostText[] = "od gospodarza";
  SetAnswer(kMsgAnnounceStatus, [](HostMessage* m) -> std::optional<intptr_t> {
    m->p2 = kStatusBrb;
    m->p3 = reinterpret_cast<intptr_t>(kHostText);
    return std::nullopt;
  });
  SetStatus(kStatusAvailable);
  auto announced = LastAnnounced();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), -1);  // unchanged, as the plug-in sent it
  EXPECT_EQ(Status(), kStatusBrb);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), kHostText);

  // A rewritten status the host made up (3 is none) is mapped like any other.
  SetAnswer(kMsgAnnounceStatus, [](HostMessage* m) -> std::optional<intptr_t> {
    m->p2 = 3;
    return std::nullopt;
  });
  SetStatus(kStatusOffline);
  EXPECT_EQ(Status(), kStatusDnd);
}

TEST_F(StatusTest, OnlineStartsTheEngineAndOfflineStopsIt) {
  ASSERT_EQ(ThreadsStarted(), 0u);
  SetStatus(kStatusAvailable);
  EXPECT_EQ(ThreadsStarted(), 1u);
  SetStatus(kStatusDnd);
  EXPECT_EQ(ThreadsStarted(), 1u);  // already running
  SetStatus(kStatusOffline);
  EXPECT_EQ(Status(), kStatusOffline);
  // The stop tells the host that every LAN contact went offline.
  EXPECT_TRUE(WaitFor(kMsgAllWentOffline).has_value());
}

// Offline and online from two host threads at once: whatever order they
// take, the engine ends as the last status says. Here the stop is held in
// its "all went offline", before it clears the running flag, while the
// other thread asks for online; that request used to find the engine still
// running, do nothing, and leave it stopped under an online status.
TEST_F(StatusTest, OnlineWhileAStopIsUnderWayEndsRunning) {
  SetStatus(kStatusAvailable);
  ASSERT_EQ(ThreadsStarted(), 1u);
  Gate& gate = HoldFirstCall(kMsgAllWentOffline);
  std::thread offline([&] { SetStatus(kStatusOffline); });
  if (!gate.WaitEntered()) {
    gate.Open();
    offline.join();
    FAIL() << "the stop never said that all went offline";
  }
  std::atomic<bool> onlineDone{false};
  std::thread online([&] {
    SetStatus(kStatusAvailable);
    onlineDone = true;
  });
  // Opened once the online request has returned, or after a while if it
  // waits for the stop to finish first (it must not decide before).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (!onlineDone && std::chrono::steady_clock::now() < until) Sleep(5);
  gate.Open();
  offline.join();
  online.join();
  EXPECT_EQ(Status(), kStatusAvailable);
  EXPECT_EQ(ThreadsStarted(), 2u) << "online after the stop did not start the engine again";
}

TEST_F(StatusTest, AFailedStartEndsOffline) {
  // Another copy on this computer holds the channel slot already.
  HANDLE taken = VaskCreateMailslotOn("A", "Vask", 1000);
  ASSERT_NE(taken, INVALID_HANDLE_VALUE);
  SetStatus(kStatusAvailable);
  EXPECT_EQ(Status(), kStatusOffline);
  auto announced = LastAnnounced();
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), kStatusOffline);
  EXPECT_EQ(announced->Text("text"), "");
  EXPECT_EQ(Count(kMsgAnnounceStatus), 3u);  // the start's, the request, the failure's
  CloseHandle(taken);
}

TEST_F(StatusTest, AutoAwayOnlyFromAvailableOrBackSoonWhileRunning) {
  Call(kMsgAutoAwayBegin);
  EXPECT_EQ(Status(), kStatusOffline);  // engine stopped: nothing

  SetStatus(kStatusDnd);
  EXPECT_EQ(Call(kMsgAutoAwayBegin), 0);
  EXPECT_EQ(Status(), kStatusDnd);  // do not disturb stays

  SetStatus(kStatusBrb);
  const size_t announcements = Count(kMsgAnnounceStatus);
  EXPECT_EQ(Call(kMsgAutoAwayBegin), 0);
  EXPECT_EQ(Status(), kStatusAway);
  // Coming back restores the stored setting, not the status before.
  SetSetting(kSettingLastStatus, kStatusAvailable);
  EXPECT_EQ(Call(kMsgAutoAwayEnd), 0);
  EXPECT_EQ(Status(), kStatusAvailable);
  EXPECT_EQ(Count(kMsgAnnounceStatus), announcements);  // auto-away announces nothing
  EXPECT_EQ(ThreadsStarted(), 1u);

  EXPECT_EQ(Call(kMsgAutoAwayEnd), 0);  // not away: nothing
  EXPECT_EQ(Status(), kStatusAvailable);
}

}  // namespace
}  // namespace vask::test
