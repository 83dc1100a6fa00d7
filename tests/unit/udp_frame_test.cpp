// The UDP frame and the tables beside it: what a hostile or broken frame
// turns into, which addresses count as the local network, the bounded
// address book, and the pairing of a datagram's two copies.
#include "transport/udp_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/address_book.h"
#include "transport/path_pairing.h"

namespace vask::test {
namespace {

using namespace std::string_literals;

const std::string kDatagram =
    "7\0ALPHA\0*\0STATUS\0"
    "64\0"
    "2097152\0\0"s;

TEST(UdpFrame, CarriesTheDatagramByteForByte) {
  const std::string frame = BuildFrame("Vask", "ALPHA", true, kDatagram);
  EXPECT_EQ(frame.substr(0, 6), "VASK\x01\x01"s);
  Frame parsed;
  ASSERT_EQ(ParseFrame(frame, parsed), FrameVerdict::kAccepted);
  EXPECT_EQ(parsed.slot, "Vask");
  EXPECT_EQ(parsed.sender, "ALPHA");
  EXPECT_EQ(parsed.datagram, kDatagram);
  EXPECT_TRUE(parsed.listening);
  Frame quiet;
  ASSERT_EQ(ParseFrame(BuildFrame("Vask", "ALPHA", false, kDatagram), quiet),
            FrameVerdict::kAccepted);
  EXPECT_FALSE(quiet.listening);
}

TEST(UdpFrame, HostileFramesAreDroppedWithTheirReason) {
  const std::string good = BuildFrame("Vask", "ALPHA", true, kDatagram);
  std::string wrongVersion = good;
  wrongVersion[4] = 2;
  const struct {
    std::string bytes;
    FrameVerdict verdict;
  } cases[] = {
      {"", FrameVerdict::kBadMagic},
      {"VAS", FrameVerdict::kBadMagic},
      {"XASK\x01\x01Vask\0ALPHA\0x"s, FrameVerdict::kBadMagic},
      {wrongVersion, FrameVerdict::kBadVersion},
      {"VASK\x01"s, FrameVerdict::kMalformed},
      {"VASK\x01\x01Vask"s, FrameVerdict::kMalformed},
      {"VASK\x01\x01Vask\0ALPHA"s, FrameVerdict::kMalformed},
      {"VASK\x01\x01Vask\0ALPHA\0"s, FrameVerdict::kMalformed},  // no datagram
      {BuildFrame("Vask", "ALPHA", true, std::string(kMaxFrameDatagram + 1, 'x')),
       FrameVerdict::kOversize},
      {good + std::string(kMaxFrame, 'x'), FrameVerdict::kOversize},
      {BuildFrame("", "ALPHA", true, kDatagram), FrameVerdict::kBadSlot},
      {BuildFrame("Va\x01sk", "ALPHA", true, kDatagram), FrameVerdict::kBadSlot},
      {BuildFrame("a/b", "ALPHA", true, kDatagram), FrameVerdict::kBadSlot},
      {BuildFrame(std::string(kMaxFrameSlot + 1, 's'), "ALPHA", true, kDatagram),
       FrameVerdict::kBadSlot},
      {BuildFrame("Vask", "*", true, kDatagram), FrameVerdict::kForgedSender},
      {BuildFrame("Vask", "", true, kDatagram), FrameVerdict::kBadSender},
      {BuildFrame("Vask", "A B", true, kDatagram), FrameVerdict::kBadSender},
      {BuildFrame("Vask", "A\\B", true, kDatagram), FrameVerdict::kBadSender},
      {BuildFrame("Vask", "SIXTEENCHARSLONG", true, kDatagram), FrameVerdict::kBadSender},
  };
  for (const auto& c : cases) {
    Frame frame;
    frame.slot = "untouched";
    EXPECT_EQ(ParseFrame(c.bytes, frame), c.verdict) << FrameDropReason(c.verdict);
    EXPECT_EQ(frame.slot, "untouched") << "a dropped frame fills nothing";
  }
  // The largest frame that may be is taken.
  Frame largest;
  EXPECT_EQ(ParseFrame(BuildFrame(std::string(kMaxFrameSlot, 's'), "FIFTEENCHARSLON", true,
                                  std::string(kMaxFrameDatagram, 'x')),
                       largest),
            FrameVerdict::kAccepted);
}

TEST(UdpFrame, DatagramSenderIsTheSecondField) {
  EXPECT_EQ(DatagramSender(kDatagram), "ALPHA");
  EXPECT_EQ(DatagramSender("1\0B"s), "B");
  EXPECT_EQ(DatagramSender("1"), "");
}

TEST(UdpFrame, OnlyLoopbackAndTheOwnSubnetsAreLan) {
  const std::vector<LocalNetwork> networks = {{0xC0A80105, 0xFFFFFF00},   // 192.168.1.5/24
                                              {0x0A000001, 0x00000000}};  // a /0 counts for none
  EXPECT_TRUE(IsLanAddress(0x7F000001, {}));                              // 127.0.0.1
  EXPECT_TRUE(IsLanAddress(0x7F123456, networks));
  EXPECT_TRUE(IsLanAddress(0xC0A801FE, networks));   // 192.168.1.254
  EXPECT_FALSE(IsLanAddress(0xC0A80201, networks));  // 192.168.2.1
  EXPECT_FALSE(IsLanAddress(0x08080808, networks));  // far away, despite the /0
}

TEST(AddressBook, LearnsRefreshesForgetsAndStaysBounded) {
  AddressBook book;
  book.Learn("alpha", 0x0A000002, 1000);
  EXPECT_EQ(book.Find("ALPHA", 1000), 0x0A000002u) << "names match without regard to case";
  book.Learn("ALPHA", 0x0A000003, 1500);
  EXPECT_EQ(book.Find("Alpha", 1500), 0x0A000003u) << "a later frame moves it";
  EXPECT_EQ(book.Find("ALPHA", 1500 + AddressBook::kLifetime), 0x0A000003u);
  EXPECT_EQ(book.Find("ALPHA", 1501 + AddressBook::kLifetime), 0u) << "not heard for too long";
  EXPECT_EQ(book.Find("BRAVO", 1500), 0u);

  for (size_t i = 0; i < AddressBook::kEntries + 10; ++i) {
    book.Learn("PC" + std::to_string(i), 0x0A000100 + static_cast<uint32_t>(i), 2000);
    if (i == 200) book.Learn("ALPHA", 0x0A000003, 2000);  // heard lately: kept
  }
  EXPECT_EQ(book.Size(), AddressBook::kEntries);
  EXPECT_EQ(book.Find("PC0", 2000), 0u) << "the one heard from longest ago made room";
  EXPECT_EQ(book.Find("ALPHA", 2000), 0x0A000003u);
}

TEST(PathPairing, EachDatagramCancelsOneCopyFromTheOtherPath) {
  PathPairing pairing;
  const std::string a = "5\0ALPHA\0*\0GETSTATUS\0"s;
  const std::string b = "6\0ALPHA\0*\0STATUS\0"s;
  // Interleaved: both by mailslot first, then both by UDP.
  EXPECT_FALSE(pairing.IsCopy("ALPHA", a, DeliveryPath::kMailslot, 100));
  EXPECT_FALSE(pairing.IsCopy("ALPHA", b, DeliveryPath::kMailslot, 100));
  EXPECT_TRUE(pairing.IsCopy("ALPHA", a, DeliveryPath::kUdp, 101));
  EXPECT_TRUE(pairing.IsCopy("ALPHA", b, DeliveryPath::kUdp, 101));
  // Used up: the same bytes again (a peer counting from 1 again) are new.
  EXPECT_FALSE(pairing.IsCopy("ALPHA", a, DeliveryPath::kUdp, 102));
  EXPECT_TRUE(pairing.IsCopy("ALPHA", a, DeliveryPath::kMailslot, 102));
  // The same path twice is the last-number rule's business, not ours.
  EXPECT_FALSE(pairing.IsCopy("ALPHA", b, DeliveryPath::kUdp, 103));
  EXPECT_FALSE(pairing.IsCopy("ALPHA", b, DeliveryPath::kUdp, 103));
  // Another sender's identical bytes are no copy.
  EXPECT_FALSE(pairing.IsCopy("BRAVO", b, DeliveryPath::kMailslot, 103));
  // Too late to be a copy.
  const std::string c = "7\0ALPHA\0*\0PING\0"s;
  EXPECT_FALSE(pairing.IsCopy("ALPHA", c, DeliveryPath::kMailslot, 200));
  EXPECT_FALSE(pairing.IsCopy("ALPHA", c, DeliveryPath::kUdp, 201 + PathPairing::kKeepSeconds));
}

TEST(PathPairing, ForgedSendersCannotGrowIt) {
  PathPairing pairing;
  for (size_t i = 0; i < PathPairing::kSenders + 50; ++i) {
    pairing.IsCopy("S" + std::to_string(i), "1\0x\0"s, DeliveryPath::kUdp, 1);
  }
  EXPECT_EQ(pairing.Senders(), PathPairing::kSenders);
  for (size_t i = 0; i < PathPairing::kPerSender * 3; ++i) {
    pairing.IsCopy("ONE", std::to_string(i), DeliveryPath::kUdp, 1);
  }
  // The oldest went; the newest is still paired.
  EXPECT_FALSE(pairing.IsCopy("ONE", "0", DeliveryPath::kMailslot, 1));
  EXPECT_TRUE(pairing.IsCopy("ONE", std::to_string(PathPairing::kPerSender * 3 - 1),
                             DeliveryPath::kMailslot, 1));
}

}  // namespace
}  // namespace vask::test
