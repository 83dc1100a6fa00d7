// The thread routines that the host starts (the worker, a message's
// sending thread, the search thread) end cleanly when memory runs out
// inside them: a log line, the host told what it waits for, and no
// exception into the host's thread start (which would end the host). A
// host answer that throws std::bad_alloc stands in for the allocation.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "base/host_api.h"
#include "fake_host.h"
#include "protocol/outgoing_messages.h"
#include "protocol/receive_loop.h"
#include "search/search_run.h"
#include "transport/extension_bus.h"
#include "transport/lan_engine.h"

namespace vask::test {
namespace {

bool Logged(FakeHost& host, const std::string& text) {
  for (const SentRecord& r : host.Sent(kMsgLog))
    if (r.p1Text == text) return true;
  return false;
}

TEST(ThreadRoutines, WorkerEndsWithALogLineWhenMemoryRunsOut) {
  FakeHost host;
  HostScope scope(host);
  // A subscriber to the worker's start, whose notification fails.
  BusSubscribeRecord subscribe{};
  subscribe.size = sizeof subscribe;
  subscribe.id = kMsgBusSubscribe;
  subscribe.sender = 950;
  subscribe.mask = EVENT_STARTED;
  ASSERT_GE(HandleBusSubscribe(reinterpret_cast<HostMessage*>(&subscribe)), 1);
  host.answer = [](HostMessage* m) -> intptr_t {
    if (m->id == kMsgBusEngine) throw std::bad_alloc();
    return 0;
  };
  EXPECT_EQ(ReceiveLoop(&Engine()), 0u);
  host.answer = nullptr;
  EXPECT_TRUE(Logged(host, "- Watek Vask przerwany: zabraklo pamieci"));
  EXPECT_FALSE(Engine().Running());
}

TEST(ThreadRoutines, SendingThreadReportsTheMessageAsNotSent) {
  FakeHost host;
  HostScope scope(host);
  char to[] = "B";
  char body[] = "tekst";
  char empty[] = "";
  MessageRecord original{};
  original.size = sizeof original;
  original.id = 77;
  original.net = NET_LAN;
  original.type = 1;
  original.from = empty;
  original.to = to;
  original.body = body;
  original.ext = empty;
  host.answer = [](HostMessage* m) -> intptr_t {
    if (m->id == kMsgFindContact) throw std::bad_alloc();
    return 0;
  };
  EXPECT_EQ(SendMessageThread(CopyMessageRecord(&original)), 0u);
  host.answer = nullptr;
  EXPECT_TRUE(Logged(host, "- Watek wysylania przerwany: zabraklo pamieci"));
  const auto results = host.Sent(kMsgSendResult);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(Unpacked(results[0].head.p1), 77);
  EXPECT_EQ(Unpacked(results[0].head.p2), 0);
}

class ThrowingPump : public FakeHost {
 public:
  void PumpMessages() override { throw std::bad_alloc(); }
};

TEST(ThreadRoutines, SearchThreadRemovesItsNoticeFirst) {
  ThrowingPump host;
  HostScope scope(host);
  FoundContact request{};
  request.size = sizeof request;
  request.status = 1;
  std::strcpy(request.uid, "NIKT");
  EXPECT_EQ(RunSearch(&request), 0u);
  EXPECT_TRUE(Logged(host, "- Watek wyszukiwania przerwany: zabraklo pamieci"));
  const auto shown = host.Sent(kMsgSearchNoticeShow);
  const auto hidden = host.Sent(kMsgSearchNoticeHide);
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_EQ(hidden.size(), 1u);
  EXPECT_EQ(Unpacked(shown[0].head.p1), Unpacked(hidden[0].head.p1));
}

}  // namespace
}  // namespace vask::test
