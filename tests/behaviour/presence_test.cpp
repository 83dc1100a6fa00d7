// Presence through the export: a contact's "STATUS" in the host's table,
// the own status on the LAN, a contact the host reports, and the watch that
// shows offline a contact whose computer stopped answering.
#include <memory>

#include "chat_fixture.h"
#include "plugin_fixture.h"
#include "protocol/presence_watch.h"
#include "tests/support/lan_peer.h"

namespace vask::test {
namespace {

class PresenceTest : public PluginFixture {
 protected:
  // A "STATUS" from B under the next number; waits until it was handled
  // (the contact-changed message follows every accepted one).
  void StatusFromB(const std::string& body) {
    const size_t handled = Count(kMsgContactChanged);
    ASSERT_TRUE(SendRaw("A", Datagram(std::to_string(++sequence_), "B", "A", "STATUS", body)));
    ASSERT_TRUE(WaitForCount(kMsgContactChanged, handled + 1));
  }
  int sequence_ = 0;
};

TEST_F(PresenceTest, StatusRewritesColumnsEveryTimeButReportsOnlyChanges) {
  LanPeer b("B");
  const int row = AddContact("B");
  RunEngine(b);

  StatusFromB(
      "64\0"s
      "2097152\0"s
      "przy biurku");
  EXPECT_EQ(ContactText(row, kColumnPresent), "Vask");
  EXPECT_EQ(ContactInt(row, kColumnStatusMark), 2097152);
  auto changed = Last(kMsgContactStatus);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->Int("contact"), row);
  EXPECT_EQ(changed->Int("status"), kStatusAvailable);
  EXPECT_EQ(changed->Text("text"), "przy biurku");
  EXPECT_EQ(Count(kMsgStatusChanged), 1u);
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);

  // The same again: the columns are written anew, nothing is reported.
  host().tables().SetText(kTableContacts, row, kColumnPresent, "x");
  host().tables().SetInt(kTableContacts, row, kColumnStatusMark, 5);
  StatusFromB(
      "64\0"s
      "2097152\0"s
      "przy biurku");
  EXPECT_EQ(ContactText(row, kColumnPresent), "Vask");
  EXPECT_EQ(ContactInt(row, kColumnStatusMark), 2097152);
  EXPECT_EQ(Count(kMsgContactStatus), 1u);
  EXPECT_EQ(Count(kMsgStatusChanged), 1u);

  // Only the description changes: reported.
  StatusFromB(
      "64\0"s
      "2097152\0"s
      "na obiedzie");
  EXPECT_EQ(Count(kMsgContactStatus), 2u);
  EXPECT_EQ(Count(kMsgStatusChanged), 2u);
  EXPECT_EQ(Last(kMsgContactStatus)->Text("text"), "na obiedzie");

  // Six fields: the description reads as empty.
  StatusFromB(
      "64\0"s
      "2097152");
  EXPECT_EQ(Count(kMsgContactStatus), 3u);
  EXPECT_EQ(Last(kMsgContactStatus)->Text("text"), "");

  // Offline clears the columns.
  StatusFromB(
      "0\0"s
      "2097152\0"s);
  EXPECT_EQ(ContactText(row, kColumnPresent), "");
  EXPECT_EQ(ContactInt(row, kColumnStatusMark), 0);
  EXPECT_EQ(Last(kMsgContactStatus)->Int("status"), kStatusOffline);
  EXPECT_EQ(Count(kMsgStatusChanged), 4u);
}

TEST_F(PresenceTest, StatusNumberAboveAByteIsAlwaysAChange) {
  LanPeer b("B");
  const int row = AddContact("B");
  RunEngine(b);
  StatusFromB(
      "320\0"s
      "2097152\0"s);  // low byte 64
  StatusFromB(
      "320\0"s
      "2097152\0"s);
  EXPECT_EQ(Count(kMsgContactStatus), 2u);
  EXPECT_EQ(Last(kMsgContactStatus)->Int("status"), 320);  // as it came: 0x100 | 64
  EXPECT_EQ(ContactText(row, kColumnPresent), "Vask");
}

TEST_F(PresenceTest, OwnStatusGoesOutWithItsDescription) {
  LanPeer b("B");
  RunEngine(b);
  Call(kMsgSetStatus, kStatusDnd, Text("zaj\xEAty"));
  auto status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  ASSERT_EQ(status->size(), 7u);
  EXPECT_EQ((*status)[2], "*");
  EXPECT_EQ((*status)[4], "34");
  EXPECT_EQ((*status)[5], "2097152");
  EXPECT_EQ((*status)[6], "zaj\xEAty");

  // Going offline still reaches the LAN, from the ending worker.
  Call(kMsgSetStatus, kStatusOffline);
  status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)[4], "0");
}

// A description too long for one datagram between computers goes out cut,
// so that the status arrives at all; the host keeps the whole text.
TEST_F(PresenceTest, LongDescriptionGoesOutCutToFitTheDatagram) {
  LanPeer b("B");
  RunEngine(b);
  std::string description;
  for (int i = 0; description.size() < 600; ++i) description += "opis" + std::to_string(i) + ' ';
  Call(kMsgSetStatus, kStatusAvailable, Text(description));
  auto bytes = b.Read();
  std::optional<Fields> status;
  for (; bytes; bytes = b.Read()) {
    Fields fields = SplitAtNul(*bytes);
    if (fields.size() >= 4 && fields[3] == "STATUS") {
      EXPECT_LE(bytes->size(), 424u);
      status = fields;
      break;
    }
  }
  ASSERT_TRUE(status) << "no STATUS reached B";
  ASSERT_EQ(status->size(), 7u);
  const std::string& sent = (*status)[6];
  EXPECT_GT(sent.size(), 300u);
  EXPECT_LT(sent.size(), description.size());
  EXPECT_EQ(description.substr(0, sent.size()), sent);
  EXPECT_EQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), description);
}

// Both changes land while the worker is held inside a host call, so they
// fall between two of its passes.
TEST_F(PresenceTest, TwoChangesWithinOnePollGiveOneStatus) {
  Gate& gate = HoldFirstCall(kMsgFindContact);
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("1", "H", "A", "PING")));
  ASSERT_TRUE(gate.WaitEntered());
  Call(kMsgSetStatus, kStatusBrb);
  Call(kMsgSetStatus, kStatusDnd);
  gate.Open();

  auto status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)[2], "*");
  EXPECT_EQ((*status)[4], "34");
  // Ask B's way: the answer comes after any further broadcast would have.
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "GETSTATUS")));
  auto answer = b.WaitFor("STATUS");
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[2], "B") << "a second broadcast went out";
  EXPECT_EQ((*answer)[4], "34");
}

TEST_F(PresenceTest, ReportedLanContactGetsStatusAndQuestion) {
  LanPeer b("B"), c("C");
  const int lan = AddContact("B");
  const int other = AddContact("C", 1);  // network 1: not ours
  // The engine is stopped: the own status 0 still goes out.
  EXPECT_EQ(ReportContact(lan), 0);
  auto status = b.Read(0ms);
  auto ask = b.Read(0ms);
  ASSERT_TRUE(status && ask);
  const DatagramFields sf = SplitAtNul(*status), af = SplitAtNul(*ask);
  ASSERT_GE(sf.size(), 6u);
  EXPECT_EQ(sf[3], "STATUS");
  EXPECT_EQ(sf[2], "B");
  EXPECT_EQ(sf[4], "0");
  EXPECT_EQ(af, (DatagramFields{"2", "A", "B", "GETSTATUS"}));

  EXPECT_EQ(ReportContact(other), 0);
  EXPECT_EQ(c.Waiting(), 0u);
}

TEST_F(PresenceTest, PingIsAnsweredWithPong) {
  LanPeer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("1", "B", "A", "PING")));
  auto pong = b.WaitFor("PONG");
  ASSERT_TRUE(pong);
  EXPECT_EQ(pong->size(), 4u);
  EXPECT_EQ((*pong)[1], "A");
  EXPECT_EQ((*pong)[2], "B");
}

// The watch, on the plug-in's clock turned by the test. Peer S is no
// contact: its "PING"s mark the worker's passes without counting as a sign
// of life from anybody watched.
class PresenceWatchTest : public ChatFixture {
 protected:
  void BeforeStart() override {
    SetSetting(kSettingWinPopup, 0);
    sPeer_ = std::make_unique<LanPeer>("S");  // on this test's LAN
  }

  // `peer` added as a contact and shown available.
  int Present(LanPeer& peer) {
    const int row = AddContact(peer.computer());
    EXPECT_TRUE(peer.Send("A", "STATUS", {"64", "2097152", "przy biurku"}));
    EXPECT_TRUE(s().Sync("A"));
    EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);
    return row;
  }

  // Two passes of the worker: the first began after this call, so its
  // step of the watch has run on the clock as it is now.
  void TwoPasses() {
    ASSERT_TRUE(s().Sync("A"));
    ASSERT_TRUE(s().Sync("A"));
  }

  void Turn(long long seconds) {
    VaskAdvanceClock(seconds);
    turned_ += seconds;
  }
  ~PresenceWatchTest() override { VaskAdvanceClock(-turned_); }

  size_t OfflineReports(int row) {
    return host().calls().CountIf([row](const host::RecordedCall& c) {
      return c.IsHostMessage() && c.id == kMsgContactStatus && c.Int("contact") == row &&
             c.Int("status") == kStatusOffline;
    });
  }
  std::optional<host::RecordedCall> WaitOffline(int row) {
    return WaitFor(kMsgContactStatus, [row](const host::RecordedCall& c) {
      return c.Int("contact") == row && c.Int("status") == kStatusOffline;
    });
  }

  // The "GETSTATUS" questions waiting at `peer` now.
  static int Questions(LanPeer& peer) {
    int n = 0;
    while (auto fields = peer.ReadFields(0ms)) {
      if (fields->size() > 3 && (*fields)[3] == "GETSTATUS" && (*fields)[2] == peer.computer()) ++n;
    }
    return n;
  }

  LanPeer& s() { return *sPeer_; }

 private:
  long long turned_ = 0;
  std::unique_ptr<LanPeer> sPeer_;
};

// A computer killed without a word: the send to it fails, the watch asks,
// nobody answers within the window, and the contact is shown offline as its
// leaving "STATUS" 0 would show it. Later rounds ask it again, so it comes
// back once it answers.
TEST_F(PresenceWatchTest, FailedSendThenSilenceShowsTheContactOffline) {
  auto b = std::make_unique<LanPeer>("B");
  StartEngine();
  ASSERT_TRUE(b->WaitFor("STATUS"));
  const int row = Present(*b);

  b.reset();  // B's slot is gone, as a killed computer's
  ASSERT_EQ(SendMessage(1, "B", "halo"), 8);
  EXPECT_EQ(WaitSendResult(1), 0);
  ASSERT_TRUE(WaitLog("pytam B o status"));

  // Not before the window ends (a second of the real clock may pass
  // meanwhile).
  Turn(kAnswerSeconds - 2);
  TwoPasses();
  EXPECT_EQ(OfflineReports(row), 0u);
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);

  Turn(2);
  auto offline = WaitOffline(row);
  ASSERT_TRUE(offline);
  EXPECT_EQ(offline->Text("text"), "");
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusOffline);
  EXPECT_EQ(ContactText(row, kColumnPresent), "");
  EXPECT_EQ(ContactInt(row, kColumnStatusMark), 0);
  TwoPasses();
  EXPECT_EQ(OfflineReports(row), 1u);

  // B is back but silent about it: the rounds still ask it.
  b = std::make_unique<LanPeer>("B");
  b->set_sequence(100);  // past the numbers the first B used
  Turn(kQuietSeconds + 2);
  auto ask = b->WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  ASSERT_TRUE(b->Send("A", "STATUS", {"64", "2097152", "znowu"}));
  ASSERT_TRUE(s().Sync("A"));
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);
}

// A computer killed without a word while nobody writes to it: the rounds
// ask it once it has been quiet long enough, and it is shown offline within
// the watch's bound (one contact here: the quiet time, one round, the
// answer window and two ticks), not before the quiet time.
TEST_F(PresenceWatchTest, KilledContactIsShownOfflineWithinTheBoundWithoutAnySend) {
  auto b = std::make_unique<LanPeer>("B");
  StartEngine();
  ASSERT_TRUE(b->WaitFor("STATUS"));
  const int row = Present(*b);
  b.reset();  // killed: its slot is gone, and nothing is sent to it

  Turn(kQuietSeconds - 10);
  TwoPasses();
  EXPECT_EQ(OfflineReports(row), 0u) << "shown offline before it was quiet long enough";
  // Past the quiet time by a round: the round asks it.
  Turn(10 + kRoundSeconds);
  TwoPasses();
  EXPECT_EQ(OfflineReports(row), 0u) << "shown offline before the answer window ended";
  // The answer window and two ticks: the whole bound has passed.
  Turn(kAnswerSeconds + 2);
  ASSERT_TRUE(WaitOffline(row)) << "still shown present when the bound had passed";
  EXPECT_EQ(OfflineReports(row), 1u);
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusOffline);
}

// A message that goes unacknowledged makes the watch ask; the contact that
// answers stays present and is not asked again.
TEST_F(PresenceWatchTest, ContactThatAnswersAfterAnUnansweredMessageStaysPresent) {
  LanPeer b("B");
  StartEngine();
  ASSERT_TRUE(b.WaitFor("STATUS"));
  const int row = Present(b);
  ASSERT_EQ(SendMessage(1, "B", "halo"), 8);
  ASSERT_TRUE(b.WaitFor("MESSAGE"));
  EXPECT_EQ(WaitSendResult(1), 1);

  Turn(11);  // the message expires unacknowledged
  auto ask = b.WaitFor("GETSTATUS");
  ASSERT_TRUE(ask);
  EXPECT_EQ((*ask)[1], "A");
  EXPECT_EQ(ask->size(), 4u);
  ASSERT_TRUE(b.Send("A", "STATUS", {"64", "2097152", "przy biurku"}));
  ASSERT_TRUE(s().Sync("A"));

  Turn(kAnswerSeconds + 1);
  TwoPasses();
  EXPECT_EQ(OfflineReports(row), 0u);
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);
  EXPECT_EQ(Questions(b), 0) << "an answered question was asked again";
}

// Without any send, quiet contacts are asked one per round, each in turn,
// and none that was heard from lately.
TEST_F(PresenceWatchTest, QuietContactsAreAskedOneARoundInTurn) {
  std::vector<std::unique_ptr<LanPeer>> peers;
  for (const char* name : {"B", "C", "D"}) peers.push_back(std::make_unique<LanPeer>(name));
  StartEngine();
  for (auto& peer : peers) {
    ASSERT_TRUE(peer->WaitFor("STATUS"));
    Present(*peer);
  }
  auto questions = [&] {
    std::vector<int> counts;
    for (auto& peer : peers) counts.push_back(Questions(*peer));
    return counts;
  };
  TwoPasses();
  EXPECT_EQ(questions(), (std::vector<int>{0, 0, 0})) << "asked before anybody was quiet";

  std::vector<bool> asked(peers.size(), false);
  Turn(kQuietSeconds + 2);
  for (int round = 0; round < 3; ++round) {
    if (round > 0) {
      // Well inside the round: nobody new is asked.
      Turn(kRoundSeconds - 3);
      TwoPasses();
      EXPECT_EQ(questions(), (std::vector<int>{0, 0, 0})) << "round " << round << " came early";
      Turn(3);
    }
    TwoPasses();
    const std::vector<int> counts = questions();
    int total = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
      total += counts[i];
      if (counts[i] == 0) continue;
      EXPECT_FALSE(asked[i]) << peers[i]->computer() << " asked twice";
      asked[i] = true;
      // The answer settles the question: nothing more is asked of it.
      ASSERT_TRUE(peers[i]->Send("A", "STATUS", {"64", "2097152", "przy biurku"}));
    }
    // Handled before the clock turns on.
    ASSERT_TRUE(s().Sync("A"));
    EXPECT_EQ(total, 1) << "round " << round;
  }
  // Everybody was heard from within the quiet time: the next round asks nobody.
  Turn(kRoundSeconds + 1);
  TwoPasses();
  EXPECT_EQ(questions(), (std::vector<int>{0, 0, 0}));
}

// The start's "GETSTATUS" to everybody, or its answer, lost: a few seconds
// later each contact not heard from since the start is asked once, and one
// heard from is not; the question is not repeated.
TEST_F(PresenceWatchTest, ContactMissedAtTheStartIsAskedOnceSoonAfter) {
  LanPeer b("B");
  LanPeer c("C");
  StartEngine();
  ASSERT_TRUE(b.WaitFor("STATUS"));
  AddContact(b.computer());  // B's answer to the start's question was lost
  Present(c);
  TwoPasses();
  EXPECT_EQ(Questions(b), 0) << "asked before the start's answers had time to come";

  Turn(kCatchUpSeconds);
  TwoPasses();
  EXPECT_EQ(Questions(b), 1);
  EXPECT_EQ(Questions(c), 0) << "asked although heard from since the start";
  Turn(kCatchUpSeconds + kAnswerSeconds);
  TwoPasses();
  EXPECT_EQ(Questions(b), 0) << "the catch-up went twice";

  // Done, it costs no host call a pass (a round may ask for the rows once).
  auto rowCounts = [&] {
    return host().calls().CountIf(
        [](const host::RecordedCall& c) { return c.IsHostMessage() && c.id == kMsgContactCount; });
  };
  const size_t before = rowCounts();
  TwoPasses();
  TwoPasses();
  EXPECT_LE(rowCounts() - before, 1u);
}

// A contact shown absent (its arriving "STATUS" was lost) whose datagrams
// come in is asked, shown present by its answer, and not asked again for
// every datagram of it.
TEST_F(PresenceWatchTest, AbsentContactThatIsHeardIsAskedAndShownPresentByItsAnswer) {
  LanPeer b("B");
  StartEngine();
  ASSERT_TRUE(b.WaitFor("STATUS"));
  const int row = AddContact(b.computer());
  ASSERT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusOffline);
  Questions(b);  // the start's own question to everybody

  ASSERT_TRUE(b.Send("A", "PING", {}));
  ASSERT_TRUE(s().Sync("A"));
  TwoPasses();
  EXPECT_EQ(Questions(b), 1);
  ASSERT_TRUE(b.Send("A", "STATUS", {"64", "2097152", "jestem"}));
  ASSERT_TRUE(s().Sync("A"));
  EXPECT_EQ(ContactInt(row, kColumnStatus) & 0xFF, kStatusAvailable);

  // Shown offline by its own "STATUS" 0 and still heard: asked again, but
  // once per kAbsentAskSeconds however many datagrams come.
  ASSERT_TRUE(b.Send("A", "STATUS", {"0", "0", ""}));
  ASSERT_TRUE(b.Send("A", "PING", {}));
  TwoPasses();
  EXPECT_EQ(Questions(b), 0) << "asked again within kAbsentAskSeconds";
  Turn(kAbsentAskSeconds + 1);
  ASSERT_TRUE(b.Send("A", "PING", {}));
  ASSERT_TRUE(b.Send("A", "PING", {}));
  TwoPasses();
  EXPECT_EQ(Questions(b), 1);
  ASSERT_TRUE(b.Send("A", "PING", {}));
  TwoPasses();
  EXPECT_EQ(Questions(b), 0) << "a question already open was asked again";
}

}  // namespace
}  // namespace vask::test
