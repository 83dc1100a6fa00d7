// The receive path says "no" by its result: every reason a datagram is
// turned away comes back from HandleDatagram, with the one log line it has
// always had, and nothing is thrown (a throw on this path ends the host in
// a DLL whose unwinder another plug-in's shared runtime has taken over).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "abi/host_ids.h"
#include "base/log.h"
#include "fake_host.h"
#include "protocol/receive_loop.h"
#include "transport/extension_bus.h"
#include "transport/lan_engine.h"

namespace vask::test {
namespace {

using namespace std::string_literals;

class Rejections : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.ResetValues("A");
    listed_ = host_.AddContact("B");
    ignoredContact_ = host_.AddContact("E");
    host_.SetInt(kTableContacts, ignoredContact_, kColumnStatus, kStatusIgnoredFlag);
    // The contact lookup from the fake's table; "D" is ignored by the user.
    host_.answer = [this](HostMessage* m) -> intptr_t {
      const char* text = reinterpret_cast<const char*>(m->p2);
      if (m->id == kMsgFindContact) return host_.FindContact(m->p1, text);
      if (m->id == kMsgIsIgnored) return std::strcmp(text, "D") == 0;
      return 0;
    };
    Engine().ForgetSenders();
    Engine().SetOnlyListed(false);
  }
  void TearDown() override { Engine().SetOnlyListed(false); }

  // The datagram's result, and the rejection lines it logged.
  Rejection Handle(const std::string& bytes, bool fromChannel = true) {
    const size_t before = host_.Sent(kMsgLog).size();
    bool delivered = false;
    const Rejection result = HandleDatagram(Engine(), bytes, fromChannel, delivered);
    lines_.clear();
    const auto logged = host_.Sent(kMsgLog);
    for (size_t i = before; i < logged.size(); ++i) lines_.push_back(logged[i].p1Text);
    EXPECT_FALSE(delivered);
    return result;
  }
  static std::string Line(int cmd, const std::string& body, const char* reason) {
    return "Dotarl nieprawidlowy pakiet cmd=" + std::to_string(cmd) + " body=\"" + body +
           "\" e=\"" + reason + "\"";
  }

  FakeHost host_;
  HostScope scope_{host_};
  int listed_ = 0;
  int ignoredContact_ = 0;
  std::vector<std::string> lines_;
};

TEST_F(Rejections, EachReasonIsTheResultAndItsOneLogLine) {
  struct Case {
    std::string bytes;
    bool fromChannel;
    bool onlyListed;
    Rejection expected;
    std::string shown;
  };
  const Case cases[] = {
      {"3\0B\0A\0"s, true, false, kTooShort, "3|B|A|"},
      {"B\0A\0"s, false, false, kTooShort, "B|A|"},
      {"4\0*\0A\0PING\0"s, true, false, kBadSender, "4|*|A|PING|"},
      {"5\0^\0A\0PING\0"s, true, false, kBadSender, "5|^|A|PING|"},
      {"6\0C\0A\0PING\0"s, true, true, kBanned, "6|C|A|PING|"},
      {"7\0C\0A\0STATUS\0"s, true, false, kNotOnList, "7|C|A|STATUS|"},
      {"8\0B\0A\0STATUS\0"s
       "64\0"s,
       true, false, kTooShort, "8|B|A|STATUS|64|"},
      {"9\0B\0A\0PONG\0"s, true, false, kUnsupported, "9|B|A|PONG|"},
      {"10\0D\0A\0MESSAGE\0"s
       "1\0hej\0"s,
       true, false, kIgnored, "10|D|A|MESSAGE|1|hej|"},
      {"11\0E\0A\0MESSAGE\0"s
       "2\0hej\0"s,
       true, false, kIgnored, "11|E|A|MESSAGE|2|hej|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    Engine().SetOnlyListed(c.onlyListed);
    const Rejection result = Handle(c.bytes, c.fromChannel);
    ASSERT_TRUE(result);
    EXPECT_STREQ(result.reason, c.expected.reason);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], Line(c.fromChannel ? 1 : 0, c.shown, c.expected.reason));
  }
}

// The log line is cut where the log cuts every line, whatever the length
// of the datagram.
TEST_F(Rejections, ALongRejectedDatagramShowsAsMuchAsTheLineHolds) {
  const std::string text(600, 'x');
  EXPECT_STREQ(Handle("13\0B\0A\0PONG\0"s + text).reason, kUnsupported.reason);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], Line(1, "13|B|A|PONG|" + text, "Unsupported").substr(0, kLogMax));
}

TEST_F(Rejections, ARepeatIsAcceptedWithoutALine) {
  EXPECT_STREQ(Handle("12\0B\0A\0PONG\0"s).reason, kUnsupported.reason);
  // The same number again from the same sender: dropped without a trace.
  const Rejection repeat = Handle("12\0B\0A\0PONG\0"s);
  EXPECT_FALSE(repeat);
  EXPECT_TRUE(lines_.empty());
}

// Another plug-in's bus record whose text claims a length no string can
// hold: refused by the result, where copying it would throw.
TEST_F(Rejections, ABusTextLongerThanAnyDatagramIsRefused) {
  const std::string text = "PING";
  BusSendRecord record{};
  record.head.size = sizeof record;
  record.head.id = kMsgBusSend;
  record.target = RuntimeStringOver(text);
  record.command = RuntimeStringOver(text);
  record.body = RuntimeStringOver(text);
  record.body.length = static_cast<uintptr_t>(-1);
  record.body.capacity = static_cast<uintptr_t>(-1);
  const size_t before = host_.Sent(kMsgLog).size();
  EXPECT_EQ(HandleBusSend(reinterpret_cast<HostMessage*>(&record)), 0);
  const auto logged = host_.Sent(kMsgLog);
  ASSERT_EQ(logged.size(), before + 1);
  EXPECT_EQ(logged.back().p1Text,
            "- Odrzucony rekord " + std::to_string(kMsgBusSend) + ": tekst o dlugosci " +
                std::to_string(static_cast<unsigned long>(static_cast<uintptr_t>(-1))));
}

}  // namespace
}  // namespace vask::test
