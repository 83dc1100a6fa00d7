// Presence through the export: a contact's "STATUS" in the host's table,
// the own status on the LAN, and a contact the host reports.
#include "plugin_fixture.h"
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

}  // namespace
}  // namespace vask::test
