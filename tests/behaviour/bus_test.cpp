// The extension bus, through a second plug-in loaded beside ours: its
// subscriptions, what each mask is offered, claims of unknown commands and
// sending through the bus.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "abi/runtime_objects.h"
#include "chat_fixture.h"
#include "tests/listener/bus_listener.h"

namespace vask::test {
namespace {

namespace ids = vask::test_listener;

constexpr int kEveryEvent = EVENT_SENT | EVENT_RECEIVED | EVENT_STARTED | EVENT_STOPPING;

class Bus : public ChatFixture {
 protected:
  void BeforeStart() override { SetSetting(kSettingWinPopup, 0); }

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
  EXPECT_EQ(Subscribe(first, EVENT_RECEIVED), 1);
  EXPECT_EQ(Subscribe(second, kEveryEvent), 2);
  EXPECT_EQ(Subscribe(first, 0), 2);
  EXPECT_EQ(Subscribe(first, kEveryEvent), 2);
}

TEST_F(Bus, EachMaskIsOfferedItsOwnKinds) {
  LanPeer b("B");
  const int received = LoadListener(), all = LoadListener(), none = LoadListener();
  ASSERT_EQ(Subscribe(received, EVENT_RECEIVED), 1);
  ASSERT_EQ(Subscribe(all, kEveryEvent), 2);
  ASSERT_EQ(Subscribe(none, 0), 3);
  const int contact = AddContact("B");
  StartEngine();
  ASSERT_TRUE(b.Sync("A"));  // a PING in, a PONG out
  StopEngine();              // offers EVENT_STOPPING before it returns

  EXPECT_EQ(SeenCommand(received, kMsgBusReceived, "PING"), 1);
  EXPECT_EQ(Seen(received, kMsgBusSent), 0);
  EXPECT_EQ(Seen(received, kMsgBusEngine), 0);
  EXPECT_EQ(host().Call(received, ids::kLastContact, Text("PING")), contact);

  EXPECT_EQ(SeenCommand(all, kMsgBusReceived, "PING"), 1);
  EXPECT_GE(SeenCommand(all, kMsgBusSent, "PONG"), 1);
  EXPECT_EQ(LastSentTarget(all, "PONG"), "B");
  EXPECT_EQ(Seen(all, kMsgBusEngine, EVENT_STARTED), 1);
  EXPECT_EQ(Seen(all, kMsgBusEngine, EVENT_STOPPING), 1);

  EXPECT_EQ(Seen(none, kMsgBusSent) + Seen(none, kMsgBusReceived) + Seen(none, kMsgBusEngine), 0);
}

TEST_F(Bus, UnknownCommandPassesOnlyWhenClaimed) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_RECEIVED), 1);
  StartEngine();
  ASSERT_TRUE(b.Send("A", "PONG"));
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, kMsgBusReceived, "PONG"), 1);
  EXPECT_EQ(LogCount("Unsupported"), 0u);

  host().Call(listener, ids::kClaim, Text("PONG"), 0);
  ASSERT_TRUE(b.Send("A", "PONG"));
  auto line = WaitLog("e=\"Unsupported\"");
  ASSERT_TRUE(line.has_value());
  EXPECT_NE(line->Text("text").find("cmd=1"), std::string::npos);
  EXPECT_EQ(SeenCommand(listener, kMsgBusReceived, "PONG"), 2);
}

TEST_F(Bus, SendGoesOutWhileTheEngineIsStopped) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_SENT), 1);
  EXPECT_EQ(ListenerSend(listener, "B", "PING"), 1);
  auto bytes = b.Read();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, std::string("1\0A\0B\0PING\0", 11));
  EXPECT_EQ(SeenCommand(listener, kMsgBusSent, "PING"), 1);
  EXPECT_EQ(LastSentTarget(listener, "PING"), "B");
  // Nobody listens on C: nothing written, 0, but the bus still saw it.
  EXPECT_EQ(ListenerSend(listener, "C", "PING"), 0);
  EXPECT_EQ(SeenCommand(listener, kMsgBusSent, "PING"), 2);
}

TEST_F(Bus, BodyWithNulsTravelsAsFields) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_SENT), 1);
  const std::string body("x\0y", 3);
  EXPECT_EQ(host().Call(listener, ids::kSend, Text("B"), Text("ZAPYTANIE"),
                        reinterpret_cast<intptr_t>(body.data()), 3, 4),
            1);
  auto bytes = b.Read();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(SplitAtNul(*bytes), (Fields{"1", "A", "B", "ZAPYTANIE", "x", "y"}));
}

// Texts of 16 bytes and more stand behind a pointer in the runtime's string
// object, shorter ones inside it; both are written byte for byte, NULs too.
TEST_F(Bus, PointedToTextsTravelByteForByte) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_SENT), 1);
  const std::string body("pierwsze pole\0drugie, dluzsze pole\0", 36);
  EXPECT_EQ(
      host().Call(listener, ids::kSend, Text("B"), Text("ZAPYTANIE-DLUGIE-1"),
                  reinterpret_cast<intptr_t>(body.data()), static_cast<intptr_t>(body.size()), 4),
      1);
  auto bytes = b.Read();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, std::string("1\0A\0B\0ZAPYTANIE-DLUGIE-1\0", 25) + body + '\0');
  EXPECT_EQ(LastSentTarget(listener, "ZAPYTANIE-DLUGIE-1"), "B");
}

// A bus record that ends before its layout does is refused unread: the
// memory right after it is not the process's to read.
TEST_F(Bus, ShortRecordsAreRefusedUnread) {
  const long page = sysconf(_SC_PAGESIZE);
  char* area = static_cast<char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(area, MAP_FAILED);
  ASSERT_EQ(mprotect(area + page, page, PROT_NONE), 0);
  auto* send = reinterpret_cast<HostMessage*>(area + page - 30);
  std::memset(send, 0, 30);
  send->size = 30;
  send->id = kMsgBusSend;
  EXPECT_EQ(CallRecord(send), 0);
  auto* subscribe = reinterpret_cast<HostMessage*>(area + page - 24);
  std::memset(subscribe, 0, 24);
  subscribe->size = 24;
  subscribe->id = kMsgBusSubscribe;
  EXPECT_EQ(CallRecord(subscribe), 0);
  munmap(area, 2 * page);
  EXPECT_TRUE(WaitLog("- Odrzucony rekord 55001: rozmiar 30, a powinien miec " +
                      std::to_string(sizeof(BusSendRecord))));
  EXPECT_TRUE(WaitLog("- Odrzucony rekord 55000: rozmiar 24, a powinien miec 28"));
}

// A plug-in that leaves a record's size at 0 has not stated one: its
// subscription and its send are read by their layout and work.
TEST_F(Bus, RecordsOfSizeZeroAreReadByTheirLayout) {
  LanPeer b("B");
  const int listener = LoadListener();
  BusSubscribeRecord subscribe{};
  subscribe.size = 0;
  subscribe.id = kMsgBusSubscribe;
  subscribe.sender = listener;
  subscribe.mask = EVENT_SENT;
  EXPECT_EQ(CallRecord(reinterpret_cast<HostMessage*>(&subscribe)), 1);
  const std::string target = "B", command = "PING", body;
  BusSendRecord send{};
  send.head.size = 0;
  send.head.id = kMsgBusSend;
  send.head.sender = listener;
  send.target = RuntimeStringOver(target);
  send.command = RuntimeStringOver(command);
  send.body = RuntimeStringOver(body);
  EXPECT_EQ(CallRecord(reinterpret_cast<HostMessage*>(&send)), 1);
  auto bytes = b.Read();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, std::string("1\0A\0B\0PING\0", 11));
  // The subscription of size 0 took: the listener was offered the send.
  EXPECT_EQ(SeenCommand(listener, kMsgBusSent, "PING"), 1);
}

TEST_F(Bus, RepeatedDatagramIsNotOffered) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_RECEIVED), 1);
  StartEngine();
  const std::string datagram = Join({"5", "B", "A", "PONG"});
  ASSERT_TRUE(SendRaw("A", datagram));
  ASSERT_TRUE(SendRaw("A", datagram));
  b.set_sequence(5);
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, kMsgBusReceived, "PONG"), 1);
}

TEST_F(Bus, SubscribingWhileDatagramsArriveLosesNone) {
  LanPeer b("B");
  const int listener = LoadListener();
  ASSERT_EQ(Subscribe(listener, EVENT_RECEIVED), 1);
  StartEngine();
  // Other plug-ins keep subscribing on a host thread while the worker walks
  // the subscribers for every datagram.
  std::thread subscriber([this] {
    for (int i = 0; i < 300; ++i) {
      BusSubscribeRecord record{};
      record.size = sizeof record;
      record.id = kMsgBusSubscribe;
      record.sender = 1000 + i % 50;  // plug-in ids nobody has
      record.mask = 0;
      CallRecord(reinterpret_cast<HostMessage*>(&record));
    }
  });
  constexpr int kDatagrams = 40;
  for (int i = 0; i < kDatagrams; ++i) ASSERT_TRUE(b.Send("A", "TIK"));
  subscriber.join();
  ASSERT_TRUE(b.Sync("A"));
  EXPECT_EQ(SeenCommand(listener, kMsgBusReceived, "TIK"), kDatagrams);
  BusSubscribeRecord again{};
  again.size = sizeof again;
  again.id = kMsgBusSubscribe;
  again.sender = 1000;
  again.mask = 0;
  // The listener and the fifty ids above.
  EXPECT_EQ(CallRecord(reinterpret_cast<HostMessage*>(&again)), 51);
}

}  // namespace
}  // namespace vask::test
