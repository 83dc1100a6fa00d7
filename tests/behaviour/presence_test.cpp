// Presence through the export: a contact's "STATUS" in the host's table,
// the own status on the LAN, and host message 24003.
#include <atomic>

#include "lan_peer.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

class PresenceTest : public PluginFixture {
 protected:
  // Holds the worker inside a host answer. Members, not locals: the hook
  // may still run during TearDown's stop.
  Gate gate_;
  std::atomic<bool> held_{false};
  void TearDown() override {
    gate_.Open();  // a failed test must not leave the worker held
    PluginFixture::TearDown();
  }
  void RunEngine(Peer& peer) {
    Call(33005, 64);
    ASSERT_TRUE(peer.WaitFor("STATUS"));
  }
  // A "STATUS" from B under the next number; waits until it was handled
  // (host message 11013 follows every accepted one).
  void StatusFromB(const std::string& body) {
    const size_t handled = Count(11013);
    ASSERT_TRUE(SendRaw("A", Datagram(std::to_string(++sequence_), "B", "A", "STATUS", body)));
    ASSERT_TRUE(WaitForCount(11013, handled + 1));
  }
  int sequence_ = 0;
};

TEST_F(PresenceTest, StatusRewritesColumnsEveryTimeButReportsOnlyChanges) {
  Peer b("B");
  const int row = AddContact("B");
  RunEngine(b);

  StatusFromB("64\0"s "2097152\0"s "przy biurku");
  EXPECT_EQ(ContactText(row, 15), "Vask");
  EXPECT_EQ(ContactInt(row, 28), 2097152);
  auto changed = Last(234);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->Int("contact"), row);
  EXPECT_EQ(changed->Int("status"), 64);
  EXPECT_EQ(changed->Text("text"), "przy biurku");
  EXPECT_EQ(Count(12000), 1u);
  EXPECT_EQ(ContactInt(row, 2) & 0xFF, 64);

  // The same again: the columns are written anew, nothing is reported.
  host().tables().SetText(kTableContacts, row, 15, "x");
  host().tables().SetInt(kTableContacts, row, 28, 5);
  StatusFromB("64\0"s "2097152\0"s "przy biurku");
  EXPECT_EQ(ContactText(row, 15), "Vask");
  EXPECT_EQ(ContactInt(row, 28), 2097152);
  EXPECT_EQ(Count(234), 1u);
  EXPECT_EQ(Count(12000), 1u);

  // Only the description changes: reported.
  StatusFromB("64\0"s "2097152\0"s "na obiedzie");
  EXPECT_EQ(Count(234), 2u);
  EXPECT_EQ(Count(12000), 2u);
  EXPECT_EQ(Last(234)->Text("text"), "na obiedzie");

  // Six fields: the description reads as empty.
  StatusFromB("64\0"s "2097152");
  EXPECT_EQ(Count(234), 3u);
  EXPECT_EQ(Last(234)->Text("text"), "");

  // Offline clears the columns.
  StatusFromB("0\0"s "2097152\0"s);
  EXPECT_EQ(ContactText(row, 15), "");
  EXPECT_EQ(ContactInt(row, 28), 0);
  EXPECT_EQ(Last(234)->Int("status"), 0);
  EXPECT_EQ(Count(12000), 4u);
}

TEST_F(PresenceTest, StatusNumberAboveAByteIsAlwaysAChange) {
  Peer b("B");
  const int row = AddContact("B");
  RunEngine(b);
  StatusFromB("320\0"s "2097152\0"s);  // low byte 64
  StatusFromB("320\0"s "2097152\0"s);
  EXPECT_EQ(Count(234), 2u);
  EXPECT_EQ(Last(234)->Int("status"), 320);
  EXPECT_EQ(ContactText(row, 15), "Vask");
}

TEST_F(PresenceTest, OwnStatusGoesOutWithItsDescription) {
  Peer b("B");
  RunEngine(b);
  Call(33005, 34, Text("zaj\xEAty"));
  auto status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  ASSERT_EQ(status->size(), 7u);
  EXPECT_EQ((*status)[2], "*");
  EXPECT_EQ((*status)[4], "34");
  EXPECT_EQ((*status)[5], "2097152");
  EXPECT_EQ((*status)[6], "zaj\xEAty");

  // Going offline still reaches the LAN, from the ending worker.
  Call(33005, 0);
  status = b.WaitFor("STATUS");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)[4], "0");
}

// Both changes land while the worker is held inside a host call, so they
// fall between two of its passes.
TEST_F(PresenceTest, TwoChangesWithinOnePollGiveOneStatus) {
  SetAnswer(200, [this](HostMessage*) -> std::optional<intptr_t> {
    if (!held_.exchange(true)) gate_.Hold();
    return std::nullopt;
  });
  Peer b("B");
  RunEngine(b);
  ASSERT_TRUE(SendRaw("A", Datagram("1", "H", "A", "PING")));
  ASSERT_TRUE(gate_.WaitEntered());
  Call(33005, 65);
  Call(33005, 34);
  gate_.Open();

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
  Peer b("B"), c("C");
  const int lan = AddContact("B");
  const int other = AddContact("C", 1);
  // The engine is stopped: the own status 0 still goes out.
  EXPECT_EQ(ReportContact(lan), 0);
  auto status = b.Read(0ms);
  auto ask = b.Read(0ms);
  ASSERT_TRUE(status && ask);
  const DatagramFields sf = SplitBytes(*status), af = SplitBytes(*ask);
  ASSERT_GE(sf.size(), 6u);
  EXPECT_EQ(sf[3], "STATUS");
  EXPECT_EQ(sf[2], "B");
  EXPECT_EQ(sf[4], "0");
  EXPECT_EQ(af, (DatagramFields{"2", "A", "B", "GETSTATUS"}));

  EXPECT_EQ(ReportContact(other), 0);
  EXPECT_EQ(c.Waiting(), 0u);
}

TEST_F(PresenceTest, PingIsAnsweredWithPong) {
  Peer b("B");
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
