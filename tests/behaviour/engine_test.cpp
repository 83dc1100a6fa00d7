// The engine through the export: the send operation and its fan-out, the
// start and its failures, the stop with and without waiting.
#include <memory>
#include <thread>
#include <vector>

#include "plugin_fixture.h"
#include "tests/support/lan_peer.h"
#include "tests/support/stuck_slot.h"

namespace vask::test {
namespace {

// "V.ask nie mógł utworzyć slotów sieciowych" in Windows-1250.
const std::string kSlotsFailed = "V.ask nie m\xF3g\xB3 utworzy\xE6 slot\xF3w sieciowych";

class EngineTest : public PluginFixture {
 protected:
  // Subscribes a plug-in id the host does not know to the given events, so
  // that every bus notice shows up as a recorded SendToPlugin.
  void Subscribe(int pluginId, int mask) {
    BusSubscribeRecord record{};
    record.size = sizeof record;
    record.id = kMsgBusSubscribe;
    record.sender = pluginId;
    record.mask = mask;
    CallRecord(reinterpret_cast<HostMessage*>(&record));
  }
  size_t BusNotices(int id) {
    return host().calls().CountIf(
        [id](const host::RecordedCall& c) { return c.service == "SendToPlugin" && c.id == id; });
  }
  // A datagram of another plug-in, sent through the bus.
  intptr_t BusSend(const std::string& target, const std::string& command,
                   const std::string& body = "") {
    BusSendRecord record{};
    record.head.size = sizeof record;
    record.head.id = kMsgBusSend;
    record.target = RuntimeStringOver(target);
    record.command = RuntimeStringOver(command);
    record.body = RuntimeStringOver(body);
    return CallRecord(reinterpret_cast<HostMessage*>(&record));
  }
  bool Logged(const std::string& text, std::chrono::milliseconds deadline = 5000ms) {
    auto same = [&](const host::RecordedCall& c) { return c.Text("text") == text; };
    return WaitFor(kMsgLog, same, deadline).has_value();
  }
  std::optional<std::string> LoggedStartingWith(const std::string& prefix) {
    auto call = WaitFor(
        kMsgLog, [&](const host::RecordedCall& c) { return c.Text("text").rfind(prefix, 0) == 0; });
    if (!call) return std::nullopt;
    return call->Text("text");
  }
  int OwnStatus() { return static_cast<int>(Call(kMsgOwnStatus)); }
};

TEST_F(EngineTest, FanOutVisitsLanContactsOnly) {
  LanPeer b("B"), c("C"), d("D");
  ASSERT_TRUE(b.ok() && c.ok() && d.ok());
  AddContact("B");
  AddContact("C", 1);  // a contact of network 1, not ours, with a live slot
  AddContact("*");
  AddContact("D");
  Subscribe(77, EVENT_SENT);

  EXPECT_EQ(BusSend("^", "HELLO", "x"), 1);
  // The writes are done when the call returns.
  EXPECT_EQ(c.Waiting(), 0u);
  auto toB = b.Read(0ms);
  auto toD = d.Read(0ms);
  ASSERT_TRUE(toB && toD);
  const DatagramFields fb = SplitAtNul(*toB), fd = SplitAtNul(*toD);
  ASSERT_EQ(fb.size(), 5u);
  ASSERT_EQ(fd.size(), 5u);
  EXPECT_EQ(fb[2], "B");
  EXPECT_EQ(fd[2], "D");
  EXPECT_EQ(fb[3], "HELLO");
  EXPECT_EQ(fb[4], "x");
  EXPECT_NE(fb[0], fd[0]) << "each copy takes its own number";
  EXPECT_EQ(b.Waiting() + d.Waiting(), 0u);
  // One notice for the "^" call and one per contact datagram; none for "*".
  EXPECT_EQ(BusNotices(kMsgBusSent), 3u);
}

TEST_F(EngineTest, StarGoesToTheDomainUnlessOnlyListed) {
  LanPeer b("B"), e("E");
  ASSERT_TRUE(b.ok() && e.ok());
  AddContact("B");

  EXPECT_EQ(BusSend("*", "HELLO"), 1);
  auto toB = b.Read(0ms), toE = e.Read(0ms);
  ASSERT_TRUE(toB && toE);
  EXPECT_EQ(SplitAtNul(*toB)[2], "*");
  EXPECT_EQ(*toB, *toE) << "one datagram for the whole domain";

  SetSetting(kSettingOnlyListed, 1);
  Call(kMsgSettingsChanged);
  EXPECT_EQ(BusSend("*", "HELLO"), 1);
  toB = b.Read(0ms);
  ASSERT_TRUE(toB);
  EXPECT_EQ(SplitAtNul(*toB)[2], "B");
  EXPECT_EQ(e.Waiting(), 0u) << "E is no contact";
}

TEST_F(EngineTest, FanOutWithoutLanContactIsFalse) {
  LanPeer c("C");
  AddContact("C", 1);
  Subscribe(77, EVENT_SENT);
  EXPECT_EQ(BusSend("^", "HELLO"), 0);
  EXPECT_EQ(c.Waiting(), 0u);
  EXPECT_EQ(BusNotices(kMsgBusSent), 1u);
}

TEST_F(EngineTest, UnreachableTargetUsesNoSequenceNumber) {
  LanPeer b("B");
  EXPECT_EQ(BusSend("NOBODY", "PING"), 0);
  EXPECT_EQ(BusSend("B", "PING"), 1);
  auto bytes = b.Read(0ms);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(*bytes, "1\0A\0B\0PING\0"s);
}

TEST_F(EngineTest, ThirdDatagramAndSequenceAfterRestart) {
  LanPeer b("B");
  ASSERT_TRUE(b.ok());
  // Talking only with B keeps the own broadcasts from coming back here and
  // being answered, which would use up numbers.
  AddContact("B");
  SetSetting(kSettingOnlyListed, 1);
  Call(kMsgSettingsChanged);
  Call(kMsgSetStatus, kStatusAvailable);
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

  Call(kMsgSetStatus, kStatusOffline);
  auto offline = b.WaitFor("STATUS");
  ASSERT_TRUE(offline);
  EXPECT_EQ((*offline)[4], "0");

  Call(kMsgSetStatus, kStatusAvailable);
  auto again = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(again);
  EXPECT_EQ((*again)[0], "1");
  EXPECT_EQ(OwnStatus(), kStatusAvailable);
}

TEST_F(EngineTest, BusyChannelSlotFailsTheStart) {
  HANDLE busy = VaskCreateMailslotOn("A", "Vask", 1000);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  Call(kMsgSetStatus, kStatusAvailable);

  auto boxes = host().messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].error);
  EXPECT_EQ(boxes[0].text, kSlotsFailed);
  EXPECT_EQ(OwnStatus(), kStatusOffline);
  auto last = Last(kMsgAnnounceStatus);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->Int("status"), kStatusOffline);
  EXPECT_EQ(last->Text("text"), "");
  EXPECT_EQ(host().calls().CountIf(
                [](const host::RecordedCall& c) { return c.service == "BeginThread"; }),
            0u);
  // The WinPopup slot that did open is given back.
  EXPECT_TRUE(SlotFree("A", "messngr"));

  // Once the name is free again, the next start works.
  CloseHandle(busy);
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_EQ(OwnStatus(), kStatusAvailable);
}

TEST_F(EngineTest, WinPopupSlotTakenOnlyLosesEmulation) {
  HANDLE taken = VaskCreateMailslotOn("A", "messngr", 1000);
  ASSERT_NE(taken, INVALID_HANDLE_VALUE);
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  EXPECT_TRUE(
      Logged("V.ask nie mo\xBF"
             "e emulowa\xE6 WinPopup. Slot jest zaj\xEAty!"));
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_EQ(OwnStatus(), kStatusAvailable);
  CloseHandle(taken);
}

TEST_F(EngineTest, NoWinPopupSlotWhenEmulationIsOff) {
  SetSetting(kSettingWinPopup, 0);
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(b.WaitFor("GETSTATUS"));
  EXPECT_FALSE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
}

TEST_F(EngineTest, ThreadThatCannotStartLeavesEngineStopped) {
  host().FailThreads(1);
  Call(kMsgSetStatus, kStatusAvailable);
  EXPECT_EQ(OwnStatus(), kStatusOffline);
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  EXPECT_TRUE(b.WaitFor("GETSTATUS"));
}

TEST_F(EngineTest, StopMarksLanContactsOfflineAndTellsTheBus) {
  const int lan = AddContact("B");
  const int other = AddContact("C", 1);
  Call(kMsgSetStatus, kStatusAvailable);
  Subscribe(78, EVENT_STOPPING);
  Call(kMsgSetStatus, kStatusOffline);
  auto offline = WaitFor(kMsgContactStatus,
                         [&](const host::RecordedCall& c) { return c.Int("contact") == lan; });
  ASSERT_TRUE(offline);
  EXPECT_EQ(offline->Int("status"), kStatusOffline);
  EXPECT_EQ(offline->Text("text"), "");
  EXPECT_TRUE(WaitFor(kMsgContactWentOffline,
                      [&](const host::RecordedCall& c) { return c.message.p1 == lan; }));
  EXPECT_EQ(host().calls().CountIf([&](const host::RecordedCall& c) {
    return (c.id == kMsgContactStatus || c.id == kMsgContactWentOffline) && c.IsHostMessage() &&
           c.message.p1 == other;
  }),
            0u);
  EXPECT_EQ(Count(kMsgAllWentOffline), 1u);
  EXPECT_EQ(BusNotices(kMsgBusEngine), 1u);

  // A second stop finds the engine stopped: not even a bus notice.
  Call(kMsgSetStatus, kStatusOffline);
  EXPECT_EQ(BusNotices(kMsgBusEngine), 1u);
  EXPECT_EQ(Count(kMsgAllWentOffline), 1u);
}

TEST_F(EngineTest, WaitingStopLogsTheTimeTheWorkerTook) {
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  Call(kMsgShutdown);
  EXPECT_TRUE(
      Logged("Czekam na zako\xF1"
             "czenie w\xB9tku Vask."));
  auto done = LoggedStartingWith(
      "Zako\xF1"
      "czony po ");
  ASSERT_TRUE(done);
  const int ms = std::stoi(done->substr(std::string("Zako\xF1"
                                                    "czony po ")
                                            .size()));
  EXPECT_EQ(ms % 10, 0);
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 5000);
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));
}

// Three contacts whose slots take nothing (their processes stopped) and one
// that reads. The status broadcasts visit the stopped ones first and still
// reach the reader without waiting on them; going offline and quitting
// ends with the worker itself, its last "STATUS" delivered, not with the
// stop giving up on it.
TEST_F(EngineTest, ReceiversThatNeverDrainHoldUpNeitherABroadcastNorTheQuit) {
  std::vector<std::unique_ptr<StuckSlot>> stuck;
  for (const char* name : {"S1", "S2", "S3"}) {
    stuck.push_back(std::make_unique<StuckSlot>(lanDir(), workgroup_, name));
    ASSERT_TRUE(stuck.back()->ok()) << name;
    AddContact(name);
    // Full before the engine starts: whatever comes next finds no room.
    for (int i = 0; i < StuckSlot::KernelQueue(); ++i) ASSERT_TRUE(SendRaw(name, "filler"));
  }
  LanPeer b("B");
  AddContact("B");
  SetSetting(kSettingOnlyListed, 1);  // "*" visits the contacts in turn
  Call(kMsgSettingsChanged);

  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  Call(kMsgSetStatus, kStatusBrb);
  auto brb = b.WaitFor("STATUS");
  ASSERT_TRUE(brb);
  EXPECT_EQ((*brb)[4], std::to_string(kStatusBrb));

  // Offline, then the host ends the plug-in: the worker's last "STATUS"
  // goes to every contact before it ends, and the stop waits for it.
  Call(kMsgSetStatus, kStatusOffline);
  Call(kMsgShutdown);
  auto last = b.WaitFor("STATUS", 0ms);  // only what is there already
  ASSERT_TRUE(last) << "the quit returned before its last STATUS reached B";
  EXPECT_EQ((*last)[4], std::to_string(kStatusOffline));
  // The worker ended by itself within the quit's wait: it closed its slot.
  EXPECT_TRUE(SlotFree("A", "Vask"));
  // The stopped computers get what was sent to them once they read again.
  for (auto& slot : stuck) {
    std::string next;
    do {
      next = slot->Next();
    } while (next == "filler");
    EXPECT_NE(next, "<none>");
  }
}

// The worker is held inside a host call (the sender lookup of a datagram)
// and so never ends while the stop waits.
TEST_F(EngineTest, WaitingStopGivesUpOnAStuckWorkerAndClosesTheSlots) {
  Gate& gate = HoldFirstCall(kMsgFindContact);
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "PING")));
  ASSERT_TRUE(gate.WaitEntered());

  Call(kMsgShutdown);
  EXPECT_TRUE(Logged("Zerwany po 5s.!"));
  EXPECT_TRUE(SlotFree("A", "Vask"));
  EXPECT_TRUE(SlotFree("A", "messngr"));

  // Let go: the worker ends without touching the closed slots, and a new
  // start gets going once it has.
  gate.Open();
  Call(kMsgSetStatus, kStatusAvailable);
  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[0], "1");
  EXPECT_EQ(OwnStatus(), kStatusAvailable);
}

// A start that comes while the worker told to stop still holds the slots
// waits for it instead of finding the slots taken and doing nothing.
TEST_F(EngineTest, StartWhileTheOldWorkerStillStopsWaitsForIt) {
  Gate& gate = HoldFirstCall(kMsgFindContact);
  LanPeer b("B");
  Call(kMsgSetStatus, kStatusAvailable);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "PING")));
  ASSERT_TRUE(gate.WaitEntered());

  Call(kMsgSetStatus, kStatusOffline);  // returns at once; the worker is still stuck
  const size_t changes = Count(kMsgAnnounceStatus);
  std::thread starter([&] { Call(kMsgSetStatus, kStatusAvailable); });
  // The set-status announces the status and then starts the engine.
  EXPECT_TRUE(WaitForCount(kMsgAnnounceStatus, changes + 1));
  gate.Open();
  starter.join();

  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[0], "1");
  EXPECT_EQ(OwnStatus(), kStatusAvailable);
  EXPECT_TRUE(host().messageBoxes().empty());
}

}  // namespace
}  // namespace vask::test
