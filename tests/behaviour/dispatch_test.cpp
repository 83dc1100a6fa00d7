// The export's dispatch as the host sees it: constant answers, the default
// path, the status text and computer name buffers, the cloak command.
#include <cstring>
#include <string>

#include "base/log.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

class DispatchTest : public PluginFixture {
 protected:
  std::string LastBox() {
    auto boxes = host().messageBoxes();
    return boxes.empty() ? std::string("<none>") : boxes.back().text;
  }
  std::string CloakName() {
    ChatCommand("/vask cloak");
    const std::string text = LastBox();
    const std::string prefix = "Messenger cloak name - ";
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "<" + text + ">";
  }
  size_t ServiceCalls(const char* service) {
    return host().calls().CountIf([service](const host::RecordedCall& c) { return c.service == service; });
  }
};

TEST_F(DispatchTest, ConstantAnswersAndIdentity) {
  EXPECT_EQ(Call(kMsgInitialised), 1);
  EXPECT_EQ(Call(kMsgInterfaceVersion), 2);
  EXPECT_EQ(Call(kMsgPluginFlags), 64);
  EXPECT_EQ(Call(kMsgMessageLimit), 100000);
  EXPECT_EQ(Call(kMsgNetworkId), NET_LAN);
  EXPECT_EQ(Call(kMsgNetworkFlags), 511);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgShortName)), "Vask");
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgDisplayName)), "V.ask");
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgNetworkName)), "LAN");
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgNetworkNameAgain)), "LAN");
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgHostWord)), "Host");
  EXPECT_EQ(Call(kMsgOwnStatus), kStatusOffline);
  EXPECT_TRUE(host().errorCodes().empty());
}

// Ids the plug-in does not know: any number, and one between two it knows.
constexpr int kUnknownId = 12345;
constexpr int kUnknownNeighbourId = 30012;

TEST_F(DispatchTest, UnknownIdSetsErrorOneAndAnswersZero) {
  EXPECT_EQ(Call(kUnknownId, 1, 2), 0);
  EXPECT_EQ(host().errorCodes(), std::vector<int>{1});
  EXPECT_EQ(Call(kUnknownNeighbourId), 0);
  EXPECT_EQ(host().errorCodes(), (std::vector<int>{1, 1}));
}

class DispatchBeforeStartTest : public PluginFixture {
 protected:
  DispatchBeforeStartTest() { startPlugin_ = false; }
};

TEST_F(DispatchBeforeStartTest, UnknownIdWithoutControlObjectCallsNothing) {
  const uint64_t mark = host().calls().Mark();
  EXPECT_EQ(Call(kUnknownId), 0);
  EXPECT_EQ(Call(kMsgNetworkId), NET_LAN);
  EXPECT_TRUE(host().errorCodes().empty());
  EXPECT_EQ(host().calls().CountIf([mark](const host::RecordedCall& c) { return c.sequence >= mark; }), 0u);
}

TEST_F(DispatchTest, StatusTextIsCopiedIntoABufferOfItsLengthPlusOne) {
  const uint64_t mark = host().calls().Mark();
  const char* empty = reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo));
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  auto buffer = host().calls().WaitFor(
      [mark](const host::RecordedCall& c) { return c.sequence >= mark && c.service == "TempBuffer"; },
      std::chrono::milliseconds(0));
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(Unpacked(buffer->message.p1), 1);

  EXPECT_EQ(Call(kMsgSetStatus, -1, Text("Na obiedzie")), 1);  // -1: the text alone
  const uint64_t second = host().calls().Mark();
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), "Na obiedzie");
  buffer = host().calls().WaitFor(
      [second](const host::RecordedCall& c) { return c.sequence >= second && c.service == "TempBuffer"; },
      std::chrono::milliseconds(0));
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(Unpacked(buffer->message.p1), 12);
}

// A record is read only as far as its size says: a status change whose
// record ends after p1 keeps the description, whatever lies behind it.
TEST_F(DispatchTest, ParametersBeyondTheRecordsSizeAreNotRead) {
  EXPECT_EQ(Call(kMsgSetStatus, -1, Text("Przed")), 1);
  HostMessage message{};
  message.size = HostMessageSize(1);
  message.id = kMsgSetStatus;
  message.p1 = -1;
  message.p2 = Text("Za rekordem");
  EXPECT_EQ(host().Call(plugin(), &message), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), "Przed");
}

TEST_F(DispatchTest, ComputerNameInA250ByteBuffer) {
  const uint64_t mark = host().calls().Mark();
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnId)), "A");
  auto buffer = host().calls().WaitFor(
      [mark](const host::RecordedCall& c) { return c.sequence >= mark && c.service == "TempBuffer"; },
      std::chrono::milliseconds(0));
  ASSERT_TRUE(buffer.has_value());
  EXPECT_EQ(Unpacked(buffer->message.p1), 250);
}

TEST_F(DispatchTest, CloakShowsTheCurrentName) {
  EXPECT_EQ(ChatCommand("/vask cloak"), 2);
  EXPECT_EQ(LastBox(), "Messenger cloak name - A");
  EXPECT_EQ(ChatCommand("/vask cloakroom"), 2);  // no " set": shown as well
  EXPECT_EQ(host().messageBoxes().size(), 2u);
  EXPECT_EQ(LastBox(), "Messenger cloak name - A");
}

TEST_F(DispatchTest, CloakSetKeepsTheLeadingBlankAndLogsIt) {
  EXPECT_EQ(ChatCommand("/vask cloak set Kasia"), 2);
  EXPECT_EQ(CloakName(), " Kasia");
  auto log = host().calls().WaitForHost(kMsgLog, std::chrono::milliseconds(0),
                                        [](const host::RecordedCall& c) {
                                          return c.Text("text").find("cloak") != std::string::npos;
                                        });
  ASSERT_TRUE(log.has_value());
  EXPECT_EQ(log->Text("text"), " - VASK cloak set to  Kasia");
  EXPECT_EQ(Unpacked(log->message.p2), kLogLevel);

  EXPECT_EQ(ChatCommand("/vask cloak setX"), 2);  // everything after " set" counts
  EXPECT_EQ(CloakName(), "X");
  EXPECT_EQ(ChatCommand("/vask cloak set"), 2);  // nothing after it: the computer name
  EXPECT_EQ(CloakName(), "A");
}

TEST_F(DispatchTest, ChatsThatAreNoCloakCommandAreLeftAlone) {
  EXPECT_EQ(ChatCommand("/vask cloa"), 1);
  EXPECT_EQ(ChatCommand("hello /vask cloak"), 1);
  EXPECT_EQ(ChatCommand("/vask cloak set Ktoś", 1, 0), 0);  // no flag bit 2
  EXPECT_EQ(ChatCommand("/vask cloak set Ktoś", 2, 2), 0);  // not a type-1 message
  EXPECT_EQ(ChatCommand("/vask cloak set Ktoś", 1, 1 | 4), 0);
  EXPECT_TRUE(host().messageBoxes().empty());
  EXPECT_EQ(CloakName(), "A");
  EXPECT_EQ(Call(kMsgChatCommand, 0), 0);  // no record at all
}

}  // namespace
}  // namespace vask::test
