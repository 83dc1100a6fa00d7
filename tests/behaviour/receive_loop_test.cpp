// The receive loop through the export: what a peer's datagrams get back,
// which are dropped and with which log line, and the order of the slots.
#include "plugin_fixture.h"
#include "tests/support/lan_peer.h"

namespace vask::test {
namespace {

class ReceiveLoopTest : public PluginFixture {
 protected:
  // Rejection lines logged so far that name this sender.
  std::vector<std::string> RejectionsFrom(const std::string& sender) {
    std::vector<std::string> lines;
    for (const auto& call : host().calls().HostMessages(kMsgLog)) {
      const std::string text = call.Text("text");
      if (text.rfind("Dotarl", 0) == 0 && text.find("|" + sender + "|") != std::string::npos) {
        lines.push_back(text);
      }
    }
    return lines;
  }
  // Waits for the rejection line of these bytes with this reason.
  bool Rejected(int cmd, const std::string& shownBody, const std::string& reason) {
    const std::string line = "Dotarl nieprawidlowy pakiet cmd=" + std::to_string(cmd) + " body=\"" +
                             shownBody + "\" e=\"" + reason + "\"";
    return WaitFor(kMsgLog, [&](const host::RecordedCall& c) { return c.Text("text") == line; })
        .has_value();
  }
  // Sends a PING under a fresh number and waits for its PONG: everything
  // sent before it has been handled by then.
  void Settle(LanPeer& peer) {
    ASSERT_TRUE(SendRaw("A", Datagram(std::to_string(++marker_), peer.computer(), "A", "PING")));
    ASSERT_TRUE(peer.WaitFor("PONG"));
  }
  int marker_ = 1000;
};

TEST_F(ReceiveLoopTest, RepeatsOfTheLastNumberAreDroppedSilently) {
  LanPeer b("B");
  RunEngine(b);
  b.skipped().clear();

  ASSERT_TRUE(SendRaw("A", Datagram("5", "B", "A", "PING")));
  ASSERT_TRUE(SendRaw("A", Datagram("5", "B", "A", "PING")));  // repeat: dropped
  ASSERT_TRUE(SendRaw("A", Datagram("6", "B", "A", "PING")));
  ASSERT_TRUE(SendRaw("A", Datagram("5", "B", "A", "PING")));  // older, not the last: taken
  ASSERT_TRUE(SendRaw("A", Datagram("9", "B", "A", "GETSTATUS")));
  ASSERT_TRUE(b.WaitFor("STATUS"));
  size_t pongs = 0;
  for (const auto& fields : b.skipped()) pongs += fields[3] == "PONG";
  EXPECT_EQ(pongs, 3u);
  EXPECT_TRUE(RejectionsFrom("B").empty());
}

TEST_F(ReceiveLoopTest, FirstDatagramNumberedZeroFromANewSenderIsADuplicate) {
  LanPeer c("C"), e("E");
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("0", "C", "A", "PING")));
  ASSERT_TRUE(SendRaw("A", Datagram("x", "E", "A", "PING")));  // no number: reads as 0
  ASSERT_TRUE(SendRaw("A", Datagram("1", "C", "A", "PING")));
  ASSERT_TRUE(SendRaw("A", Datagram("1", "E", "A", "PING")));
  auto fromC = c.WaitFor("PONG");
  auto fromE = e.WaitFor("PONG");
  ASSERT_TRUE(fromC && fromE);
  Settle(b);
  // Only the answers to number 1 came.
  EXPECT_EQ(c.Waiting() + e.Waiting(), 0u);
  for (const auto& fields : c.skipped()) EXPECT_NE(fields[3], "PONG");
  for (const auto& fields : e.skipped()) EXPECT_NE(fields[3], "PONG");
}

TEST_F(ReceiveLoopTest, RejectedStatusFromANonContactIsLoggedByteForByte) {
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A",
                      "12\0PC1\0*\0STATUS\0"
                      "64\0"
                      "2097152\0\0"s));
  EXPECT_TRUE(WaitFor(kMsgLog, [](const host::RecordedCall& c) {
    return c.Text("text") ==
           "Dotarl nieprawidlowy pakiet cmd=1 body=\"12|PC1|*|STATUS|64|2097152||\" e=\"Not on "
           "list\"";
  }));
}

TEST_F(ReceiveLoopTest, ChecksAndTheirReasons) {
  LanPeer b("B");
  ASSERT_GT(AddContact("B"), 0);
  RunEngine(b);

  // Three fields on the channel slot.
  ASSERT_TRUE(SendRaw("A", "3\0B\0A\0"s));
  EXPECT_TRUE(Rejected(1, "3|B|A|", "Too short"));
  // "STATUS" from a non-contact that is too short as well: the contact test
  // comes first.
  ASSERT_TRUE(SendRaw("A", Datagram("4", "PC2", "A", "STATUS")));
  EXPECT_TRUE(Rejected(1, "4|PC2|A|STATUS|", "Not on list"));
  // From a contact the same is too short; each command has its minimum.
  ASSERT_TRUE(SendRaw("A", Datagram("5", "B", "A", "STATUS", "64")));
  EXPECT_TRUE(Rejected(1, "5|B|A|STATUS|64|", "Too short"));
  ASSERT_TRUE(SendRaw("A", Datagram("6", "B", "A", "MESSAGEACK")));
  EXPECT_TRUE(Rejected(1, "6|B|A|MESSAGEACK|", "Too short"));
  ASSERT_TRUE(SendRaw("A", Datagram("7", "B", "A", "SEARCHREPLY", "1\0a\0b"s)));
  EXPECT_TRUE(Rejected(1, "7|B|A|SEARCHREPLY|1|a|b|", "Too short"));
  // A command nobody handles, "PONG" included.
  ASSERT_TRUE(SendRaw("A", Datagram("8", "B", "A", "PONG")));
  EXPECT_TRUE(Rejected(1, "8|B|A|PONG|", "Unsupported"));
  ASSERT_TRUE(SendRaw("A", Datagram("9", "B", "A", "ping")));
  EXPECT_TRUE(Rejected(1, "9|B|A|ping|", "Unsupported"));
}

// Answers go to the sender field: one that names nobody or everybody gets
// none, so a forged datagram never becomes a broadcast from every copy
// that hears it.
TEST_F(ReceiveLoopTest, ASenderThatNamesEverybodyOrNobodyGetsNoAnswer) {
  LanPeer b("B"), c("C");
  RunEngine(b);
  ASSERT_TRUE(c.WaitFor("STATUS"));  // C too has had the opening broadcasts
  while (c.Read(0ms)) {
  }

  ASSERT_TRUE(SendRaw("A", Datagram("1", "*", "A", "PING")));
  EXPECT_TRUE(Rejected(1, "1|*|A|PING|", "Bad sender"));
  ASSERT_TRUE(SendRaw("A", Datagram("2", "^", "A", "GETSTATUS")));
  EXPECT_TRUE(Rejected(1, "2|^|A|GETSTATUS|", "Bad sender"));
  ASSERT_TRUE(SendRaw("A", Datagram("3", "", "A", "SEARCH")));
  EXPECT_TRUE(Rejected(1, "3||A|SEARCH|", "Bad sender"));
  // Everything before B's own PING has been handled once its PONG is back:
  // an answer to "*" would have reached C as well, and before it.
  b.skipped().clear();
  Settle(b);
  for (const auto& fields : b.skipped()) EXPECT_NE(fields[3], "PONG");
  EXPECT_EQ(c.Waiting(), 0u);
}

TEST_F(ReceiveLoopTest, ShortWinPopupDatagramIsLoggedAsSuch) {
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", "B\0A\0"s, "messngr"));
  EXPECT_TRUE(Rejected(0, "B|A|", "Too short"));
}

TEST_F(ReceiveLoopTest, OnlyListedBansStrangersButAnswersContacts) {
  LanPeer b("B"), z("Z");
  AddContact("B");
  SetSetting(kSettingOnlyListed, 1);
  Call(kMsgSettingsChanged);
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("1", "Z", "A", "GETSTATUS")));
  EXPECT_TRUE(Rejected(1, "1|Z|A|GETSTATUS|", "Banned"));
  Settle(b);
  EXPECT_EQ(z.Waiting(), 0u);
}

TEST_F(ReceiveLoopTest, GetStatusFromAStrangerIsAnswered) {
  LanPeer b("B");
  RunEngine(b);
  LanPeer s("S");  // after the opening broadcasts
  ASSERT_TRUE(SendRaw("A", Datagram("1", "S", "A", "GETSTATUS")));
  auto status = s.WaitFor("STATUS");
  ASSERT_TRUE(status);
  ASSERT_EQ(status->size(), 7u);
  EXPECT_EQ((*status)[1], "A");
  EXPECT_EQ((*status)[2], "S");
  EXPECT_EQ((*status)[4], "64");
  EXPECT_EQ((*status)[5], "2097152");
}

// What comes while the worker handles a datagram is read in the same pass,
// the WinPopup slot's first, and before the next pass's own work (here the
// "STATUS" of a status changed meanwhile): a datagram and its network copy,
// a moment apart, are never a pass apart, which a slow pass could make look
// like a copy sent again.
TEST_F(ReceiveLoopTest, WhatComesDuringAPassIsReadInThatPassWinPopupFirst) {
  Gate& gate = HoldFirstCall(kMsgFindContact);
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("1", "H", "A", "PING")));
  ASSERT_TRUE(gate.WaitEntered());
  // While the worker is held, a channel datagram, a WinPopup one and a
  // status change.
  ASSERT_TRUE(SendRaw("A", Datagram("2", "B", "A", "PING")));
  ASSERT_TRUE(SendRaw("A", "W\0A\0hello\0"s, "messngr"));
  Call(kMsgSetStatus, kStatusDnd);
  b.skipped().clear();
  const uint64_t mark = host().calls().Mark();
  gate.Open();

  auto message =
      WaitFor(kMsgShowMessage, [&](const host::RecordedCall& c) { return c.sequence >= mark; });
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Text("from"), "W");
  EXPECT_EQ(message->Text("body"), "hello");
  auto lookup = WaitFor(kMsgFindContact, [&](const host::RecordedCall& c) {
    return c.sequence >= mark && c.Text("address") == "B";
  });
  ASSERT_TRUE(lookup);
  EXPECT_LT(message->sequence, lookup->sequence);
  ASSERT_TRUE(b.WaitFor("STATUS"));
  size_t pongs = 0;
  for (const auto& fields : b.skipped()) pongs += fields[3] == "PONG";
  EXPECT_EQ(pongs, 1u);
}

TEST_F(ReceiveLoopTest, DrainThatDeliveredAMessageAsksTheHostToShowIt) {
  LanPeer b("B");
  AddContact("B");
  RunEngine(b);
  // A WinPopup message alone does not ask.
  ASSERT_TRUE(SendRaw("A", "W\0A\0hi\0"s, "messngr"));
  ASSERT_TRUE(WaitFor(kMsgShowMessage));
  Settle(b);
  EXPECT_EQ(Count(kMsgQueryMessages), 0u);

  ASSERT_TRUE(SendRaw("A", Datagram("50", "B", "A", "MESSAGE",
                                    "7\0"s
                                    "hello\0"s
                                    "5F000000")));
  ASSERT_TRUE(b.WaitFor("MESSAGEACK"));
  auto query = WaitFor(kMsgQueryMessages);
  ASSERT_TRUE(query);
  EXPECT_EQ(query->Int("f2"), NET_LAN);
  EXPECT_EQ(query->Int("f6"), 0);
  EXPECT_EQ(query->Int("f10"), 1);
  EXPECT_EQ(query->Int("f14"), 0);
  EXPECT_EQ(query->Int("f18"), 2);
  EXPECT_EQ(query->Int("f22"), -1);
  EXPECT_EQ(query->Int("f26"), 0);
}

}  // namespace
}  // namespace vask::test
