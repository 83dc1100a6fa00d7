// The extension bus, through a second plug-in loaded beside ours: its
// subscriptions, what each mask is offered, claims of unknown commands and
// sending through 55001.
#include <thread>
#include <vector>

#include "chat_fixture.h"
#include "tests/listener/bus_listener.h"

namespace vask::test {
namespace {

namespace ids = vask::test_listener;

class Bus : public ChatFixture {
 protected:
  void BeforeStart() override { SetSetting(kWinPopupSetting, 0); }

  // A fresh private copy of the listener, started like any plug-in.
  int LoadListener() {
    std::string error;
    const int id = host().Load(BuildDir() + "/libvask_test_listener.so", true, &error);
    EXPECT_NE(id, 0) << error;
    if (id != 0) {
      EXPECT_TRUE(host().Start(id));
    }
    return id;
  }
  intptr_t Subscribe(int listener, int mask) {
    return host().Call(listener, ids::kSubscribe, plugin(), mask);
  }
  intptr_t Seen(int listener, int record, intptr_t filter = 0) {
    return host().Call(listener, ids::kCount, record, filter);
  }
  intptr_t SeenCommand(int listener, int record, const std::string& command) {
    return Seen(listener, record, Text(command));
  }
  intptr_t ListenerSend(int listener, const std::string& target, const std::string& command) {
    return host().Call(listener, ids::kSend, Text(target), Text(command), 0, 0, 4);
  }
  std::string LastSentTarget(int listener, const std::string& command) {
    char buffer[64] = {};
    host().Call(listener, ids::kLastSentTarget, Text(command), reinterpret_cast<intptr_t>(buffer),
                sizeof buffer, 0, 3);
    return buffer;
  }
};

TEST_F(Bus, SubscriptionAnswersTheNumberOfSubscribers) {
  const int first = LoadListener(), second = LoadListener();
  EXPECT_EQ(Subscribe(first, 2), 1);
  EXPECT_EQ(Subscribe(second, 15), 2);
  EXPECT_EQ(Subscribe(first, 0), 2);
  EXPECT_EQ(Subscribe(first, 15), 2);
}

TEST_F(Bus, EachMaskIsOfferedItsOwnKinds) {
  PeerSlot b("B");
  const int received = LoadListener(), all = LoadListener(), none = LoadListener();
  ASSERT_EQ(Subscribe(received, 2), 1);
  ASSERT_EQ(Subscribe(all, 15), 2);
  ASSERT_EQ(Subscribe(none, 0), 3);
  const int contact = AddContact("B");
  StartEngine();
  ASSERT_TRUE(b.Sync("A"));  // a PING in, a PONG out
  StopEngine();  // offers 55004 with 8 before it returns

  EXPECT_EQ(SeenCommand(received, 55003, "PING"), 1);
  EXPECT_EQ(Seen(received, 55002), 0);
  EXPECT_EQ(Seen(received, 55004), 0);
  EXPECT_EQ(host().Call(received, ids::kLastContact, Text("PING")), contact);

  EXPECT_EQ(SeenCommand(all, 55003, "PING"), 1);
  EXPECT_GE(SeenCommand(all, 55002, "PONG"), 1);
  EXPECT_EQ(LastSentTarget(all, "PONG"), "B");
  EXPECT_EQ(Seen(all, 55004, 4), 1);
  EXPECT_EQ(Seen(all, 55004, 8), 1);

  EXPECT_EQ(Seen(none, 55002) + Seen(none, 55003) + Seen(none, 55004), 0);
}

TEST_F(Bus, UnknownCommandPassesOnlyWhenClaimed) {
  PeerSlot b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, 2), 1);
  StartEngine();
  ASSERT_TRUE(b.Send("A", "PONG"));
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, 55003, "PONG"), 1);
  EXPECT_EQ(LogCount("Unsupported"), 0u);

  host().Call(listener, ids::kClaim, Text("PONG"), 0);
  ASSERT_TRUE(b.Send("A", "PONG"));
  auto line = WaitLog("e=\"Unsupported\"");
  ASSERT_TRUE(line.has_value());
  EXPECT_NE(line->Text("text").find("cmd=1"), std::string::npos);
  EXPECT_EQ(SeenCommand(listener, 55003, "PONG"), 2);
}

TEST_F(Bus, SendGoesOutWhileTheEngineIsStopped) {
  PeerSlot b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, 1), 1);
  EXPECT_EQ(ListenerSend(listener, "B", "PING"), 1);
  auto bytes = b.NextBytes();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, std::string("1\0A\0B\0PING\0", 11));
  EXPECT_EQ(SeenCommand(listener, 55002, "PING"), 1);
  EXPECT_EQ(LastSentTarget(listener, "PING"), "B");
  // Nobody listens on C: nothing written, 0, but the bus still saw it.
  EXPECT_EQ(ListenerSend(listener, "C", "PING"), 0);
  EXPECT_EQ(SeenCommand(listener, 55002, "PING"), 2);
}

TEST_F(Bus, BodyWithNulsTravelsAsFields) {
  PeerSlot b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, 1), 1);
  const std::string body("x\0y", 3);
  EXPECT_EQ(host().Call(listener, ids::kSend, Text("B"), Text("ZAPYTANIE"),
                        reinterpret_cast<intptr_t>(body.data()), 3, 4),
            1);
  auto bytes = b.NextBytes();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(SplitAtNul(*bytes), (Fields{"1", "A", "B", "ZAPYTANIE", "x", "y"}));
}

TEST_F(Bus, RepeatedDatagramIsNotOffered) {
  PeerSlot b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, 2), 1);
  StartEngine();
  const std::string datagram = Join({"5", "B", "A", "PONG"});
  ASSERT_TRUE(WriteSlot("A", "Vask", datagram));
  ASSERT_TRUE(WriteSlot("A", "Vask", datagram));
  b.set_sequence(5);
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, 55003, "PONG"), 1);
}

TEST_F(Bus, SubscribingWhileDatagramsArriveLosesNone) {
  PeerSlot b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, 2), 1);
  StartEngine();
  // Other plug-ins keep subscribing on a host thread while the worker walks
  // the subscribers for every datagram.
  std::thread subscriber([this] {
    for (int i = 0; i < 300; ++i) {
      BusSubscribeRecord record{};
      record.size = sizeof record;
      record.id = 55000;
      record.sender = 1000 + i % 50;
      record.mask = 0;
      CallRecord(reinterpret_cast<HostMessage*>(&record));
    }
  });
  constexpr int kDatagrams = 40;
  for (int i = 0; i < kDatagrams; ++i) ASSERT_TRUE(b.Send("A", "TIK"));
  subscriber.join();
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, 55003, "TIK"), kDatagrams);
  BusSubscribeRecord again{};
  again.size = sizeof again;
  again.id = 55000;
  again.sender = 1000;
  again.mask = 0;
  // The listener and the fifty ids above.
  EXPECT_EQ(CallRecord(reinterpret_cast<HostMessage*>(&again)), 51);
}

}  // namespace
}  // namespace vask::test
