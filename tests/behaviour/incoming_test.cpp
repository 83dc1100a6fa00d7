// Receiving messages: delivery to the host, the acknowledgement, the time
// field, the ignore filters and the WinPopup path.
#include <cstdlib>
#include <ctime>

#include "chat_fixture.h"
#include "protocol/incoming_messages.h"
#include "protocol/receive_loop.h"

namespace vask::test {
namespace {

class Incoming : public ChatFixture {
 protected:
  void BeforeStart() override { SetSetting(kSettingWinPopup, 0); }

  // The answers the peer took up to its sync answer, as a copy takes them:
  // a datagram that repeats the last sequence number from A is dropped (an
  // answer goes twice as one datagram).
  std::vector<Fields> Acks(LanPeer& peer) {
    auto before = peer.SyncCollect("A");
    EXPECT_TRUE(before.has_value()) << "no PONG from A";
    std::vector<Fields> acks;
    std::string last;
    for (auto& f : before.value_or(std::vector<Fields>{})) {
      if (f.empty() || f[0] == last) continue;
      last = f[0];
      if (f.size() > 3 && f[3] == "MESSAGEACK") acks.push_back(f);
    }
    return acks;
  }
};

TEST_F(Incoming, MessageIsDeliveredAndAcknowledgedWithItsNumberAsSent) {
  LanPeer b("B");
  StartEngine();
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"007", "dzien dobry", "3F2A1B00"}));
  auto got = WaitReceived("dzien dobry");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Text("from"), "B");
  EXPECT_EQ(got->Text("to"), "");
  EXPECT_EQ(got->Text("ext"), "");
  EXPECT_EQ(got->Int("net"), NET_LAN);
  EXPECT_EQ(got->Int("messageId"), 0);
  EXPECT_EQ(got->Int("flags"), 128);
  EXPECT_EQ(got->Int("field42"), -2);
  EXPECT_EQ(got->Int("icon"), kIconMessage);
  EXPECT_EQ(got->Int("time"), 0x3F2A1B00);
  auto ack = b.WaitFor("MESSAGEACK");
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(*ack, (Fields{ack->at(0), "A", "B", "MESSAGEACK", "007"}));
  // A LAN delivery makes the loop ask the host to show what came.
  EXPECT_TRUE(WaitFor(kMsgQueryMessages).has_value());
}

// A lost answer would leave the sender telling its user that a message
// shown here was likely lost: the answer goes twice, the very same datagram
// right behind itself, which the sender's last-number rule drops when the
// first arrived. With sending again switched off it goes once.
TEST_F(Incoming, AnswerGoesThreeTimesAsOneDatagramUnlessSendingAgainIsOff) {
  LanPeer b("B");
  StartEngine();
  auto answers = [&] {
    auto got = b.SyncCollect("A");
    EXPECT_TRUE(got.has_value());
    std::vector<Fields> out;
    for (auto& f : got.value_or(std::vector<Fields>{})) {
      if (f.size() > 3 && f[3] == "MESSAGEACK") out.push_back(f);
    }
    return out;
  };
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"41", "raz", "3F2A1B00"}));
  ASSERT_TRUE(WaitReceived("raz").has_value());
  auto twice = answers();
  ASSERT_EQ(twice.size(), 3u);
  EXPECT_EQ(twice[0], twice[1]);
  EXPECT_EQ(twice[0], twice[2]);
  EXPECT_EQ(twice[0].at(4), "41");

  SetSetting(kSettingResend, 0);
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"42", "dwa", "3F2A1B00"}));
  ASSERT_TRUE(WaitReceived("dwa").has_value());
  auto once = answers();
  ASSERT_EQ(once.size(), 1u);
  EXPECT_EQ(once[0].at(4), "42");
  EXPECT_NE(once[0].at(0), twice[0].at(0));
}

TEST_F(Incoming, TimeFieldIsTheLeadingHexDigitsOrTheReceiptTime) {
  LanPeer b("B");
  StartEngine();
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"1", "male", "3f2a1b00"}));
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"2", "wielkie", "3F2A1B00"}));
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"3", "bez cyfr", "zz"}));
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"4", "z ogonem", "12zz"}));
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"5", "pusty czas", ""}));
  const long long before = std::time(nullptr);
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"6", "bez pola czasu"}));
  auto timeOf = [&](const std::string& body) {
    auto got = WaitReceived(body);
    EXPECT_TRUE(got.has_value()) << body;
    return got ? got->Int("time") : -1;
  };
  EXPECT_EQ(timeOf("male"), 0x3F2A1B00);
  EXPECT_EQ(timeOf("wielkie"), 0x3F2A1B00);
  EXPECT_EQ(timeOf("bez cyfr"), 0);
  EXPECT_EQ(timeOf("z ogonem"), 18);
  EXPECT_EQ(timeOf("pusty czas"), 0);
  // Six fields carry no time: the message is dated on arrival, not 1970.
  const long long arrived = timeOf("bez pola czasu");
  EXPECT_GE(arrived, before - 1);
  EXPECT_LE(arrived, std::time(nullptr) + 1);
  EXPECT_EQ(Acks(b).size(), 6u);
}

TEST_F(Incoming, EmptyTextIsAcknowledgedButNotQueued) {
  LanPeer b("B");
  const int row = AddContact("B");
  StartEngine();
  ASSERT_TRUE(b.Send("A", "MESSAGE", {"7", "", "3F2A1B00"}));
  auto acks = Acks(b);
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].at(4), "7");
  EXPECT_TRUE(Messages(1).empty());
  // The contact's data is still refreshed.
  EXPECT_TRUE(WaitFor(kMsgContactChanged, [row](const host::RecordedCall& c) {
                return c.message.p1 == row;
              }).has_value());
}

TEST_F(Incoming, IgnoredSendersAreRejectedOrDropped) {
  LanPeer flagged("C"), stranger("X"), listed("D");
  const int c = AddContact("C");
  SetContactStatus(c, kStatusIgnoredFlag | kStatusAvailable);
  host().SetIgnored("X", true);
  AddContact("D");
  host().SetIgnored("D", true);
  StartEngine();

  // A contact marked ignored and an ignored stranger: rejected, no answer.
  ASSERT_TRUE(flagged.Send("A", "MESSAGE", {"1", "od C", "1"}));
  ASSERT_TRUE(stranger.Send("A", "MESSAGE", {"1", "od X", "1"}));
  EXPECT_TRUE(Acks(flagged).empty());
  EXPECT_TRUE(Acks(stranger).empty());
  EXPECT_EQ(LogCount("e=\"Ignored\""), 2u);
  // A contact whose address the host ignores passes the filter and is
  // dropped at delivery, but its sender still gets the answer.
  ASSERT_TRUE(listed.Send("A", "MESSAGE", {"1", "od D", "1"}));
  EXPECT_EQ(Acks(listed).size(), 1u);
  EXPECT_EQ(LogCount("e=\"Ignored\""), 2u);
  EXPECT_TRUE(Messages(1).empty());
}

TEST_F(Incoming, RepeatedDatagramIsDeliveredOnce) {
  LanPeer b("B");
  StartEngine();
  const std::string datagram = Join({"41", "B", "A", "MESSAGE", "3", "raz", "1"});
  ASSERT_TRUE(SendRaw("A", datagram));
  ASSERT_TRUE(SendRaw("A", datagram));
  b.set_sequence(41);
  EXPECT_EQ(Acks(b).size(), 1u);
  EXPECT_EQ(Messages(1).size(), 1u);
}

// A copy of a message that comes after other datagrams of its sender (a
// reordered network copy, or the sender's copy sent again after our answer
// was lost) passes the last-number rule; it is answered again but shown once.
TEST_F(Incoming, MessageRepeatedAfterOtherDatagramsIsShownOnceAndAnsweredAgain) {
  LanPeer b("B");
  StartEngine();
  const std::string message = Join({"41", "B", "A", "MESSAGE", "3", "raz", "6553F100"});
  ASSERT_TRUE(SendRaw("A", message));
  ASSERT_TRUE(SendRaw("A", Join({"42", "B", "A", "GETSTATUS"})));
  ASSERT_TRUE(SendRaw("A", message));
  // The same number and text at another time is another message.
  ASSERT_TRUE(SendRaw("A", Join({"43", "B", "A", "MESSAGE", "3", "raz", "6553F200"})));
  b.set_sequence(43);
  auto acks = Acks(b);
  ASSERT_EQ(acks.size(), 3u);
  for (const auto& ack : acks) EXPECT_EQ(ack.at(4), "3");
  EXPECT_EQ(Messages(1).size(), 2u);
}

// A WinPopup datagram has no number: the network's copy of one (a lossy LAN
// doubles datagrams) is told by its bytes and its sender within a moment,
// and the same words sent again later are a new message.
TEST_F(Incoming, WinPopupCopyWithinAMomentIsShownOnce) {
  SetSetting(kSettingWinPopup, 1);
  StartEngine();
  const std::string popup = Join({"X", "A", "hej"});
  ASSERT_TRUE(SendRaw("A", popup, "messngr"));
  ASSERT_TRUE(SendRaw("A", popup, "messngr"));
  // The same words from somebody else are theirs.
  ASSERT_TRUE(SendRaw("A", Join({"Y", "A", "hej"}), "messngr"));
  ASSERT_TRUE(WaitLog("powtorzona wiadomosc WinPopup od X"));
  VaskAdvanceClock(kPopupRepeatSeconds + 1);
  ASSERT_TRUE(SendRaw("A", popup, "messngr"));
  ASSERT_TRUE(SendRaw("A", Join({"X", "A", "koniec"}), "messngr"));
  const bool ended = WaitReceived("koniec").has_value();
  VaskAdvanceClock(-(kPopupRepeatSeconds + 1));
  ASSERT_TRUE(ended);
  std::vector<std::string> shown;
  for (const auto& m : Messages(1)) shown.push_back(m.Text("from") + ":" + m.Text("body"));
  EXPECT_EQ(shown, (std::vector<std::string>{"X:hej", "Y:hej", "X:hej", "X:koniec"}));
}

// The sender wrote its message again, seconds later and with nothing of its
// own in between, because our answer was lost: the last-number rule would
// drop the copy unanswered, so it is answered again, and shown once. An
// immediate repeat (the network's copy) stays dropped without an answer.
TEST_F(Incoming, LastNumberSentAgainSecondsLaterIsAnsweredAgainAndShownOnce) {
  LanPeer b("B");
  LanPeer s("S");  // marks the worker's progress without a datagram of B's
  StartEngine();
  const std::string message = Join({"41", "B", "A", "MESSAGE", "3", "raz", "6553F100"});
  ASSERT_TRUE(SendRaw("A", message));
  ASSERT_TRUE(SendRaw("A", message));
  ASSERT_TRUE(s.Sync("A"));
  VaskAdvanceClock(kLateRepeatSeconds + 1);
  ASSERT_TRUE(SendRaw("A", message));
  b.set_sequence(41);
  const auto acks = Acks(b);
  VaskAdvanceClock(-(kLateRepeatSeconds + 1));
  ASSERT_EQ(acks.size(), 2u) << "the first answer and the late copy's, none for the immediate one";
  for (const auto& ack : acks) EXPECT_EQ(ack.at(4), "3");
  EXPECT_EQ(Messages(1).size(), 1u);
}

class IncomingListOnly : public Incoming {
 protected:
  void BeforeStart() override {
    SetSetting(kSettingWinPopup, 1);
    SetSetting(kSettingOnlyListed, 1);
  }
};

TEST_F(IncomingListOnly, WinPopupMessagesPassWhileLanOnesAreBanned) {
  LanPeer x("X");
  StartEngine();
  ASSERT_TRUE(x.Send("A", "MESSAGE", {"1", "po sieci", "1"}));
  ASSERT_TRUE(WaitLog("e=\"Banned\"").has_value());
  // WinPopup: no sequence, no list, no answer; an empty text is not queued.
  ASSERT_TRUE(SendRaw("A", Join({"X", "A", ""}), "messngr"));
  ASSERT_TRUE(SendRaw("A", Join({"X", "A", "przez winpopup"}), "messngr"));
  const long long before = std::time(nullptr);
  auto got = WaitReceived("przez winpopup");
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Text("from"), "X");
  EXPECT_EQ(got->Int("type"), 1);
  EXPECT_GE(got->Int("time"), before - 5);
  auto received = Messages(1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Text("body"), "przez winpopup");
  EXPECT_FALSE(x.WaitFor("MESSAGEACK", 200ms).has_value());
}

}  // namespace
}  // namespace vask::test
