// The NetBIOS codec against the worked figures of the wire formats, round
// trips, and malformed packets refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/browse_frame.h"
#include "bridge/byte_order.h"
#include "bridge/mailslot_datagram.h"
#include "bridge/name_packet.h"
#include "bridge/netbios_name.h"
#include "bridge/node_status.h"
#include "transport/datagram_room.h"

namespace vask::bridge {
namespace {

std::string Letters(const std::vector<uint8_t>& wire) {
  return std::string(wire.begin() + 1, wire.begin() + 33);
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

MailslotDatagram Sample(const std::string& slot, size_t dataSize) {
  MailslotDatagram d;
  d.type = kDirectUnique;
  d.id = 0x1234;
  d.sourceIp = 0x0A000001;
  d.source = MakeName("alpha", kSuffixWorkstation);
  d.destination = MakeName("BRAVO", kSuffixWorkstation);
  d.mailslot = WireMailslotName(slot);
  d.data.assign(dataSize, 'x');
  return d;
}

TEST(NetbiosName, EncodesTheWorkedExamples) {
  std::vector<uint8_t> wire;
  ASSERT_TRUE(EncodeName(MakeName("fred", 0x00), &wire));
  ASSERT_EQ(wire.size(), kEncodedNameSize);
  EXPECT_EQ(wire.front(), 0x20);
  EXPECT_EQ(wire.back(), 0x00);
  std::string padding;
  for (int i = 0; i < 11; ++i) padding += "CA";
  EXPECT_EQ(Letters(wire), "EGFCEFEE" + padding + "AA");

  wire.clear();
  ASSERT_TRUE(EncodeName(MakeName("*", 0x00), &wire));
  std::string nuls;
  for (int i = 0; i < 15; ++i) nuls += "AA";
  EXPECT_EQ(Letters(wire), "CK" + nuls);
}

TEST(NetbiosName, DecodesWhatItEncodesAndMatchesWithoutCase) {
  for (const NetbiosName& name :
       {MakeName("FRED", 0x03), MakeName("*", 0), MakeName("A", 0x1D),
        MakeName("FIFTEEN-CHARS-X", 0x20), NetbiosName{"HOST", 0, "corp.example"}}) {
    std::vector<uint8_t> wire;
    ASSERT_TRUE(EncodeName(name, &wire));
    NetbiosName back;
    size_t end = 0;
    ASSERT_TRUE(DecodeName(wire.data(), wire.size(), 0, false, &back, &end)) << name.name;
    EXPECT_EQ(end, wire.size());
    EXPECT_TRUE(NamesMatch(back, name)) << DescribeName(back);
  }
  EXPECT_TRUE(NamesMatch(MakeName("Fred ", 0), NetbiosName{"fred", 0, ""}));
  EXPECT_FALSE(NamesMatch(MakeName("FRED", 0), MakeName("FRED", 3)));
  // Matching compares 15 characters: a longer name is cut.
  EXPECT_TRUE(NamesMatch(NetbiosName{"ABCDEFGHIJKLMNOPQ", 0, ""}, MakeName("ABCDEFGHIJKLMNO", 0)));
}

TEST(NetbiosName, RefusesMalformedNames) {
  std::vector<uint8_t> good;
  ASSERT_TRUE(EncodeName(MakeName("FRED", 0), &good));
  NetbiosName name;
  size_t end;
  auto refused = [&](std::vector<uint8_t> wire, bool pointers, size_t offset = 0) {
    return !DecodeName(wire.data(), wire.size(), offset, pointers, &name, &end);
  };
  std::vector<uint8_t> bad = good;
  bad[5] = 'Q';  // outside A-P
  EXPECT_TRUE(refused(bad, false));
  bad = good;
  bad[0] = 0x1F;  // first label not 32 letters
  EXPECT_TRUE(refused(bad, false));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + cut), false)) << cut;
  }
  // All spaces, and a NUL inside a name that is not the wildcard.
  std::vector<uint8_t> spaces;
  ASSERT_TRUE(EncodeName(MakeName("X", 0), &spaces));
  spaces[1] = 'C';
  spaces[2] = 'A';
  EXPECT_TRUE(refused(spaces, false));
  bad = good;
  bad[3] = 'A';
  bad[4] = 'A';
  EXPECT_TRUE(refused(bad, false));

  std::vector<uint8_t> pointer = {0xC0, 0x00};
  EXPECT_TRUE(refused(pointer, false));  // not allowed here
  EXPECT_TRUE(refused(pointer, true));   // points at itself
  std::vector<uint8_t> chain = good;     // a pointer to a pointer
  chain.insert(chain.end(), {0xC0, 0x22, 0xC0, 0x22});
  EXPECT_TRUE(refused(chain, true, 36));
  std::vector<uint8_t> back = good;  // a pointer to an earlier whole name is fine
  back.insert(back.end(), {0xC0, 0x00});
  ASSERT_TRUE(DecodeName(back.data(), back.size(), 34, true, &name, &end));
  EXPECT_EQ(name.name, "FRED");
  EXPECT_EQ(end, 36u);
}

TEST(MailslotDatagram, BrowseFigures) {
  std::vector<uint8_t> packet;
  MailslotDatagram d = Sample("BROWSE", 33);
  ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
  const uint8_t* smb = packet.data() + 82;
  EXPECT_EQ(Get16Le(smb + 57), 86);  // DataOffset
  EXPECT_EQ(Get16Le(smb + 67), 50);  // ByteCount
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(smb + 69)), "\\MAILSLOT\\BROWSE");
}

TEST(MailslotDatagram, MessengerFigures) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{100}, kMaxRemoteWrite}) {
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeMailslotDatagram(Sample("messngr", n), &packet));
    const uint8_t* smb = packet.data() + 82;
    EXPECT_EQ(Get16Le(smb + 57), 87) << n;
    EXPECT_EQ(Get16Le(smb + 67), 18 + n) << n;
    EXPECT_EQ(Get16Be(packet.data() + 10), 155 + n) << n;  // DGM_LENGTH
    EXPECT_EQ(packet.size(), 169 + n) << n;                // the UDP payload
    EXPECT_EQ(Get16Le(smb + 35), n);                       // TotalDataCount
    EXPECT_EQ(Get16Le(smb + 55), n);                       // DataCount
    EXPECT_EQ(smb[32], 17);
    EXPECT_EQ(Get16Le(smb + 61), 1);  // write
    EXPECT_EQ(Get16Le(smb + 65), 2);  // second class
    EXPECT_EQ(packet[1] & kFlagMore, 0);
  }
}

// The plug-in sizes its datagrams for the limit the bridge keeps.
static_assert(kMaxRemoteWrite == vask::kMaxRemoteDatagram);

TEST(MailslotDatagram, RoundTripsAndRefusesOversizedWrites) {
  MailslotDatagram d = Sample("Vask", 424);
  d.type = kDirectGroup;
  d.data[0] = 0;
  d.data[423] = 0xFF;
  std::vector<uint8_t> packet;
  ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
  DatagramPacket back;
  ASSERT_TRUE(DecodeDatagramPacket(packet.data(), packet.size(), &back));
  EXPECT_EQ(back.type, kDirectGroup);
  EXPECT_EQ(back.id, 0x1234);
  EXPECT_EQ(back.sourceIp, 0x0A000001u);
  EXPECT_EQ(back.sourcePort, kDatagramPort);
  EXPECT_TRUE(NamesMatch(back.mailslot.source, d.source));
  EXPECT_TRUE(NamesMatch(back.mailslot.destination, d.destination));
  EXPECT_EQ(back.mailslot.mailslot, "\\MAILSLOT\\VASK");
  EXPECT_EQ(back.mailslot.data, d.data);

  d.data.push_back('!');
  EXPECT_FALSE(EncodeMailslotDatagram(d, &packet));
  d.data.clear();
  d.mailslot = "\\PIPE\\X";
  EXPECT_FALSE(EncodeMailslotDatagram(d, &packet));
}

TEST(MailslotDatagram, AcceptsPaddingBetweenNameAndData) {
  std::vector<uint8_t> packet;
  ASSERT_TRUE(EncodeMailslotDatagram(Sample("messngr", 3), &packet));
  // Two pad bytes before the data: DataOffset and ByteCount move, as some
  // senders align the data.
  packet.insert(packet.begin() + 82 + 87, {0xEE, 0xEE});
  Set16Be(&packet, 10, static_cast<uint16_t>(packet.size() - 14));
  packet[82 + 57] = 89;
  packet[82 + 67] = 18 + 3 + 2;
  DatagramPacket back;
  ASSERT_TRUE(DecodeDatagramPacket(packet.data(), packet.size(), &back));
  EXPECT_EQ(back.mailslot.data, Bytes("xxx"));
}

TEST(MailslotDatagram, RefusesMalformedDatagrams) {
  std::vector<uint8_t> good;
  ASSERT_TRUE(EncodeMailslotDatagram(Sample("messngr", 5), &good));
  DatagramPacket out;
  auto refused = [&](const std::vector<uint8_t>& p) {
    return !DecodeDatagramPacket(p.data(), p.size(), &out);
  };
  ASSERT_FALSE(refused(good));
  // Every truncation, with the length field left as it was.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + cut))) << cut;
  }
  struct Mutation {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const size_t smb = 82;
  for (const Mutation& m : std::vector<Mutation>{
           {"type 0x14", 0, 0x14},
           {"more fragments", 1, 0x03},
           {"packet offset", 13, 1},
           {"DGM_LENGTH past the end", 11, 0xFF},
           {"not an SMB", smb, 0xFE},
           {"not a transaction", smb + 4, 0x72},
           {"WordCount 16", smb + 32, 16},
           {"SetupCount 2", smb + 59, 2},
           {"opcode 2", smb + 61, 2},
           {"class 1", smb + 65, 1},
           {"DataOffset in the name", smb + 57, 80},
           {"DataOffset past ByteCount", smb + 57, 90},
           {"data past ByteCount", smb + 67, 20},
           {"TotalDataCount differs", smb + 35, 9},
           {"ByteCount past the end", smb + 67, 40},
           {"name without NUL", smb + 69 + 17, 'X'},
           {"not \\MAILSLOT\\", smb + 70, 'P'},
           {"control character in the name", smb + 81, 0x07},
           {"bad name letter", 20, 'Z'},
       }) {
    std::vector<uint8_t> bad = good;
    bad[m.at] = m.value;
    EXPECT_TRUE(refused(bad)) << m.what;
  }
  // The wildcard may only be a destination.
  MailslotDatagram d = Sample("messngr", 1);
  d.source = MakeName("*", 0);
  std::vector<uint8_t> wildcard;
  ASSERT_TRUE(EncodeMailslotDatagram(d, &wildcard));
  EXPECT_TRUE(refused(wildcard));
  // The error datagram is exactly 11 bytes.
  std::vector<uint8_t> error = {0x13, 0x02, 0, 1, 10, 0, 0, 2, 0, 138, 0x82};
  ASSERT_FALSE(refused(error));
  EXPECT_EQ(out.errorCode, 0x82);
  error.push_back(0);
  EXPECT_TRUE(refused(error));
}

TEST(NamePacket, QueryAndResponses) {
  NetbiosName fred = MakeName("FRED", 0);
  std::vector<uint8_t> query;
  ASSERT_TRUE(BuildQuery(7, fred, &query));
  EXPECT_EQ(query.size(), 50u);
  EXPECT_EQ(Get16Be(query.data() + 2), 0x0110);
  NamePacket p;
  ASSERT_TRUE(DecodeNamePacket(query.data(), query.size(), &p));
  EXPECT_FALSE(p.response());
  EXPECT_EQ(p.opcode(), kOpQuery);
  EXPECT_TRUE(p.hasQuestion);
  EXPECT_TRUE(NamesMatch(p.question, fred));

  std::vector<uint8_t> positive;
  std::vector<NbAddress> addresses = {{0, 0x0A000002}, {kNbGroup, 0x0A000003}};
  ASSERT_TRUE(BuildPositiveResponse(7, fred, 300000, addresses, &positive));
  EXPECT_EQ(Get16Be(positive.data() + 2), 0x8500);
  ASSERT_TRUE(DecodeNamePacket(positive.data(), positive.size(), &p));
  EXPECT_TRUE(p.response());
  EXPECT_EQ(p.rcode(), 0);
  EXPECT_EQ(p.id, 7);
  EXPECT_EQ(p.ttl, 300000u);
  EXPECT_EQ(p.addresses, addresses);

  std::vector<uint8_t> negative;
  ASSERT_TRUE(BuildNegativeResponse(7, fred, &negative));
  ASSERT_TRUE(DecodeNamePacket(negative.data(), negative.size(), &p));
  EXPECT_EQ(p.rcode(), kRcodeNameError);
  EXPECT_TRUE(p.addresses.empty());
}

TEST(NamePacket, RegistrationDefenceAndRelease) {
  NetbiosName fred = MakeName("FRED", 3);
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(9, fred, false, 0x0A000001, 300000, &reg));
  EXPECT_EQ(Get16Be(reg.data() + 2), 0x2910);
  EXPECT_EQ(Get16Be(reg.data() + 4), 1);   // QDCOUNT
  EXPECT_EQ(Get16Be(reg.data() + 10), 1);  // ARCOUNT
  EXPECT_EQ(Get16Be(reg.data() + 50), 0xC00C);
  EXPECT_EQ(reg.size(), 50u + 2 + 10 + 6);
  NamePacket p;
  ASSERT_TRUE(DecodeNamePacket(reg.data(), reg.size(), &p));
  EXPECT_EQ(p.opcode(), kOpRegistration);
  EXPECT_TRUE(NamesMatch(p.recordName, fred));
  ASSERT_EQ(p.addresses.size(), 1u);
  EXPECT_EQ(p.addresses[0], (NbAddress{0, 0x0A000001}));

  std::vector<uint8_t> group;
  ASSERT_TRUE(BuildRegistration(9, MakeName("WORKGROUP", 0), true, 0x0A000001, 300000, &group));
  ASSERT_TRUE(DecodeNamePacket(group.data(), group.size(), &p));
  EXPECT_EQ(p.addresses[0].nbFlags, kNbGroup);

  std::vector<uint8_t> defence;
  ASSERT_TRUE(BuildDefence(9, fred, 0x0A000002, &defence));
  EXPECT_EQ(Get16Be(defence.data() + 2), 0xAD86);
  ASSERT_TRUE(DecodeNamePacket(defence.data(), defence.size(), &p));
  EXPECT_EQ(p.opcode(), kOpRegistration);
  EXPECT_EQ(p.rcode(), kRcodeActive);

  std::vector<uint8_t> release;
  ASSERT_TRUE(BuildRelease(10, fred, false, 0x0A000001, &release));
  EXPECT_EQ(Get16Be(release.data() + 2), 0x3010);
  ASSERT_TRUE(DecodeNamePacket(release.data(), release.size(), &p));
  EXPECT_EQ(p.opcode(), kOpRelease);
}

TEST(NamePacket, RefusesMalformedPackets) {
  std::vector<uint8_t> reg;
  ASSERT_TRUE(BuildRegistration(9, MakeName("FRED", 0), false, 0x0A000001, 300000, &reg));
  NamePacket p;
  auto refused = [&](const std::vector<uint8_t>& b) {
    return !DecodeNamePacket(b.data(), b.size(), &p);
  };
  for (size_t cut = 0; cut < reg.size(); ++cut) {
    EXPECT_TRUE(refused(std::vector<uint8_t>(reg.begin(), reg.begin() + cut))) << cut;
  }
  std::vector<uint8_t> bad = reg;
  bad.push_back(0);
  EXPECT_TRUE(refused(bad)) << "trailing byte";
  bad = reg;
  bad[5] = 2;
  EXPECT_TRUE(refused(bad)) << "two questions";
  bad = reg;
  bad[11] = 2;
  EXPECT_TRUE(refused(bad)) << "a record counted that is not there";
  bad = reg;
  bad[reg.size() - 7] = 7;
  EXPECT_TRUE(refused(bad)) << "RDLENGTH past the end";
  bad = reg;
  bad[51] = 0x40;
  EXPECT_TRUE(refused(bad)) << "pointer forward";
  bad = reg;
  bad[49] = 0x02;
  EXPECT_TRUE(refused(bad)) << "question class";
  bad = reg;
  bad[2] |= 0x02;
  EXPECT_TRUE(refused(bad)) << "truncated flag";
}

TEST(NodeStatus, TheAnswerHasTheLayoutToolsRead) {
  NodeStatus status;
  status.names = {{MakeName("ALPHA", 0x00), kStatusActive},
                  {MakeName("ALPHA", 0x03), kStatusActive | kStatusConflict},
                  {MakeName("WORKGROUP", 0x00), kStatusActive | kStatusGroup}};
  status.unitId = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  std::vector<uint8_t> packet;
  ASSERT_TRUE(BuildNodeStatusResponse(0xBEEF, MakeName("*", 0), status, &packet));
  // Header, the question's name, type, class, TTL, RDLENGTH, then RDATA.
  ASSERT_EQ(packet.size(), 12u + 34 + 10 + 1 + 3 * 18 + 46);
  EXPECT_EQ(Get16Be(&packet[0]), 0xBEEF);
  EXPECT_EQ(Get16Be(&packet[2]), 0x8400);
  EXPECT_EQ(Get16Be(&packet[4]), 0);  // no question
  EXPECT_EQ(Get16Be(&packet[6]), 1);  // one answer
  EXPECT_EQ(packet[13], 'C');         // "*" encodes as CK AA...
  EXPECT_EQ(packet[14], 'K');
  const uint8_t* record = &packet[12 + 34];
  EXPECT_EQ(Get16Be(record), kTypeNbstat);
  EXPECT_EQ(Get16Be(record + 2), kClassIn);
  EXPECT_EQ(Get32Be(record + 4), 0u);
  EXPECT_EQ(Get16Be(record + 8), 1 + 3 * 18 + 46);
  const uint8_t* rdata = record + 10;
  EXPECT_EQ(rdata[0], 3);
  EXPECT_EQ(std::string(rdata + 1, rdata + 17), std::string("ALPHA          ") + '\0');
  EXPECT_EQ(Get16Be(rdata + 17), 0x0400);
  EXPECT_EQ(rdata[1 + 18 + 15], 0x03);
  EXPECT_EQ(Get16Be(rdata + 1 + 18 + 16), 0x0C00);
  EXPECT_EQ(Get16Be(rdata + 1 + 36 + 16), 0x8400);
  EXPECT_EQ(rdata[1 + 54], 0x02);  // the unit id begins the statistics
  EXPECT_EQ(rdata[1 + 54 + 5], 0x55);

  NamePacket p;
  ASSERT_TRUE(DecodeNamePacket(packet.data(), packet.size(), &p));
  EXPECT_EQ(p.recordType, kTypeNbstat);
  NodeStatus back;
  ASSERT_TRUE(DecodeNodeStatus(p.recordData.data(), p.recordData.size(), &back));
  EXPECT_EQ(back.names, status.names);
  EXPECT_EQ(back.unitId, status.unitId);

  std::vector<uint8_t> request;
  ASSERT_TRUE(BuildNodeStatusRequest(7, MakeName("*", 0), &request));
  ASSERT_TRUE(DecodeNamePacket(request.data(), request.size(), &p));
  EXPECT_EQ(p.questionType, kTypeNbstat);
  EXPECT_EQ(p.question.name, "*");
}

TEST(NodeStatus, RefusesShortDataAndTooManyNames) {
  std::vector<uint8_t> data = {2};
  data.insert(data.end(), 18 + 6, 'A');  // room for one name and the unit id, not two
  NodeStatus status;
  EXPECT_FALSE(DecodeNodeStatus(data.data(), data.size(), &status));
  EXPECT_FALSE(DecodeNodeStatus(data.data(), 0, &status));
  data[0] = 1;
  EXPECT_TRUE(DecodeNodeStatus(data.data(), data.size(), &status));
  std::vector<uint8_t> blank(1 + 18 + 6, ' ');
  blank[0] = 1;
  EXPECT_FALSE(DecodeNodeStatus(blank.data(), blank.size(), &status)) << "an empty name";

  NodeStatus many;
  many.names.assign(kMaxStatusNames + 1, StatusEntry{MakeName("X", 0), kStatusActive});
  std::vector<uint8_t> packet;
  EXPECT_FALSE(BuildNodeStatusResponse(1, MakeName("*", 0), many, &packet));
  many.names.pop_back();
  ASSERT_TRUE(BuildNodeStatusResponse(1, MakeName("*", 0), many, &packet));
  EXPECT_LE(packet.size(), 576u);
}

TEST(BrowseFrame, HostAnnouncementLayout) {
  Announcement a;
  a.serverName = "ALPHA";
  a.periodicity = 60000;
  a.comment = "Pokój 12";
  std::vector<uint8_t> frame;
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  ASSERT_EQ(frame.size(), 32u + a.comment.size() + 1);
  EXPECT_EQ(frame[0], kHostAnnouncement);
  EXPECT_EQ(Get32Le(&frame[2]), 60000u);
  EXPECT_EQ(std::string(frame.begin() + 6, frame.begin() + 22),
            std::string("ALPHA") + std::string(11, '\0'));
  EXPECT_EQ(Get32Le(&frame[24]), kServerWorkstation);
  EXPECT_EQ(Get32Le(&frame[24]) & kServerServer, 0u) << "no file server";
  EXPECT_EQ(frame[28], 15);
  EXPECT_EQ(frame[29], 1);
  EXPECT_EQ(Get16Le(&frame[30]), 0xAA55);
  EXPECT_EQ(frame.back(), 0);

  BrowseFrame back;
  ASSERT_TRUE(DecodeBrowseFrame(frame.data(), frame.size(), &back));
  EXPECT_EQ(back.announcement.serverName, "ALPHA");
  EXPECT_EQ(back.announcement.comment, "Pokój 12");
  EXPECT_EQ(back.announcement.serverType, kServerWorkstation);

  a.comment = std::string(60, 'c');
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  EXPECT_EQ(frame.size(), 32u + kMaxComment + 1) << "a long comment is cut";
  a.serverName = "SIXTEEN-CHARS-XX";
  EXPECT_FALSE(EncodeAnnouncement(a, &frame));
}

// Comments are the program's Windows-1250 text; peers read the frame's
// comment in the OEM code page 852.
TEST(BrowseFrame, TheCommentTravelsInTheOemCodePage) {
  // "Zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ" in Windows-1250, and in 852.
  const std::string cp1250 =
      "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1 \xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";
  const std::string oem =
      "Za\xBE\xA2\x88\x86 g\xA9\x98l\xA5 ja\xAB\xE4 \xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD";
  Announcement a;
  a.serverName = "ALPHA";
  a.comment = cp1250;
  std::vector<uint8_t> frame;
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  EXPECT_EQ(std::string(frame.begin() + 32, frame.end() - 1), oem);
  BrowseFrame back;
  ASSERT_TRUE(DecodeBrowseFrame(frame.data(), frame.size(), &back));
  EXPECT_EQ(back.announcement.comment, cp1250);

  // What the other side lacks: a look-alike, else '?'. „cytat” – … €, and
  // 852's box drawing and blocks.
  a.comment =
      "\x84"
      "cytat\x94 \x96 \x85 \x80 \x81";
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  EXPECT_EQ(std::string(frame.begin() + 32, frame.end() - 1), "\"cytat\" - . E ?");
  std::vector<uint8_t> boxes = frame;
  boxes.resize(32);
  for (uint8_t c : {0xC9, 0xCD, 0xBB, 0x20, 0xDB, 0xA2}) boxes.push_back(c);
  boxes.push_back(0);
  ASSERT_TRUE(DecodeBrowseFrame(boxes.data(), boxes.size(), &back));
  EXPECT_EQ(back.announcement.comment, "??? ?\xF3");
}

TEST(BrowseFrame, RefusesWhatItCannotRead) {
  Announcement a;
  a.serverName = "ALPHA";
  std::vector<uint8_t> frame;
  ASSERT_TRUE(EncodeAnnouncement(a, &frame));
  BrowseFrame out;
  EXPECT_FALSE(DecodeBrowseFrame(frame.data(), 31, &out)) << "shorter than its fields";
  std::vector<uint8_t> noNul = frame;
  std::fill(noNul.begin() + 6, noNul.begin() + 22, 'N');
  EXPECT_FALSE(DecodeBrowseFrame(noNul.data(), noNul.size(), &out)) << "name without its NUL";
  frame.pop_back();  // a comment without its NUL ends with the frame
  ASSERT_TRUE(DecodeBrowseFrame(frame.data(), frame.size(), &out));
  EXPECT_EQ(out.announcement.comment, "");
  const uint8_t election[] = {0x08, 1, 2, 3};
  EXPECT_FALSE(DecodeBrowseFrame(election, sizeof election, &out));
  std::vector<uint8_t> request;
  ASSERT_TRUE(EncodeAnnouncementRequest("BRAVO", &request));
  ASSERT_TRUE(DecodeBrowseFrame(request.data(), request.size(), &out));
  EXPECT_EQ(out.opcode, kAnnouncementRequest);
}

}  // namespace
}  // namespace vask::bridge
