// The bridge's logic with a recording network and recording slots: names
// registered, defended, answered and released; datagrams delivered to the
// right local slots only; local writes resolved, sent and refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/byte_order.h"

namespace vask::bridge {
namespace {

constexpr uint32_t kOwnIp = 0x0A000001;     // 10.0.0.1
constexpr uint32_t kBroadcastIp = 0x0A0000FF;
constexpr uint32_t kPeerIp = 0x0A000002;    // 10.0.0.2

struct Sent {
  uint16_t fromPort;
  uint32_t ip;
  uint16_t port;
  std::vector<uint8_t> packet;
};

struct Delivered {
  std::string computer;
  std::string slot;
  std::string data;
};

class BridgeCoreTest : public ::testing::Test {
 protected:
  BridgeCoreTest() : core_(Config(), Io()) {}

  static BridgeConfig Config() {
    BridgeConfig c;
    c.workgroup = "WORKGROUP";
    c.ip = kOwnIp;
    c.broadcast = kBroadcastIp;
    c.cacheLifetime = 60000;
    c.negativeLifetime = 2000;
    return c;
  }

  BridgeIo Io() {
    BridgeIo io;
    io.sendUdp = [this](uint16_t from, uint32_t ip, uint16_t port, const std::vector<uint8_t>& p) {
      sent_.push_back({from, ip, port, p});
    };
    io.deliver = [this](const std::string& c, const std::string& s, const std::vector<uint8_t>& d) {
      delivered_.push_back({c, s, std::string(d.begin(), d.end())});
      return true;
    };
    io.log = [this](const std::string& line) { logs_.push_back(line); };
    return io;
  }

  // Serves ALPHA and BETA and lets their registrations run out unopposed.
  void ServeAndSettle() {
    core_.SetServedComputers({"alpha", "Beta"}, 0);
    for (Millis t = 0; t <= 1000; t += 250) core_.OnTimer(t);
    sent_.clear();
  }

  std::vector<NamePacket> NamePackets(uint32_t ip) {
    std::vector<NamePacket> out;
    for (const Sent& s : sent_) {
      NamePacket p;
      if (s.fromPort == kNamePort && s.ip == ip && DecodeNamePacket(s.packet.data(), s.packet.size(), &p)) {
        out.push_back(p);
      }
    }
    return out;
  }

  std::vector<MailslotDatagram> Datagrams(uint32_t ip) {
    std::vector<MailslotDatagram> out;
    for (const Sent& s : sent_) {
      DatagramPacket p;
      if (s.fromPort == kDatagramPort && s.ip == ip && s.port == kDatagramPort &&
          DecodeDatagramPacket(s.packet.data(), s.packet.size(), &p)) {
        out.push_back(p.mailslot);
      }
    }
    return out;
  }

  void Receive(const std::vector<uint8_t>& packet, uint32_t from, Millis now = 2000) {
    core_.OnNamePacket(packet.data(), packet.size(), from, 137, now);
  }

  void ReceiveDatagram(uint8_t type, const std::string& to, uint8_t suffix, const std::string& slot,
                       const std::string& data, uint32_t from = kPeerIp) {
    MailslotDatagram d;
    d.type = type;
    d.sourceIp = from;
    d.source = MakeName("CHARLIE", 0);
    d.destination = MakeName(to, suffix);
    d.mailslot = WireMailslotName(slot);
    d.data.assign(data.begin(), data.end());
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
    core_.OnDatagramPacket(packet.data(), packet.size(), from, 2000);
  }

  // Answers the bridge's last broadcast query as `ip` would.
  void AnswerQuery(uint32_t ip, Millis now) {
    std::vector<NamePacket> queries = NamePackets(kBroadcastIp);
    ASSERT_FALSE(queries.empty());
    const NamePacket& q = queries.back();
    std::vector<uint8_t> answer;
    ASSERT_TRUE(BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, ip}}, &answer));
    Receive(answer, ip, now);
  }

  BridgeCore core_;
  std::vector<Sent> sent_;
  std::vector<Delivered> delivered_;
  std::vector<std::string> logs_;
};

TEST_F(BridgeCoreTest, RegistersEachNameThreeTimesThenAnswersQueriesForIt) {
  core_.SetServedComputers({"alpha"}, 0);
  for (Millis t = 0; t <= 1000; t += 250) core_.OnTimer(t);
  std::vector<NamePacket> regs = NamePackets(kBroadcastIp);
  int alpha00 = 0, alpha03 = 0, group = 0;
  for (const NamePacket& p : regs) {
    ASSERT_EQ(p.opcode(), kOpRegistration);
    ASSERT_EQ(p.addresses.size(), 1u);
    EXPECT_EQ(p.addresses[0].ip, kOwnIp);
    if (NamesMatch(p.recordName, MakeName("ALPHA", 0))) ++alpha00;
    if (NamesMatch(p.recordName, MakeName("ALPHA", 3))) ++alpha03;
    if (NamesMatch(p.recordName, MakeName("WORKGROUP", 0))) {
      ++group;
      EXPECT_EQ(p.addresses[0].nbFlags, kNbGroup);
    }
  }
  EXPECT_EQ(alpha00, 3);
  EXPECT_EQ(alpha03, 3);
  EXPECT_EQ(group, 3);

  sent_.clear();
  std::vector<uint8_t> query;
  ASSERT_TRUE(BuildQuery(77, MakeName("Alpha", 3), &query));
  core_.OnNamePacket(query.data(), query.size(), kPeerIp, 50000, 2000);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].ip, kPeerIp);
  EXPECT_EQ(sent_[0].port, 50000);  // back to the asker's own port
  NamePacket answer;
  ASSERT_TRUE(DecodeNamePacket(sent_[0].packet.data(), sent_[0].packet.size(), &answer));
  EXPECT_EQ(answer.id, 77);
  EXPECT_EQ(answer.flags, 0x8500);
  ASSERT_EQ(answer.addresses.size(), 1u);
  EXPECT_EQ(answer.addresses[0].ip, kOwnIp);

  sent_.clear();
  ASSERT_TRUE(BuildQuery(78, MakeName("SOMEONE", 0), &query));
  Receive(query, kPeerIp);
  EXPECT_TRUE(sent_.empty()) << "a name of someone else is not ours to answer";
}

TEST_F(BridgeCoreTest, DefendsItsNamesButNotTheGroup) {
  ServeAndSettle();
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(5, MakeName("ALPHA", 0), false, kPeerIp, 300000, &reg));
  Receive(reg, kPeerIp);
  std::vector<NamePacket> replies = NamePackets(kPeerIp);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].flags, 0xAD86);
  EXPECT_EQ(replies[0].id, 5);

  sent_.clear();
  ASSERT_TRUE(BuildRegistration(6, MakeName("WORKGROUP", 0), true, kPeerIp, 300000, &reg));
  Receive(reg, kPeerIp);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(BridgeCoreTest, ANameDefendedByAnotherIsNeitherAnsweredNorDelivered) {
  core_.SetServedComputers({"alpha"}, 0);
  core_.OnTimer(0);
  std::vector<NamePacket> regs = NamePackets(kBroadcastIp);
  ASSERT_FALSE(regs.empty());
  std::vector<uint8_t> defence;
  ASSERT_TRUE(BuildDefence(regs[0].id, MakeName("ALPHA", 0), kPeerIp, &defence));
  Receive(defence, kPeerIp, 100);
  for (Millis t = 250; t <= 1000; t += 250) core_.OnTimer(t);
  EXPECT_FALSE(logs_.empty());

  sent_.clear();
  std::vector<uint8_t> query;
  ASSERT_TRUE(BuildQuery(1, MakeName("ALPHA", 0), &query));
  Receive(query, 0x0A000009);
  EXPECT_TRUE(sent_.empty());
  ReceiveDatagram(kDirectUnique, "ALPHA", 0, "vask", "hello", 0x0A000009);
  EXPECT_TRUE(delivered_.empty());
}

TEST_F(BridgeCoreTest, DeliversToTheAddressedComputerOrTheWholeWorkgroup) {
  ServeAndSettle();
  ReceiveDatagram(kDirectUnique, "alpha", 0, "Vask", "one");
  ReceiveDatagram(kDirectUnique, "BETA", 3, "messngr", "two");
  ASSERT_EQ(delivered_.size(), 2u);
  EXPECT_EQ(delivered_[0].computer, "ALPHA");
  EXPECT_EQ(delivered_[0].slot, "VASK");
  EXPECT_EQ(delivered_[0].data, "one");
  EXPECT_EQ(delivered_[1].computer, "BETA");
  EXPECT_EQ(delivered_[1].slot, "MESSNGR");

  delivered_.clear();
  ReceiveDatagram(kDirectGroup, "workgroup", 0, "vask", "all");
  ReceiveDatagram(kBroadcast, "*", 0, "vask", "star");
  ASSERT_EQ(delivered_.size(), 4u);
  EXPECT_EQ(delivered_[0].computer, "ALPHA");
  EXPECT_EQ(delivered_[1].computer, "BETA");
  EXPECT_EQ(delivered_[3].data, "star");

  delivered_.clear();
  ReceiveDatagram(kDirectUnique, "DELTA", 0, "vask", "not ours");
  ReceiveDatagram(kDirectGroup, "OTHERGROUP", 0, "vask", "not ours");
  ReceiveDatagram(kDirectUnique, "ALPHA", 0, "vask", "our own echo", kOwnIp);
  EXPECT_TRUE(delivered_.empty());
}

TEST_F(BridgeCoreTest, MalformedDatagramsNeverReachASlotAndAreLoggedOnce) {
  ServeAndSettle();
  MailslotDatagram d;
  d.source = MakeName("CHARLIE", 0);
  d.destination = MakeName("ALPHA", 0);
  d.mailslot = WireMailslotName("vask");
  d.data = {'h', 'i'};
  std::vector<uint8_t> packet;
  ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
  packet[82 + 65] = 1;  // class 1
  logs_.clear();
  core_.OnDatagramPacket(packet.data(), packet.size(), kPeerIp, 2000);
  core_.OnDatagramPacket(packet.data(), 50, kPeerIp, 2000);
  EXPECT_TRUE(delivered_.empty());
  EXPECT_EQ(logs_.size(), 2u);
  EXPECT_NE(logs_[0].find("10.0.0.2"), std::string::npos);
}

TEST_F(BridgeCoreTest, WritesResolveTheNameThenGoDirect) {
  ServeAndSettle();
  uint32_t result = 1;
  core_.Write("ALPHA", "bravo", "vask", {'h', 'i'}, 2000, [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 1u) << "waits for the name";
  std::vector<NamePacket> queries = NamePackets(kBroadcastIp);
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_TRUE(NamesMatch(queries[0].question, MakeName("BRAVO", 0)));
  AnswerQuery(kPeerIp, 2100);
  EXPECT_EQ(result, 0u);
  std::vector<MailslotDatagram> direct = Datagrams(kPeerIp);
  ASSERT_EQ(direct.size(), 1u);
  EXPECT_EQ(direct[0].type, kDirectUnique);
  EXPECT_TRUE(NamesMatch(direct[0].source, MakeName("ALPHA", 0)));
  EXPECT_TRUE(NamesMatch(direct[0].destination, MakeName("BRAVO", 0)));
  EXPECT_EQ(direct[0].sourceIp, kOwnIp);
  EXPECT_EQ(direct[0].mailslot, "\\MAILSLOT\\VASK");

  // Cached now: the messenger write goes at once, to the <03> name.
  sent_.clear();
  result = 1;
  core_.Write("ALPHA", "BRAVO", "messngr", {'x'}, 3000, [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 0u);
  EXPECT_TRUE(NamePackets(kBroadcastIp).empty());
  direct = Datagrams(kPeerIp);
  ASSERT_EQ(direct.size(), 1u);
  EXPECT_TRUE(NamesMatch(direct[0].destination, MakeName("BRAVO", 3)));

  // After the cache's lifetime the name is asked for again.
  sent_.clear();
  core_.OnTimer(2100 + 60000);
  core_.Write("ALPHA", "BRAVO", "vask", {'x'}, 2100 + 60000, [](uint32_t) {});
  EXPECT_EQ(NamePackets(kBroadcastIp).size(), 1u);
}

TEST_F(BridgeCoreTest, AnUnansweredNameFailsTheWriteAfterThreeQueries) {
  ServeAndSettle();
  uint32_t result = 1;
  core_.Resolve("GHOST", 2000, [&](uint32_t e) { result = e; });
  for (Millis t = 2000; t <= 3500 && result == 1; t += 250) core_.OnTimer(t);
  EXPECT_EQ(result, 53u);  // ERROR_BAD_NETPATH
  EXPECT_EQ(NamePackets(kBroadcastIp).size(), 3u);
  EXPECT_TRUE(Datagrams(kPeerIp).empty());
}

TEST_F(BridgeCoreTest, AReleasedNameIsAskedForAgainAndThenFails) {
  ServeAndSettle();
  core_.Resolve("BRAVO", 2000, [](uint32_t) {});
  AnswerQuery(kPeerIp, 2000);
  ASSERT_EQ(core_.Neighbours().size(), 1u);
  std::vector<uint8_t> release;
  ASSERT_TRUE(BuildRelease(3, MakeName("BRAVO", 0), false, kPeerIp, &release));
  Receive(release, kPeerIp, 2500);
  EXPECT_TRUE(core_.Neighbours().empty());
  sent_.clear();
  uint32_t result = 1;
  core_.Write("ALPHA", "BRAVO", "vask", {'x'}, 2600, [&](uint32_t e) { result = e; });
  for (Millis t = 2600; t <= 4000 && result == 1; t += 250) core_.OnTimer(t);
  EXPECT_EQ(result, 53u);
  EXPECT_TRUE(Datagrams(kPeerIp).empty());
}

TEST_F(BridgeCoreTest, GroupWritesGoToTheBroadcastAddressAndBigWritesFail) {
  ServeAndSettle();
  uint32_t result = 1;
  core_.Write("ALPHA", "*", "vask", std::vector<uint8_t>(424, 'a'), 2000,
              [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 0u);
  std::vector<MailslotDatagram> group = Datagrams(kBroadcastIp);
  ASSERT_EQ(group.size(), 1u);
  EXPECT_EQ(group[0].type, kDirectGroup);
  EXPECT_TRUE(NamesMatch(group[0].destination, MakeName("WORKGROUP", 0)));

  sent_.clear();
  core_.Write("ALPHA", "*", "vask", std::vector<uint8_t>(425, 'a'), 2000,
              [&](uint32_t e) { result = e; });
  EXPECT_NE(result, 0u);
  core_.Write("ALPHA", "BRAVO", "vask", std::vector<uint8_t>(425, 'a'), 2000,
              [&](uint32_t e) { result = e; });
  EXPECT_NE(result, 0u);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(BridgeCoreTest, NeighboursAreLearntFromTrafficAndRegistrations) {
  ServeAndSettle();
  ReceiveDatagram(kDirectGroup, "OTHERGROUP", 0, "vask", "hi", 0x0A000007);
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(5, MakeName("DELTA", 0), false, 0x0A000008, 300000, &reg));
  Receive(reg, 0x0A000008);
  EXPECT_TRUE(core_.TakeNeighboursChanged());
  EXPECT_FALSE(core_.TakeNeighboursChanged());
  std::vector<Neighbour> n = core_.Neighbours();
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].name, "CHARLIE");
  EXPECT_EQ(n[0].workgroup, "OTHERGROUP");
  EXPECT_EQ(n[0].ip, 0x0A000007u);
  EXPECT_EQ(n[1].name, "DELTA");
  EXPECT_EQ(n[1].workgroup, "WORKGROUP");
  // What we learnt resolves without a query.
  sent_.clear();
  uint32_t result = 1;
  core_.Resolve("delta", 3000, [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 0u);
  EXPECT_TRUE(sent_.empty());
}

TEST_F(BridgeCoreTest, ShutdownReleasesEveryName) {
  ServeAndSettle();
  core_.Shutdown();
  std::vector<NamePacket> releases = NamePackets(kBroadcastIp);
  ASSERT_EQ(releases.size(), 5u);  // ALPHA and BETA <00> and <03>, the workgroup
  for (const NamePacket& p : releases) EXPECT_EQ(p.opcode(), kOpRelease);
}

}  // namespace
}  // namespace vask::bridge
