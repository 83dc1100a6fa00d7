// The engine through the export: the send operation and its fan-out, the
// start and its failures, the stop with and without waiting.
#include <thread>

#include <atomic>

#include "lan_peer.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

// "V.ask nie mógł utworzyć slotów sieciowych" in Windows-1250.
const std::string kSlotsFailed = "V.ask nie m\xF3g\xB3 utworzy\xE6 slot\xF3w sieciowych";

class EngineTest : public PluginFixture {
 protected:
  // Holds the worker inside a host answer. Members, not locals: the hook
  // may still run during TearDown's stop.
  Gate gate_;
  std::atomic<bool> held_{false};
  void TearDown() override {
    gate_.Open();  // a failed test must not leave the worker held
    PluginFixture::TearDown();
  }
  // Subscribes a plug-in id the host does not know to the given events, so
  // that every bus notice shows up as a recorded SendToPlugin.
  void Subscribe(int pluginId, int mask) {
    BusSubscribeRecord record{};
    record.size = sizeof record;
    record.id = 55000;
    record.sender = pluginId;
    record.mask = mask;
    CallRecord(reinterpret_cast<HostMessage*>(&record));
  }
  size_t BusNotices(int id) {
    return host().calls().CountIf([id](const host::RecordedCall& c) {
      return c.service == "SendToPlugin" && c.id == id;
    });
  }
  // Host message 55001: a datagram of another plug-in.
  intptr_t BusSend(const std::string& target, const std::string& command, const std::string& body = "") {
    BusSendRecord record;
    record.head = {};
    record.head.size = sizeof record;
    record.head.id = 55001;
    record.target = target;
    record.command = command;
    record.body = body;
    return CallRecord(reinterpret_cast<HostMessage*>(&record));
  }
  bool Logged(const std::string& text, std::chrono::milliseconds deadline = 5000ms) {
    return WaitFor(1, [&](const host::RecordedCall& c) { return c.Text("text") == text; }, deadline)
        .has_value();
  }
  std::optional<std::string> LoggedStartingWith(const std::string& prefix) {
    auto call = WaitFor(1, [&](const host::RecordedCall& c) { return c.Text("text").rfind(prefix, 0) == 0; });
    if (!call) return std::nullopt;
    return call->Text("text");
  }
  int OwnStatus() { return static_cast<int>(Call(30031)); }
};

TEST_F(EngineTest, FanOutVisitsLanContactsOnly) {
  Peer b("B"), c("C"), d("D");
  ASSERT_TRUE(b.ok() && c.ok() && d.ok());
  AddContact("B");
  AddContact("C", 1);  // another network's contact with a live slot
  AddContact("*");
  AddContact("D");
  Subscribe(77, EVENT_SENT);

  EXPECT_EQ(BusSend("^", "HELLO", "x"), 1);
  // The writes are done when the call returns.
  EXPECT_EQ(c.Waiting(), 0u);
  auto toB = b.Read(0ms);
  auto toD = d.Read(0ms);
  ASSERT_TRUE(toB && toD);
  const DatagramFields fb = SplitBytes(*toB), fd = SplitBytes(*toD);
  ASSERT_EQ(fb.size(), 5u);
  ASSERT_EQ(fd.size(), 5u);
  EXPECT_EQ(fb[2], "B");
  EXPECT_EQ(fd[2], "D");
  EXPECT_EQ(fb[3], "HELLO");
  EXPECT_EQ(fb[4], "x");
  EXPECT_NE(fb[0], fd[0]) << "each copy takes its own number";
  EXPECT_EQ(b.Waiting() + d.Waiting(), 0u);
  // One notice for the "^" call and one per contact datagram; none for "*".
  EXPECT_EQ(BusNotices(55002), 3u);
}

TEST_F(EngineTest, StarGoesToTheDomainUnlessOnlyListed) {
  Peer b("B"), e("E");
  ASSERT_TRUE(b.ok() && e.ok());
  AddContact("B");

  EXPECT_EQ(BusSend("*", "HELLO"), 1);
  auto toB = b.Read(0ms), toE = e.Read(0ms);
  ASSERT_TRUE(toB && toE);
  EXPECT_EQ(SplitBytes(*toB)[2], "*");
  EXPECT_EQ(*toB, *toE) << "one datagram for the whole domain";

  SetSetting(15001, 1);
  Call(21020);
  EXPECT_EQ(BusSend("*", "HELLO"), 1);
  toB = b.Read(0ms);
  ASSERT_TRUE(toB);
  EXPECT_EQ(SplitBytes(*toB)[2], "B");
  EXPECT_EQ(e.Waiting(), 0u) << "E is no contact";
}

TEST_F(EngineTest, FanOutWithoutLanContactIsFalse) {
  Peer c("C");
  AddContact("C", 1);
  Subscribe(77, EVENT_SENT);
  EXPECT_EQ(BusSend("^", "HELLO"), 0);
  EXPECT_EQ(c.Waiting(), 0u);
  EXPECT_EQ(BusNotices(55002), 1u);
}

TEST_F(EngineTest, UnreachableTargetUsesNoSequenceNumber) {
  Peer b("B");
  EXPECT_EQ(BusSend("NOBODY", "PING"), 0);
  EXPECT_EQ(BusSend("B", "PING"), 1);
  auto bytes = b.Read(0ms);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, "1\0A\0B\0PING\0"s);
}

TEST_F(EngineTest, ThirdDatagramAndSequenceAfterRestart) {
  Peer b("B");
  ASSERT_TRUE(b.ok());
  // Talking only with B keeps the own broadcasts from coming back here and
  // being answered, which would use up numbers.
  AddContact("B");
  SetSetting(15001, 1);
  Call(21020);
  Call(33005, 64);
  // The worker's GETSTATUS and STATUS to everybody are numbers 1 and 2.
  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[0], "1");
  auto status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)[0], "2");

  EXPECT_EQ(BusSend("B", "PING"), 1);
  auto ping = b.WaitFor("PING");
  ASSERT_TRUE(ping);
  // The exact wire bytes: no body field.
  EXPECT_EQ(Datagram((*ping)[0], "A", "B", "PING"), "3\0A\0B\0PING\0"s);

  Call(33005, 0);
  auto offline = b.WaitFor("STATUS");
  ASSERT_TRUE(offline);
  EXPECT_EQ((*offline)[4], "0");

  Call(33005, 64);
  auto again = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(again);
  EXPECT_EQ((*again)[0], "1");
  EXPECT_EQ(OwnStatus(), 64);
}

TEST_F(EngineTest, BusyChannelSlotFailsTheStart) {
  HANDLE busy = VaskCreateMailslotOn("A", "Vask", 1000);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  Call(33005, 64);

  auto boxes = host().messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].error);
  EXPECT_EQ(boxes[0].text, kSlotsFailed);
  EXPECT_EQ(OwnStatus(), 0);
  auto last = Last(246);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->Int("status"), 0);
  EXPECT_EQ(last->Text("text"), "");
  EXPECT_EQ(host().calls().CountIf([](const host::RecordedCall& c) { return c.service == "BeginThread"; }),
            0u);
  // The WinPopup slot that did open is given back.
  EXPECT_TRUE(SlotFree("A", "messngr"));

  // Once the name is free again, the next start works.
  CloseHandle(busy);
  Peer b("B");
  Call(33005, 64);
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_EQ(OwnStatus(), 64);
}

TEST_F(EngineTest, WinPopupSlotTakenOnlyLosesEmulation) {
  HANDLE taken = VaskCreateMailslotOn("A", "messngr", 1000);
  ASSERT_NE(taken, INVALID_HANDLE_VALUE);
  Peer b("B");
  Call(33005, 64);
  EXPECT_TRUE(Logged("V.ask nie mo\xBF" "e emulowa\xE6 WinPopup. Slot jest zaj\xEAty!"));
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_EQ(OwnStatus(), 64);
  CloseHandle(taken);
}

TEST_F(EngineTest, NoWinPopupSlotWhenEmulationIsOff) {
  SetSetting(15003, 0);
  Peer b("B");
  Call(33005, 64);
  ASSERT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_FALSE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
}

TEST_F(EngineTest, ThreadThatCannotStartLeavesEngineStopped) {
  host().FailThreads(1);
  Call(33005, 64);
  EXPECT_EQ(OwnStatus(), 0);
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
  Peer b("B");
  Call(33005, 64);
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
}

TEST_F(EngineTest, StopMarksLanContactsOfflineAndTellsTheBus) {
  const int lan = AddContact("B");
  const int other = AddContact("C", 1);
  Call(33005, 64);
  Subscribe(78, EVENT_STOPPING);
  Call(33005, 0);
  auto offline = WaitFor(234, [&](const host::RecordedCall& c) { return c.Int("contact") == lan; });
  ASSERT_TRUE(offline);
  EXPECT_EQ(offline->Int("status"), 0);
  EXPECT_EQ(offline->Text("text"), "");
  EXPECT_TRUE(WaitFor(11014, [&](const host::RecordedCall& c) { return c.message.p1 == lan; }));
  EXPECT_EQ(host().calls().CountIf([&](const host::RecordedCall& c) {
    return (c.id == 234 || c.id == 11014) && c.IsHostMessage() && c.message.p1 == other;
  }), 0u);
  EXPECT_EQ(Count(12001), 1u);
  EXPECT_EQ(BusNotices(55004), 1u);

  // A second stop finds the engine stopped: not even a bus notice.
  Call(33005, 0);
  EXPECT_EQ(BusNotices(55004), 1u);
  EXPECT_EQ(Count(12001), 1u);
}

TEST_F(EngineTest, WaitingStopLogsTheTimeTheWorkerTook) {
  Peer b("B");
  Call(33005, 64);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  Call(22101);
  EXPECT_TRUE(Logged("Czekam na zako\xF1" "czenie w\xB9tku Vask."));
  auto done = LoggedStartingWith("Zako\xF1" "czony po ");
  ASSERT_TRUE(done);
  const int ms = std::stoi(done->substr(std::string("Zako\xF1" "czony po ").size()));
  EXPECT_EQ(ms % 10, 0);
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 5000);
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
}

// The worker is held inside a host call (the sender lookup of a datagram)
// and so never ends while the stop waits.
TEST_F(EngineTest, WaitingStopGivesUpOnAStuckWorkerAndClosesTheSlots) {
  SetAnswer(200, [this](HostMessage*) -> std::optional<intptr_t> {
    gate_.Hold();
    return std::nullopt;
  });
  Peer b("B");
  Call(33005, 64);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "PING")));
  ASSERT_TRUE(gate_.WaitEntered());

  Call(22101);
  EXPECT_TRUE(Logged("Zerwany po 5s.!"));
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));

  // Let go: the worker ends without touching the closed slots, and a new
  // start gets going once it has.
  gate_.Open();
  Call(33005, 64);
  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[0], "1");
  EXPECT_EQ(OwnStatus(), 64);
}

// A start that comes while the worker told to stop still holds the slots
// waits for it instead of finding the slots taken and doing nothing.
TEST_F(EngineTest, StartWhileTheOldWorkerStillStopsWaitsForIt) {
  SetAnswer(200, [this](HostMessage*) -> std::optional<intptr_t> {
    gate_.Hold();
    return std::nullopt;
  });
  Peer b("B");
  Call(33005, 64);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "PING")));
  ASSERT_TRUE(gate_.WaitEntered());

  Call(33005, 0);  // returns at once; the worker is still stuck
  const size_t changes = Count(246);
  std::thread starter([&] { Call(33005, 64); });
  // The set-status announces 64 and then starts the engine.
  EXPECT_TRUE(WaitForCount(246, changes + 1));
  gate_.Open();
  starter.join();

  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[0], "1");
  EXPECT_EQ(OwnStatus(), 64);
  EXPECT_TRUE(host().messageBoxes().empty());
}

}  // namespace
}  // namespace vask::test
