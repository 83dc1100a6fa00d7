// Frames as the worker admits them: every drop counted and logged with its
// reason, the sender's address learned from a good one, and a datagram
// that comes both ways handled once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "abi/host_ids.h"
#include "base/clock.h"
#include "fake_host.h"
#include "protocol/incoming_messages.h"
#include "protocol/receive_loop.h"
#include "transport/lan_engine.h"
#include "transport/udp_frame.h"

namespace vask::test {
namespace {

using namespace std::string_literals;

constexpr uint32_t kOwnNet = 0x0AD50700;  // 10.213.7.0/24
constexpr uint32_t kPeer = 0x0AD50702;

class UdpReceive : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.ResetValues("A");
    bravo_ = host_.AddContact("BRAVO");
    host_.answer = [this](HostMessage* m) -> intptr_t {
      if (m->id == kMsgFindContact) {
        return host_.FindContact(m->p1, reinterpret_cast<const char*>(m->p2));
      }
      return 0;
    };
    Engine().ForgetSenders();
    Engine().Addresses().Clear();
    ForgetShownMessages();
    Engine().SetUdpScope("Vask", {{kOwnNet | 1, 0xFFFFFF00}});
  }

  size_t LogLinesWith(const std::string& text) {
    size_t count = 0;
    for (const auto& line : host_.Sent(kMsgLog)) {
      if (line.p1Text.find(text) != std::string::npos) ++count;
    }
    return count;
  }

  FakeHost host_;
  HostScope scope_{host_};
  int bravo_ = 0;
};

TEST_F(UdpReceive, HostileFramesAreCountedAndLoggedWithTheirReason) {
  const std::string datagram = "3\0BRAVO\0A\0PING\0"s;
  const struct {
    std::string frame;
    uint32_t from;
    FrameVerdict verdict;
  } cases[] = {
      {"XXXX\x01\x01Vask\0BRAVO\0"s + datagram, kPeer, FrameVerdict::kBadMagic},
      {BuildFrame("Vask", "BRAVO", true, datagram), 0x08080808, FrameVerdict::kNotLan},
      {BuildFrame("Vask", "BRAVO", true, datagram), 0x0AD50802, FrameVerdict::kNotLan},
      {BuildFrame("Vask", "*", true, "3\0*\0A\0PING\0"s), kPeer, FrameVerdict::kForgedSender},
      {BuildFrame("Vask", "BRAVO", true, std::string(kMaxFrameDatagram + 1, 'x')), kPeer,
       FrameVerdict::kOversize},
      {BuildFrame("Inny", "BRAVO", true, datagram), kPeer, FrameVerdict::kOtherSlot},
      {BuildFrame("Vask", "CHARLIE", true, datagram), kPeer, FrameVerdict::kSenderMismatch},
  };
  for (const auto& c : cases) {
    const uint32_t before = Engine().FrameDrops(c.verdict);
    std::string out = "untouched";
    EXPECT_EQ(Engine().AdmitFrame(c.frame, c.from, out), DatagramSource::kNone)
        << FrameDropReason(c.verdict);
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(Engine().FrameDrops(c.verdict), before + 1) << FrameDropReason(c.verdict);
    EXPECT_GE(LogLinesWith(FrameDropReason(c.verdict)), 1u) << FrameDropReason(c.verdict);
  }
  // Nobody was learned from all that.
  EXPECT_EQ(Engine().Addresses().Size(), 0u);

  // The own broadcast, come back: counted, never taken, never logged.
  const size_t lines = host_.Sent(kMsgLog).size();
  const uint32_t own = Engine().FrameDrops(FrameVerdict::kOwnFrame);
  char me[16] = {};
  DWORD size = sizeof me;
  ASSERT_TRUE(GetComputerNameA(me, &size));
  std::string out;
  EXPECT_EQ(
      Engine().AdmitFrame(BuildFrame("Vask", me, true, "5\0"s + me + "\0*\0STATUS\0"s), kPeer, out),
      DatagramSource::kNone);
  EXPECT_EQ(Engine().FrameDrops(FrameVerdict::kOwnFrame), own + 1);
  EXPECT_EQ(host_.Sent(kMsgLog).size(), lines);
}

TEST_F(UdpReceive, AFloodOfDropsIsCountedInFullButLoggedSparingly) {
  const std::string frame = BuildFrame("Vask", "*", true, "1\0*\0A\0PING\0"s);
  const uint32_t before = Engine().FrameDrops(FrameVerdict::kForgedSender);
  const size_t linesBefore = LogLinesWith("forged sender");
  std::string out;
  for (int i = 0; i < 100; ++i) Engine().AdmitFrame(frame, kPeer, out);
  EXPECT_EQ(Engine().FrameDrops(FrameVerdict::kForgedSender), before + 100);
  EXPECT_LE(LogLinesWith("forged sender") - linesBefore, 1u);
}

TEST_F(UdpReceive, AGoodFrameGivesItsDatagramAndTeachesTheAddress) {
  const std::string datagram = "3\0BRAVO\0A\0PING\0"s;
  std::string out;
  EXPECT_EQ(Engine().AdmitFrame(BuildFrame("vask", "bravo", true, datagram), kPeer, out),
            DatagramSource::kChannel)
      << "slot and sender names match without regard to case";
  EXPECT_EQ(out, datagram);
  EXPECT_EQ(Engine().Addresses().Find("BRAVO", UnixNow()), kPeer);
  // A sender that does not listen on the port is not written to by UDP.
  EXPECT_EQ(Engine().AdmitFrame(BuildFrame("Vask", "DELTA", false, "4\0DELTA\0A\0PING\0"s),
                                kPeer + 1, out),
            DatagramSource::kChannel);
  EXPECT_EQ(Engine().Addresses().Find("DELTA", UnixNow()), 0u);
  // From loopback too (the emulated LAN on one machine).
  EXPECT_EQ(Engine().AdmitFrame(BuildFrame("Vask", "BRAVO", true, datagram), 0x7F000001, out),
            DatagramSource::kChannel);
}

// Two messages without their time field, so only the receive path's
// number rules can tell a copy: each sent by mailslot and by UDP, the
// copies arriving after both originals.
TEST_F(UdpReceive, ADatagramDeliveredBothWaysIsShownOnce) {
  const std::string first =
      "8\0BRAVO\0*\0MESSAGE\0"
      "1\0pierwsza\0"s;
  const std::string second =
      "9\0BRAVO\0*\0MESSAGE\0"
      "2\0druga\0"s;
  bool delivered = false;
  for (const auto& [bytes, path] :
       {std::pair{first, DeliveryPath::kMailslot}, std::pair{second, DeliveryPath::kMailslot},
        std::pair{first, DeliveryPath::kUdp}, std::pair{second, DeliveryPath::kUdp}}) {
    EXPECT_FALSE(HandleDatagram(Engine(), bytes, true, delivered, path));
  }
  const auto shown = host_.Sent(kMsgShowMessage);
  ASSERT_EQ(shown.size(), 2u);
  // The other order: UDP first, then the mailslot's copy right after.
  const std::string third =
      "10\0BRAVO\0*\0MESSAGE\0"
      "3\0trzecia\0"s;
  EXPECT_FALSE(HandleDatagram(Engine(), third, true, delivered, DeliveryPath::kUdp));
  EXPECT_FALSE(HandleDatagram(Engine(), third, true, delivered, DeliveryPath::kMailslot));
  EXPECT_EQ(host_.Sent(kMsgShowMessage).size(), 3u);
}

}  // namespace
}  // namespace vask::test
