// The bridge's logic with a recording network and recording slots: names
// registered, defended, answered and released; datagrams delivered to the
// right local slots only; local writes resolved, sent and refused; what
// another machine's defence does and what a stray one must not.
#include "bridge/bridge_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bridge/browse_frame.h"
#include "bridge/byte_order.h"
#include "bridge/node_status.h"
#include "bridge_link.h"

namespace vask::bridge {
namespace {

constexpr uint32_t kOwnIp = 0x0A000001;  // 10.0.0.1
constexpr uint32_t kBroadcastIp = 0x0A0000FF;
constexpr uint32_t kPeerIp = 0x0A000002;  // 10.0.0.2

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
    c.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    return c;
  }

  BridgeIo Io() {
    BridgeIo io;
    io.sendUdp = [this](uint16_t from, uint32_t ip, uint16_t port, const std::vector<uint8_t>& p) {
      sent_.push_back({from, ip, port, p});
    };
    io.deliver = [this](const std::string& c, const std::string& s, const std::vector<uint8_t>& d) {
      delivered_.push_back({c, s, std::string(d.begin(), d.end())});
      return delivery_;
    };
    io.log = [this](const std::string& line) { logs_.push_back(line); };
    io.comment = [](const std::string& computer) {
      return computer == "ALPHA" ? std::string("Pokój 12") : std::string();
    };
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
      if (s.fromPort == kNamePort && s.ip == ip &&
          DecodeNamePacket(s.packet.data(), s.packet.size(), &p)) {
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
                       const std::string& data, uint32_t from = kPeerIp,
                       const std::string& source = "CHARLIE", Millis now = 2000) {
    MailslotDatagram d;
    d.type = type;
    d.sourceIp = from;
    d.source = MakeName(source, 0);
    d.destination = MakeName(to, suffix);
    d.mailslot = WireMailslotName(slot);
    d.data.assign(data.begin(), data.end());
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
    core_.OnDatagramPacket(packet.data(), packet.size(), from, now);
  }

  // The registration packets of `name` sent so far.
  std::vector<NamePacket> Registrations(const NetbiosName& name) {
    std::vector<NamePacket> out;
    for (const NamePacket& p : NamePackets(kBroadcastIp)) {
      if (p.opcode() == kOpRegistration && NamesMatch(p.recordName, name)) out.push_back(p);
    }
    return out;
  }

  // Another machine's defence of `name` against registration `id`.
  void Defend(uint16_t id, const std::string& name, uint8_t suffix, Millis now) {
    std::vector<uint8_t> defence;
    ASSERT_TRUE(BuildDefence(id, MakeName(name, suffix), kPeerIp, &defence));
    Receive(defence, kPeerIp, now);
  }

  bool Answers(const std::string& name, uint8_t suffix) {
    sent_.clear();
    std::vector<uint8_t> query;
    EXPECT_TRUE(BuildQuery(4242, MakeName(name, suffix), &query));
    Receive(query, 0x0A000009, 5000);
    return !NamePackets(0x0A000009).empty();
  }

  uint32_t WriteNow(const std::string& sender, const std::string& target, Millis now) {
    uint32_t result = 0xFFFFFFFF;
    core_.Write(sender, target, "vask", {'x'}, now, [&](uint32_t e) { result = e; });
    return result;
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
  Delivery delivery_ = Delivery::kDelivered;  // what the slots say to each delivery
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

  // A tool on this machine asks from a port of its own and is answered;
  // what comes from our own port 137 is our broadcast coming back.
  ASSERT_TRUE(BuildQuery(79, MakeName("ALPHA", 0), &query));
  core_.OnNamePacket(query.data(), query.size(), kOwnIp, 137, 2000);
  EXPECT_TRUE(sent_.empty());
  core_.OnNamePacket(query.data(), query.size(), kOwnIp, 50001, 2000);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].port, 50001);
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

TEST_F(BridgeCoreTest, AGenuineDefenceMakesTheComputerYieldAndRefuseItsWrites) {
  core_.SetServedComputers({"alpha"}, 0);
  core_.OnTimer(0);
  std::vector<NamePacket> regs = Registrations(MakeName("ALPHA", 0));
  ASSERT_EQ(regs.size(), 1u);
  uint32_t claim = 0xFFFFFFFF;
  core_.Claim("Alpha", 10, [&](uint32_t e) { claim = e; });
  EXPECT_EQ(claim, 0xFFFFFFFFu) << "a claim waits for the registration";
  Defend(regs[0].id, "ALPHA", 0, 100);
  EXPECT_EQ(claim, bridge_link::kErrorNameInConflict);
  ASSERT_FALSE(logs_.empty());
  EXPECT_NE(logs_.back().find("ALPHA<00> is in use by 10.0.0.2"), std::string::npos)
      << logs_.back();

  sent_.clear();
  for (Millis t = 250; t <= 1000; t += 250) core_.OnTimer(t);
  EXPECT_TRUE(Registrations(MakeName("ALPHA", 3)).empty()) << "the whole computer yields";
  EXPECT_FALSE(Answers("ALPHA", 0));
  EXPECT_FALSE(Answers("ALPHA", 3));
  ReceiveDatagram(kDirectUnique, "ALPHA", 0, "vask", "hello", 0x0A000009);
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0, "vask", "all", 0x0A000009);
  EXPECT_TRUE(delivered_.empty());

  // Its writes fail with the code its host shows, and say why in the log.
  sent_.clear();
  logs_.clear();
  EXPECT_EQ(WriteNow("ALPHA", "*", 3000), bridge_link::kErrorNameInConflict);
  EXPECT_EQ(WriteNow("ALPHA", "BRAVO", 3000), bridge_link::kErrorNameInConflict);
  EXPECT_TRUE(sent_.empty()) << "nothing goes out under a name that is another's";
  ASSERT_EQ(logs_.size(), 1u) << "one line, the rest in the next summary";
  EXPECT_NE(logs_[0].find("ALPHA"), std::string::npos);

  // No release of names that were never ours.
  sent_.clear();
  core_.Shutdown(5000);
  for (const NamePacket& p : NamePackets(kBroadcastIp)) {
    EXPECT_FALSE(NamesMatch(p.recordName, MakeName("ALPHA", 0)) ||
                 NamesMatch(p.recordName, MakeName("ALPHA", 3)));
  }
}

TEST_F(BridgeCoreTest, AStrayOrLateNegativeResponseChangesNothing) {
  core_.SetServedComputers({"alpha"}, 0);
  core_.OnTimer(0);
  uint16_t alpha00 = Registrations(MakeName("ALPHA", 0)).at(0).id;
  uint16_t alpha03 = Registrations(MakeName("ALPHA", 3)).at(0).id;
  // During the registration: an id we never used, and the id of the
  // other name's registration.
  Defend(static_cast<uint16_t>(alpha00 + 1000), "ALPHA", 0, 100);
  Defend(alpha03, "ALPHA", 0, 110);
  Defend(alpha00, "ALPHA", 3, 120);
  for (Millis t = 250; t <= 1000; t += 250) core_.OnTimer(t);
  // After it: the right id and name, but six minutes late.
  Defend(alpha00, "ALPHA", 0, 6 * 60000);

  EXPECT_TRUE(Answers("ALPHA", 0));
  EXPECT_TRUE(Answers("ALPHA", 3));
  ReceiveDatagram(kDirectUnique, "ALPHA", 0, "vask", "still here", kPeerIp, "CHARLIE", 6 * 60000);
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(WriteNow("ALPHA", "*", 6 * 60000), 0u);
  for (const std::string& line : logs_) {
    EXPECT_EQ(line.find("is in use"), std::string::npos) << line;
  }
}

TEST_F(BridgeCoreTest, NothingIsDeliveredOrSentUnderANameStillBeingRegistered) {
  core_.SetServedComputers({"alpha"}, 0);
  core_.OnTimer(0);
  ReceiveDatagram(kDirectUnique, "ALPHA", 0, "vask", "too early", kPeerIp, "CHARLIE", 100);
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0, "vask", "too early", kPeerIp, "CHARLIE", 100);
  EXPECT_TRUE(delivered_.empty());
  EXPECT_FALSE(Answers("ALPHA", 0));

  sent_.clear();
  uint32_t write = 0xFFFFFFFF, claim = 0xFFFFFFFF;
  core_.Write("ALPHA", "*", "vask", {'x'}, 100, [&](uint32_t e) { write = e; });
  core_.Claim("ALPHA", 100, [&](uint32_t e) { claim = e; });
  EXPECT_EQ(write, 0xFFFFFFFFu);
  EXPECT_TRUE(Datagrams(kBroadcastIp).empty());
  for (Millis t = 250; t <= 1000; t += 250) core_.OnTimer(t);
  EXPECT_EQ(write, 0u) << "sent once the name is ours";
  EXPECT_EQ(claim, 0u);
  EXPECT_FALSE(Datagrams(kBroadcastIp).empty());
}

TEST_F(BridgeCoreTest, AClaimAfterAnOldConflictRegistersAgain) {
  core_.SetServedComputers({"alpha"}, 0);
  core_.OnTimer(0);
  Defend(Registrations(MakeName("ALPHA", 0)).at(0).id, "ALPHA", 0, 100);
  uint32_t claim = 0xFFFFFFFF;
  core_.Claim("ALPHA", 5000, [&](uint32_t e) { claim = e; });
  EXPECT_EQ(claim, bridge_link::kErrorNameInConflict) << "a fresh conflict is answered at once";

  sent_.clear();
  claim = 0xFFFFFFFF;
  core_.Claim("ALPHA", 20000, [&](uint32_t e) { claim = e; });
  EXPECT_EQ(claim, 0xFFFFFFFFu);
  EXPECT_EQ(Registrations(MakeName("ALPHA", 0)).size(), 1u) << "an old one is asked again";
  for (Millis t = 20250; t <= 21000; t += 250) core_.OnTimer(t);
  EXPECT_EQ(claim, 0u) << "the other machine has gone: the name is ours";
  EXPECT_TRUE(Answers("ALPHA", 0));
}

TEST_F(BridgeCoreTest, WritesFromComputersItDoesNotServeAreRefused) {
  ServeAndSettle();
  EXPECT_EQ(WriteNow("ZULU", "*", 2000), bridge_link::kErrorNotServed);
  EXPECT_TRUE(sent_.empty());
  uint32_t claim = 0xFFFFFFFF;
  core_.Claim("ZULU", 2000, [&](uint32_t e) { claim = e; });
  EXPECT_EQ(claim, 0u) << "not the bridge's to check";
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
  ASSERT_EQ(logs_.size(), 1u);
  EXPECT_NE(logs_[0].find("10.0.0.2"), std::string::npos);
  EXPECT_NE(logs_[0].find("mailslot class is not 2"), std::string::npos) << logs_[0];
  core_.OnTimer(2000 + 60000);
  ASSERT_EQ(logs_.size(), 2u);
  EXPECT_NE(logs_[1].find("DGM_LENGTH beyond the packet"), std::string::npos) << logs_[1];
}

TEST_F(BridgeCoreTest, AFloodOfBadPacketsIsOneLinePerInterval) {
  ServeAndSettle();
  logs_.clear();
  const uint8_t junk[] = {0x10};
  const uint8_t name[] = {0, 1, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // opcode 1, no records
  for (int i = 0; i < 100000; ++i) {
    Millis now = 2000 + i / 250;  // 100 000 packets in 0.4 s
    if (i % 10 == 0) {
      core_.OnNamePacket(name, sizeof name, 0x0A000003, 137, now);
    } else {
      core_.OnDatagramPacket(junk, sizeof junk, kPeerIp, now);
    }
  }
  EXPECT_EQ(logs_.size(), 1u) << "the first drop is told at once, the rest wait";
  core_.OnTimer(2000 + 59999);
  EXPECT_EQ(logs_.size(), 1u);
  core_.OnTimer(2000 + 60000);
  ASSERT_EQ(logs_.size(), 2u);
  const std::string& summary = logs_[1];
  EXPECT_NE(summary.find("dropped 99999 packets"), std::string::npos) << summary;
  EXPECT_NE(summary.find("datagram: datagram shorter than its header 90000"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("10.0.0.2 90000"), std::string::npos) << summary;
  EXPECT_NE(summary.find("10.0.0.3 9999"), std::string::npos) << summary;
  core_.OnTimer(2000 + 200000);
  EXPECT_EQ(logs_.size(), 2u) << "a quiet interval logs nothing";
  core_.OnDatagramPacket(junk, sizeof junk, kPeerIp, 2000 + 200000);
  core_.OnDatagramPacket(junk, sizeof junk, kPeerIp, 2000 + 200001);
  EXPECT_EQ(logs_.size(), 3u) << "after a quiet interval the first is told at once again";
  core_.Shutdown(2000 + 200002);
  ASSERT_EQ(logs_.size(), 4u) << "what is still counted is told at exit";
  EXPECT_NE(logs_[3].find("from 10.0.0.2"), std::string::npos) << logs_[3];
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
  // Heard of is not resolved: a registration may yet be defended by the
  // name's owner, a datagram's source may be anybody's. Only an answer to
  // our query says where a name lives.
  sent_.clear();
  uint32_t result = 1;
  core_.Resolve("delta", 3000, [&](uint32_t e) { result = e; });
  core_.Resolve("charlie", 3000, [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(NamePackets(kBroadcastIp).size(), 2u);
}

TEST_F(BridgeCoreTest, NamesThatCannotBeListedAreNeverNeighbours) {
  ServeAndSettle();
  for (const char* bad : {"TWO WORDS", "LINE\nBREAK", "TAB\tX", "SL/ASH"}) {
    ReceiveDatagram(kDirectGroup, "WORKGROUP", 0, "vask", "hi", 0x0A000007, bad);
    std::vector<uint8_t> reg;
    ASSERT_TRUE(BuildRegistration(5, MakeName(bad, 0), false, 0x0A000008, 300000, &reg));
    Receive(reg, 0x0A000008);
  }
  ReceiveDatagram(kDirectGroup, "BAD GROUP", 0, "vask", "hi", 0x0A000007, "GOOD");
  EXPECT_TRUE(core_.Neighbours().empty());
  EXPECT_EQ(delivered_.size(), 8u) << "their datagrams still arrive";
}

TEST_F(BridgeCoreTest, ShutdownReleasesEveryName) {
  ServeAndSettle();
  core_.Shutdown(5000);
  std::vector<NamePacket> releases = NamePackets(kBroadcastIp);
  ASSERT_EQ(releases.size(), 5u);  // ALPHA and BETA <00> and <03>, the workgroup
  for (const NamePacket& p : releases) EXPECT_EQ(p.opcode(), kOpRelease);
}

TEST_F(BridgeCoreTest, NodeStatusListsTheServedNamesAndTheWorkgroup) {
  ServeAndSettle();
  std::vector<uint8_t> request;
  ASSERT_TRUE(BuildNodeStatusRequest(0x0101, MakeName("*", 0), &request));
  core_.OnNamePacket(request.data(), request.size(), kPeerIp, 40000, 3000);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].ip, kPeerIp);
  EXPECT_EQ(sent_[0].port, 40000);
  NamePacket answer;
  ASSERT_TRUE(DecodeNamePacket(sent_[0].packet.data(), sent_[0].packet.size(), &answer));
  EXPECT_EQ(answer.id, 0x0101);
  EXPECT_EQ(answer.flags, 0x8400);
  NodeStatus status;
  ASSERT_TRUE(DecodeNodeStatus(answer.recordData.data(), answer.recordData.size(), &status));
  std::vector<StatusEntry> expected = {{MakeName("WORKGROUP", 0), kStatusGroup | kStatusActive},
                                       {MakeName("ALPHA", 0), kStatusActive},
                                       {MakeName("ALPHA", 3), kStatusActive},
                                       {MakeName("BETA", 0), kStatusActive},
                                       {MakeName("BETA", 3), kStatusActive}};
  EXPECT_EQ(status.names, expected);
  EXPECT_EQ(status.unitId, Config().mac);

  // Asked by one of our names (as by name rather than address), answered
  // too; a broadcast question for every node, or about someone else, not.
  sent_.clear();
  ASSERT_TRUE(BuildNodeStatusRequest(2, MakeName("beta", 0), &request));
  Receive(request, kPeerIp, 3000);
  EXPECT_EQ(sent_.size(), 1u);
  sent_.clear();
  ASSERT_TRUE(BuildNodeStatusRequest(3, MakeName("*", 0), &request));
  Set16Be(&request, 2, kFlagBroadcast);
  Receive(request, kPeerIp, 3000);
  ASSERT_TRUE(BuildNodeStatusRequest(4, MakeName("DELTA", 0), &request));
  Receive(request, kPeerIp, 3000);
  core_.OnNamePacket(request.data(), request.size(), kPeerIp, 137, 3000, true);
  EXPECT_TRUE(sent_.empty());

  // The broadcast flag on a question sent to our own address: answered.
  ASSERT_TRUE(BuildNodeStatusRequest(5, MakeName("*", 0), &request));
  Set16Be(&request, 2, kFlagBroadcast);
  core_.OnNamePacket(request.data(), request.size(), kPeerIp, 40001, 3000, true);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].port, 40001);
  ASSERT_TRUE(DecodeNamePacket(sent_[0].packet.data(), sent_[0].packet.size(), &answer));
  EXPECT_EQ(answer.id, 5);
}

// A bridge restarts: it releases its names, and the new one registers them
// over 750 ms, answering nothing meanwhile. A write in that gap waits for
// the registration it heard instead of failing, and a failed lookup does
// not outlive a registration heard after it.
TEST_F(BridgeCoreTest, AComputerWhoseBridgeRestartsIsReachableWithinASecond) {
  ServeAndSettle();
  core_.Resolve("BRAVO", 2000, [](uint32_t) {});
  AnswerQuery(kPeerIp, 2000);
  std::vector<uint8_t> packet;
  ASSERT_TRUE(BuildRelease(1, MakeName("BRAVO", 0), false, kPeerIp, &packet));
  Receive(packet, kPeerIp, 3000);
  uint32_t result = 1;
  Millis done = 0;
  core_.Write("ALPHA", "BRAVO", "vask", {'x'}, 3010, [&](uint32_t e) { result = e; });
  bool owned = false;
  for (Millis t = 3010; t <= 6000 && result == 1; t += 10) {
    if (t == 3020 || t == 3270 || t == 3520) {  // the new bridge's registration
      ASSERT_TRUE(BuildRegistration(static_cast<uint16_t>(t), MakeName("BRAVO", 0), false, kPeerIp,
                                    300000, &packet));
      Receive(packet, kPeerIp, t);
    }
    owned = t >= 3770;  // silence: the name is its own from here on
    core_.OnTimer(t);
    if (owned) {
      for (const NamePacket& q : NamePackets(kBroadcastIp)) {
        if (q.opcode() != kOpQuery) continue;
        std::vector<uint8_t> answer;
        ASSERT_TRUE(
            BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, kPeerIp}}, &answer));
        Receive(answer, kPeerIp, t);
      }
    }
    sent_.erase(std::remove_if(sent_.begin(), sent_.end(),
                               [](const Sent& s) { return s.fromPort == kNamePort; }),
                sent_.end());
    done = t;
  }
  EXPECT_EQ(result, 0u);
  EXPECT_LE(done - 3000, 1000) << "without a route for at most a second";
  EXPECT_EQ(Datagrams(kPeerIp).size(), 1u);

  // A lookup that failed while nobody held the name does not outlive the
  // registration that follows it.
  sent_.clear();
  result = 1;
  core_.Resolve("DELTA", 10000, [&](uint32_t e) { result = e; });
  for (Millis t = 10000; t <= 10750; t += 250) core_.OnTimer(t);
  EXPECT_EQ(result, 53u);
  ASSERT_TRUE(BuildRegistration(9, MakeName("DELTA", 0), false, 0x0A000008, 300000, &packet));
  Receive(packet, 0x0A000008, 10800);
  sent_.clear();
  result = 1;
  core_.Resolve("DELTA", 11700, [&](uint32_t e) { result = e; });
  EXPECT_EQ(result, 1u) << "asked again, not refused from the cache";
  AnswerQuery(0x0A000008, 11710);
  EXPECT_EQ(result, 0u);
}

TEST_F(BridgeCoreTest, ARegistrationListsItsSenderAndOnlyTheHolderReleases) {
  ServeAndSettle();
  // Claims 10.0.0.66, comes from 10.0.0.8: listed where it came from.
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(5, MakeName("DELTA", 0), false, 0x0A000042, 300000, &reg));
  Receive(reg, 0x0A000008, 3000);
  ASSERT_EQ(core_.Neighbours().size(), 1u);
  EXPECT_EQ(core_.Neighbours()[0].ip, 0x0A000008u);
  // A release naming its address but sent from elsewhere changes nothing;
  // its own does.
  std::vector<uint8_t> release;
  ASSERT_TRUE(BuildRelease(6, MakeName("DELTA", 0), false, 0x0A000008, &release));
  Receive(release, 0x0A000009, 3100);
  EXPECT_EQ(core_.Neighbours().size(), 1u);
  ASSERT_TRUE(BuildRelease(7, MakeName("DELTA", 0), false, 0x0A000042, &release));
  Receive(release, 0x0A000008, 3200);
  EXPECT_TRUE(core_.Neighbours().empty());
}

TEST_F(BridgeCoreTest, EachComputerAnnouncesItselfAtGrowingIntervals) {
  core_.SetServedComputers({"alpha"}, 0);
  std::vector<Millis> times;
  std::vector<uint32_t> periods;
  for (Millis t = 0; t <= 40 * 60000; t += 250) {
    sent_.clear();
    core_.OnTimer(t);
    for (const MailslotDatagram& d : Datagrams(kBroadcastIp)) {
      if (d.mailslot != "\\MAILSLOT\\BROWSE" || d.data[0] != kHostAnnouncement) continue;
      EXPECT_EQ(d.type, kDirectGroup);
      EXPECT_TRUE(NamesMatch(d.destination, MakeName("WORKGROUP", 0x1D)));
      EXPECT_TRUE(NamesMatch(d.source, MakeName("ALPHA", 0)));
      BrowseFrame frame;
      ASSERT_TRUE(DecodeBrowseFrame(d.data.data(), d.data.size(), &frame));
      EXPECT_EQ(frame.announcement.serverName, "ALPHA");
      EXPECT_EQ(frame.announcement.serverType, kServerWorkstation);
      EXPECT_EQ(frame.announcement.comment, "Pokój 12");
      times.push_back(t);
      periods.push_back(frame.announcement.periodicity);
    }
  }
  // Once the name is ours, then 1, 2, 4, 8, 12, 12 ... minutes apart.
  ASSERT_GE(times.size(), 6u);
  EXPECT_EQ(times[0], 750);
  const Millis minute = 60000;
  std::vector<Millis> gaps = {1, 2, 4, 8, 12};
  for (size_t i = 0; i < gaps.size(); ++i) {
    EXPECT_EQ(times[i + 1] - times[i], gaps[i] * minute) << i;
    EXPECT_EQ(periods[i], static_cast<uint32_t>(gaps[i] * minute)) << i;
  }

  // Leaving: one more announcement, with no server type.
  sent_.clear();
  core_.Shutdown(5000);
  std::vector<MailslotDatagram> last = Datagrams(kBroadcastIp);
  ASSERT_EQ(last.size(), 1u);
  BrowseFrame frame;
  ASSERT_TRUE(DecodeBrowseFrame(last[0].data.data(), last[0].data.size(), &frame));
  EXPECT_EQ(frame.announcement.serverType, 0u);
}

TEST_F(BridgeCoreTest, AnAnnouncementRequestIsAnsweredWithinHalfAMinute) {
  ServeAndSettle();
  std::vector<uint8_t> request;
  ASSERT_TRUE(EncodeAnnouncementRequest("CHARLIE", &request));
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0, "BROWSE",
                  std::string(request.begin(), request.end()), kPeerIp, "CHARLIE", 5000);
  EXPECT_TRUE(delivered_.empty()) << "the browse slot is the bridge's own";
  std::vector<Millis> answered;
  for (Millis t = 5000; t <= 5000 + 30000; t += 250) {
    sent_.clear();
    core_.OnTimer(t);
    for (const MailslotDatagram& d : Datagrams(kBroadcastIp)) {
      answered.push_back(t);
      EXPECT_TRUE(NamesMatch(d.source, MakeName("ALPHA", 0)) ||
                  NamesMatch(d.source, MakeName("BETA", 0)));
    }
  }
  EXPECT_EQ(answered.size(), 2u) << "ALPHA and BETA, each once";
}

TEST_F(BridgeCoreTest, AnnouncementsHeardFillTheNeighbourhoodWithTheirComments) {
  ServeAndSettle();
  Announcement a;
  a.serverName = "SAMBA1";
  a.serverType = kServerWorkstation | kServerServer;
  a.comment = "Samba file server";
  std::vector<uint8_t> frame;
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0x1D, "BROWSE",
                  std::string(frame.begin(), frame.end()), 0x0A000005, "SAMBA1");
  a.serverName = "WINBOX";
  a.opcode = kLocalMasterAnnouncement;
  a.comment = "line\nbreak";
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  ReceiveDatagram(kDirectGroup, "OFFICE", 0x1E, "BROWSE", std::string(frame.begin(), frame.end()),
                  0x0A000006, "WINBOX");
  EXPECT_TRUE(core_.TakeNeighboursChanged());
  std::vector<Neighbour> n = core_.Neighbours();
  ASSERT_EQ(n.size(), 2u);
  EXPECT_EQ(n[0].name, "SAMBA1");
  EXPECT_EQ(n[0].workgroup, "WORKGROUP");
  EXPECT_EQ(n[0].comment, "Samba file server");
  EXPECT_EQ(n[0].ip, 0x0A000005u);
  EXPECT_EQ(n[1].name, "WINBOX");
  EXPECT_EQ(n[1].workgroup, "OFFICE");
  EXPECT_EQ(n[1].comment, "line?break");

  // The same announcement again changes nothing; one with no server type
  // takes the computer off the list.
  a.opcode = kHostAnnouncement;
  a.serverName = "SAMBA1";
  a.comment = "Samba file server";
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0x1D, "BROWSE",
                  std::string(frame.begin(), frame.end()), 0x0A000005, "SAMBA1");
  EXPECT_FALSE(core_.TakeNeighboursChanged());
  a.serverType = 0;
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  ReceiveDatagram(kDirectGroup, "WORKGROUP", 0x1D, "BROWSE",
                  std::string(frame.begin(), frame.end()), 0x0A000005, "SAMBA1");
  EXPECT_TRUE(core_.TakeNeighboursChanged());
  ASSERT_EQ(core_.Neighbours().size(), 1u);
  EXPECT_EQ(core_.Neighbours()[0].name, "WINBOX");
}

// Two bridges on one network, each serving a computer of the same name,
// driven on one injected clock: what one sends the other hears a moment
// later (unicast to its address, broadcasts to both).
class TwoBridges {
 public:
  static constexpr uint32_t kLow = 0x0A000002;
  static constexpr uint32_t kHigh = 0x0A000003;

  TwoBridges() : low_(Config(kLow), Io(0)), high_(Config(kHigh), Io(1)) {}

  // Starts serving ALPHA on the low and the high address at the given
  // times, claims it on both, and runs both until their claims are told.
  void Run(Millis lowStart, Millis highStart) {
    for (Millis t = 0; t <= 3000; t += 10) {
      if (t == lowStart) Start(0, t);
      if (t == highStart) Start(1, t);
      Pump(t);
      Core(0).OnTimer(t);
      Core(1).OnTimer(t);
      Pump(t);
    }
  }

  BridgeCore& Core(int i) { return i == 0 ? low_ : high_; }
  uint32_t claim[2] = {0xFFFFFFFF, 0xFFFFFFFF};
  std::vector<std::string> logs[2];

  // Whether bridge i answers a query for ALPHA<00>.
  bool Answers(int i) {
    answered_ = false;
    std::vector<uint8_t> query;
    EXPECT_TRUE(BuildQuery(99, MakeName("ALPHA", 0), &query));
    Core(i).OnNamePacket(query.data(), query.size(), 0x0A000009, 137, 5000);
    return answered_;
  }

 private:
  struct Packet {
    int to;
    uint32_t from;
    uint16_t port;
    bool names;
    std::vector<uint8_t> data;
  };

  static BridgeConfig Config(uint32_t ip) {
    BridgeConfig c;
    c.ip = ip;
    c.broadcast = 0x0A0000FF;
    return c;
  }

  BridgeIo Io(int i) {
    BridgeIo io;
    io.sendUdp = [this, i](uint16_t from, uint32_t ip, uint16_t port,
                           const std::vector<uint8_t>& p) {
      uint32_t own = i == 0 ? kLow : kHigh;
      uint32_t other = i == 0 ? kHigh : kLow;
      if (ip == 0x0A000009) answered_ = true;
      if (ip == other || ip == 0x0A0000FF) queue_.push_back({1 - i, own, from, port == 137, p});
    };
    io.deliver = [](const std::string&, const std::string&, const std::vector<uint8_t>&) {
      return Delivery::kDelivered;
    };
    io.log = [this, i](const std::string& line) { logs[i].push_back(line); };
    return io;
  }

  void Start(int i, Millis now) {
    Core(i).SetServedComputers({"ALPHA"}, now);
    Core(i).Claim("ALPHA", now, [this, i](uint32_t e) { claim[i] = e; });
  }

  void Pump(Millis now) {
    while (!queue_.empty()) {
      Packet p = queue_.front();
      queue_.erase(queue_.begin());
      if (p.names) {
        Core(p.to).OnNamePacket(p.data.data(), p.data.size(), p.from, p.port, now);
      } else {
        Core(p.to).OnDatagramPacket(p.data.data(), p.data.size(), p.from, now);
      }
    }
  }

  BridgeCore low_;
  BridgeCore high_;
  std::vector<Packet> queue_;
  bool answered_ = false;
};

TEST(SimultaneousClaims, ExactlyOneOfTwoMachinesThatClaimANameTogetherKeepsIt) {
  // Started together, or up to the end of the first one's registration,
  // in either order: the lower address keeps the name, the other is told.
  for (Millis gap : {0, 10, 100, 240, 250, 260, 500, 740}) {
    for (bool lowFirst : {true, false}) {
      SCOPED_TRACE("gap " + std::to_string(gap) + (lowFirst ? ", low first" : ", high first"));
      TwoBridges lan;
      lan.Run(lowFirst ? 0 : gap, lowFirst ? gap : 0);
      EXPECT_EQ(lan.claim[0], 0u);
      EXPECT_EQ(lan.claim[1], bridge_link::kErrorNameInConflict);
      EXPECT_TRUE(lan.Answers(0));
      EXPECT_FALSE(lan.Answers(1));
      bool told = false;
      for (const std::string& line : lan.logs[1]) {
        told = told || line.find("in use by 10.0.0.2") != std::string::npos;
      }
      EXPECT_TRUE(told) << "the one that yields says so";
    }
  }
}

TEST_F(BridgeCoreTest, OfTwoAnswersForOneNameTheLowerAddressIsUsedAndTheClashLogged) {
  ServeAndSettle();
  core_.Resolve("BRAVO", 2000, [](uint32_t) {});
  const NamePacket q = NamePackets(kBroadcastIp).back();
  std::vector<uint8_t> answer;
  ASSERT_TRUE(BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, 0x0A000007}}, &answer));
  Receive(answer, 0x0A000007, 2010);
  ASSERT_TRUE(BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, 0x0A000004}}, &answer));
  logs_.clear();
  Receive(answer, 0x0A000004, 2020);
  ASSERT_EQ(logs_.size(), 1u);
  EXPECT_NE(logs_[0].find("two computers answer for BRAVO<00>: 10.0.0.7 and 10.0.0.4"),
            std::string::npos)
      << logs_[0];
  sent_.clear();
  EXPECT_EQ(WriteNow("ALPHA", "BRAVO", 2100), 0u);
  EXPECT_EQ(Datagrams(0x0A000004).size(), 1u);
  EXPECT_TRUE(Datagrams(0x0A000007).empty());
  ASSERT_EQ(core_.Neighbours().size(), 1u);
  EXPECT_EQ(core_.Neighbours()[0].ip, 0x0A000004u);

  // A higher one after that changes nothing but the log; a stray answer
  // to no query of ours not even that.
  ASSERT_TRUE(BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, 0x0A000009}}, &answer));
  Receive(answer, 0x0A000009, 2200);
  ASSERT_TRUE(BuildPositiveResponse(static_cast<uint16_t>(q.id + 7), q.question, 300000,
                                    {NbAddress{0, 0x0A000001}}, &answer));
  Receive(answer, 0x0A000003, 2200);
  EXPECT_EQ(logs_.size(), 2u);
  sent_.clear();
  EXPECT_EQ(WriteNow("ALPHA", "BRAVO", 2300), 0u);
  EXPECT_EQ(Datagrams(0x0A000004).size(), 1u);
}

TEST_F(BridgeCoreTest, OneAddressCannotFillTheNeighbourhood) {
  ServeAndSettle();
  auto announce = [this](const std::string& name, uint32_t ip, Millis now) {
    Announcement a;
    a.serverName = name;
    a.serverType = kServerWorkstation;
    std::vector<uint8_t> frame;
    ASSERT_TRUE(EncodeAnnouncement(a, &frame));
    ReceiveDatagram(kDirectGroup, "WORKGROUP", 0x1D, "BROWSE",
                    std::string(frame.begin(), frame.end()), ip, name, now);
  };
  logs_.clear();
  for (int i = 0; i < 1200; ++i) announce("FAKE" + std::to_string(i), 0x0A000066, 3000 + i);
  EXPECT_EQ(core_.Neighbours().size(), BridgeCore::kMaxNeighboursPerAddress);
  ASSERT_FALSE(logs_.empty());
  EXPECT_NE(logs_[0].find("one address names more than 16 computers"), std::string::npos)
      << logs_[0];
  // The names it has keep their places and may be heard again.
  announce("FAKE3", 0x0A000066, 5000);
  EXPECT_EQ(core_.Neighbours().size(), BridgeCore::kMaxNeighboursPerAddress);

  // A real computer that comes later is listed, and so is one that moves
  // to an address of its own; none moves onto the full address.
  announce("REALPC", 0x0A000020, 60000);
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(5, MakeName("REALPC", 0), false, 0x0A000066, 300000, &reg));
  Receive(reg, 0x0A000066, 60000);
  announce("FAKE0", 0x0A000021, 60000);
  std::vector<Neighbour> n = core_.Neighbours();
  ASSERT_EQ(n.size(), BridgeCore::kMaxNeighboursPerAddress + 1);
  bool real = false, moved = false;
  for (const Neighbour& each : n) {
    real = real || (each.name == "REALPC" && each.ip == 0x0A000020u);
    moved = moved || (each.name == "FAKE0" && each.ip == 0x0A000021u);
  }
  EXPECT_TRUE(real);
  EXPECT_TRUE(moved);
}

}  // namespace
}  // namespace vask::bridge
