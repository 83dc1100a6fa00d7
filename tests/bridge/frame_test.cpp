// The bridge and the copies' UDP frames: the bridge's reader and writer
// against the plug-in's own, and the core with a recording network: which
// writes go as frames too and where, frames delivered once beside their
// NetBIOS copy, what is refused and counted, and when the bridge leaves
// the port to a copy that speaks UDP itself.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/frame_codec.h"
#include "bridge/name_packet.h"
#include "bridge/win32_errors.h"
#include "transport/udp_frame.h"

namespace vask::bridge {
namespace {

using namespace std::string_literals;

constexpr uint32_t kOwnIp = 0x0A000001;  // 10.0.0.1/24
constexpr uint32_t kBroadcastIp = 0x0A0000FF;
constexpr uint32_t kPeerIp = 0x0A000002;
constexpr uint32_t kFarIp = 0xC0A80102;    // 192.168.1.2, another network
constexpr uint32_t kHostsIp = 0x0A000007;  // what the hosts file says of ECHO

const std::string kStatus =
    "7\0ALPHA\0*\0STATUS\0"
    "64\0"s;
const std::string kPeerStatus =
    "9\0DELTA\0*\0STATUS\0"
    "64\0"s;

TEST(FrameCodec, ReadsAndWritesTheFramesOfThePlugIn) {
  const std::string ours = BuildLanFrame("Vask", "ALPHA", true, kStatus);
  EXPECT_EQ(ours, vask::BuildFrame("Vask", "ALPHA", true, kStatus));
  vask::Frame theirs;
  ASSERT_EQ(vask::ParseFrame(ours, theirs), vask::FrameVerdict::kAccepted);
  EXPECT_TRUE(theirs.listening);

  LanFrame frame;
  ASSERT_EQ(ParseLanFrame(vask::BuildFrame("Vask", "ALPHA", false, kStatus), &frame), nullptr);
  EXPECT_EQ(frame.slot, "Vask");
  EXPECT_EQ(frame.sender, "ALPHA");
  EXPECT_EQ(frame.data, kStatus);
  EXPECT_FALSE(frame.listens);
  EXPECT_EQ(kFramePort, vask::kLanUdpPort);
  EXPECT_EQ(kMaxFrameSize, vask::kMaxFrame);
}

TEST(FrameCodec, RefusesWhatThePlugInRefusesForTheSameReason) {
  const std::string head = "VASK\x01\x01"s;
  const std::vector<std::string> hostile = {
      "",
      "VAS",
      "VASX\x01\x01Vask\0ALPHA\0"s + kStatus,
      "VASK\x02\x01Vask\0ALPHA\0"s + kStatus,
      "VASK\x01"s,
      head + "Vask\0ALPHA"s,
      head + "Vask"s,
      head + "\0ALPHA\0"s + kStatus,
      head + "Va/sk\0ALPHA\0"s + kStatus,
      head + "Va\x01sk\0ALPHA\0"s + kStatus,
      head + "Vask\0*\0"s + kStatus,
      head + "Vask\0AL PHA\0"s + kStatus,
      head + "Vask\0SIXTEENCHARSNAME\0"s + kStatus,
      head + "Vask\0ALPHA\0"s,
      head + "Vask\0ALPHA\0"s + std::string(425, 'x'),
      head + std::string(300, 's') + "\0ALPHA\0"s + kStatus,
      head + "Vask\0ALPHA\0"s + kStatus + std::string(700, 'x'),
  };
  for (const std::string& bytes : hostile) {
    vask::Frame theirs;
    const vask::FrameVerdict verdict = vask::ParseFrame(bytes, theirs);
    ASSERT_NE(verdict, vask::FrameVerdict::kAccepted) << testing::PrintToString(bytes);
    LanFrame frame;
    const char* why = ParseLanFrame(bytes, &frame);
    ASSERT_NE(why, nullptr) << testing::PrintToString(bytes);
    EXPECT_STREQ(why, vask::FrameDropReason(verdict)) << testing::PrintToString(bytes);
  }
  // The plug-in checks the datagram's own sender field after reading the
  // frame; the bridge while reading it, with the same reason.
  LanFrame frame;
  EXPECT_STREQ(ParseLanFrame(BuildLanFrame("Vask", "BRAVO", true, kStatus), &frame),
               vask::FrameDropReason(vask::FrameVerdict::kSenderMismatch));
  EXPECT_EQ(ParseLanFrame(BuildLanFrame("Vask", "alpha", true, kStatus), &frame), nullptr);
}

struct SentFrame {
  uint32_t ip;
  LanFrame frame;
};

struct Delivered {
  std::string computer;
  std::string slot;
  std::string data;
};

class BridgeFramesTest : public ::testing::Test {
 protected:
  BridgeFramesTest() : core_(Config(), Io()) {}

  static BridgeConfig Config() {
    BridgeConfig c;
    c.ip = kOwnIp;
    c.broadcast = kBroadcastIp;
    c.mask = 0xFFFFFF00;
    c.framePortGrace = 5000;
    c.dropSummaryInterval = 60000;
    return c;
  }

  BridgeIo Io() {
    BridgeIo io;
    io.sendUdp = [this](uint16_t from, uint32_t ip, uint16_t, const std::vector<uint8_t>& p) {
      (from == kNamePort ? names_ : datagrams_).push_back({ip, p});
    };
    io.deliver = [this](const std::string& c, const std::string& s, const std::vector<uint8_t>& d) {
      delivered_.push_back({c, s, std::string(d.begin(), d.end())});
      return Delivery::kDelivered;
    };
    io.log = [this](const std::string& line) { logs_.push_back(line); };
    io.sendFrame = [this](uint32_t ip, const std::string& bytes) {
      SentFrame sent{ip, {}};
      EXPECT_EQ(ParseLanFrame(bytes, &sent.frame), nullptr);
      frames_.push_back(sent);
      rawFrames_.push_back(bytes);
      return true;
    };
    io.resolveHost = [](const std::string& name) { return name == "ECHO" ? kHostsIp : 0u; };
    return io;
  }

  // Serves ALPHA, lets its names settle, and takes the frame port once
  // the copy had its time.
  void ServeWithFramePort() {
    core_.SetServedComputers({"ALPHA"}, 0);
    for (Millis t = 0; t <= 1000; t += 250) core_.OnTimer(t);
    ASSERT_FALSE(core_.WantsFramePort(4999));
    ASSERT_TRUE(core_.WantsFramePort(5000));
    core_.SetFramePort(true);
    names_.clear();
    datagrams_.clear();
  }

  void ReceiveFrame(const std::string& bytes, uint32_t from = kPeerIp, Millis now = 6000,
                    bool unicast = false) {
    core_.OnFramePacket(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), from, now,
                        unicast);
  }

  void ReceiveDatagram(const std::string& source, const std::string& data, Millis now = 6000) {
    MailslotDatagram d;
    d.type = kDirectGroup;
    d.sourceIp = kPeerIp;
    d.source = MakeName(source, 0);
    d.destination = MakeName("WORKGROUP", 0);
    d.mailslot = WireMailslotName("vask");
    d.data.assign(data.begin(), data.end());
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
    core_.OnDatagramPacket(packet.data(), packet.size(), kPeerIp, now);
  }

  // ALPHA's write: its result when it completed at once, else kPending
  // (and the result in *later when it comes).
  static constexpr uint32_t kPending = 0xFFFFFFFF;
  uint32_t Write(const std::string& target, const std::string& data, Millis now = 6000,
                 const std::string& slot = "vask", uint32_t* later = nullptr) {
    auto result = std::make_shared<uint32_t>(kPending);
    core_.Write("ALPHA", target, slot, std::vector<uint8_t>(data.begin(), data.end()), now,
                [result, later](uint32_t e) {
                  *result = e;
                  if (later) *later = e;
                });
    return *result;
  }

  bool Logged(const std::string& part) const {
    for (const std::string& line : logs_) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  struct Packet {
    uint32_t ip;
    std::vector<uint8_t> bytes;
  };
  BridgeCore core_;
  std::vector<Packet> names_;
  std::vector<Packet> datagrams_;
  std::vector<SentFrame> frames_;
  std::vector<std::string> rawFrames_;
  std::vector<Delivered> delivered_;
  std::vector<std::string> logs_;
};

TEST_F(BridgeFramesTest, TheFramePortIsLeftToACopyThatStarts) {
  EXPECT_FALSE(core_.WantsFramePort(100000));  // nobody to speak for
  core_.SetServedComputers({"ALPHA"}, 1000);
  EXPECT_FALSE(core_.WantsFramePort(5999));
  EXPECT_TRUE(core_.WantsFramePort(6000));
  // A copy opens its slots again (its engine restarts): the grace again.
  core_.Claim("ALPHA", 20000, [](uint32_t) {});
  EXPECT_FALSE(core_.WantsFramePort(24999));
  EXPECT_TRUE(core_.WantsFramePort(25000));
  core_.SetServedComputers({"ALPHA", "BRAVO"}, 30000);
  EXPECT_FALSE(core_.WantsFramePort(31000));
}

TEST_F(BridgeFramesTest, WritesGoAsFramesTooOnlyWhileThePortIsHeld) {
  core_.SetServedComputers({"ALPHA"}, 0);
  for (Millis t = 0; t <= 1000; t += 250) core_.OnTimer(t);
  datagrams_.clear();
  EXPECT_EQ(Write("*", kStatus, 2000), 0u);
  EXPECT_EQ(datagrams_.size(), 1u);
  EXPECT_TRUE(frames_.empty());

  core_.SetFramePort(true);
  datagrams_.clear();
  EXPECT_EQ(Write("*", kStatus), 0u);
  EXPECT_EQ(datagrams_.size(), 1u);  // NetBIOS as before
  ASSERT_EQ(frames_.size(), 1u);
  EXPECT_EQ(frames_[0].ip, kBroadcastIp);
  EXPECT_EQ(frames_[0].frame.slot, "vask");
  EXPECT_EQ(frames_[0].frame.sender, "ALPHA");
  EXPECT_EQ(frames_[0].frame.data, kStatus);
  EXPECT_TRUE(frames_[0].frame.listens);

  // A datagram of another kind (a WinPopup message: sender, target, text)
  // would be refused by every receiver as a frame: NetBIOS only.
  EXPECT_EQ(Write("*", "ALPHA\0*\0hello\0"s, 6000, "messngr"), 0u);
  EXPECT_EQ(frames_.size(), 1u);
}

TEST_F(BridgeFramesTest, AComputerHeardByFramesIsReachedByFrameAlone) {
  ServeWithFramePort();
  // DELTA's frames say it listens: the bridge learns where.
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus));
  uint32_t opened = 0xFFFFFFFF;
  core_.Resolve("delta", 6000, [&](uint32_t e) { opened = e; });
  EXPECT_EQ(opened, 0u);  // at once, without a NetBIOS query
  const std::string message = "8\0ALPHA\0DELTA\0MESSAGE\0hi\0"s;
  EXPECT_EQ(Write("delta", message), 0u);
  ASSERT_EQ(frames_.size(), 1u);
  EXPECT_EQ(frames_[0].ip, kPeerIp);
  EXPECT_EQ(frames_[0].frame.data, message);
  EXPECT_TRUE(names_.empty());  // no NetBIOS query
  EXPECT_TRUE(datagrams_.empty());

  // Its machine lets the name go (its bridge stops): it is no longer
  // believed to listen there. A release from elsewhere changes nothing.
  auto release = [&](uint32_t from) {
    std::vector<uint8_t> packet;
    ASSERT_TRUE(BuildRelease(77, MakeName("DELTA", kSuffixWorkstation), false, from, &packet));
    core_.OnNamePacket(packet.data(), packet.size(), from, kNamePort, 6500);
  };
  release(0x0A000009);
  EXPECT_EQ(Write("delta", message, 6600), 0u);
  EXPECT_EQ(frames_.size(), 2u);
  release(kPeerIp);
  EXPECT_EQ(Write("delta", message, 6700), kPending);  // asks NetBIOS
  EXPECT_EQ(frames_.size(), 2u);
  names_.clear();

  // A frame that does not say its sender listens teaches nothing.
  ReceiveFrame(BuildLanFrame("vask", "FOXTROT", false, "1\0FOXTROT\0*\0STATUS\0"s));
  EXPECT_EQ(Write("foxtrot", "8\0ALPHA\0FOXTROT\0MESSAGE\0hi\0"s), kPending);  // asks NetBIOS
  EXPECT_FALSE(names_.empty());
}

// A computer NetBIOS already knows gets a NetBIOS copy beside the frame,
// asked of nobody: its bridge may have been restarted and not yet hold the
// frame port, and the copy that arrives first is delivered.
TEST_F(BridgeFramesTest, AComputerNetbiosKnowsGetsACopyThatWayToo) {
  ServeWithFramePort();
  const std::string message = "8\0ALPHA\0DELTA\0MESSAGE\0hi\0"s;
  EXPECT_EQ(Write("delta", message), kPending);  // asks NetBIOS
  ASSERT_FALSE(names_.empty());
  NamePacket q;
  ASSERT_TRUE(DecodeNamePacket(names_.back().bytes.data(), names_.back().bytes.size(), &q));
  std::vector<uint8_t> answer;
  ASSERT_TRUE(BuildPositiveResponse(q.id, q.question, 300000, {NbAddress{0, kPeerIp}}, &answer));
  core_.OnNamePacket(answer.data(), answer.size(), kPeerIp, kNamePort, 6100);
  EXPECT_EQ(datagrams_.size(), 1u);
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kPeerIp, 6200);
  names_.clear();
  datagrams_.clear();
  frames_.clear();

  EXPECT_EQ(Write("delta", message, 6300), 0u);
  ASSERT_EQ(frames_.size(), 1u);
  EXPECT_EQ(frames_[0].ip, kPeerIp);
  ASSERT_EQ(datagrams_.size(), 1u);
  EXPECT_EQ(datagrams_[0].ip, kPeerIp);
  EXPECT_TRUE(names_.empty()) << "asked NetBIOS again";
}

TEST_F(BridgeFramesTest, AComputerNotOnNetbiosIsReachedByItsResolvedName) {
  ServeWithFramePort();
  uint32_t opened = 0xFFFFFFFF;
  uint32_t unknown = 0xFFFFFFFF;
  core_.Resolve("ECHO", 6000, [&](uint32_t e) { opened = e; });
  core_.Resolve("NOBODY", 6000, [&](uint32_t e) { unknown = e; });
  uint32_t sent = kPending;
  uint32_t lost = kPending;
  Write("ECHO", "8\0ALPHA\0ECHO\0MESSAGE\0hi\0"s, 6000, "vask", &sent);
  Write("NOBODY", "8\0ALPHA\0NOBODY\0MESSAGE\0hi\0"s, 6000, "vask", &lost);
  for (Millis t = 6000; t <= 8000; t += 250) core_.OnTimer(t);  // the queries run out
  EXPECT_EQ(opened, 0u);
  EXPECT_EQ(unknown, ERROR_BAD_NETPATH);
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(lost, ERROR_BAD_NETPATH);
  ASSERT_EQ(frames_.size(), 1u);
  EXPECT_EQ(frames_[0].ip, kHostsIp);

  // Without the frame port the bridge speaks NetBIOS alone, as before.
  core_.SetFramePort(false);
  core_.Resolve("ECHO", 20000, [&](uint32_t e) { opened = e; });
  for (Millis t = 20000; t <= 22000; t += 250) core_.OnTimer(t);
  EXPECT_EQ(opened, ERROR_BAD_NETPATH);
}

TEST_F(BridgeFramesTest, ADatagramThatComesBothWaysIsDeliveredOnce) {
  ServeWithFramePort();
  // Frame first, then its NetBIOS copy; then the other order.
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus));
  ReceiveDatagram("DELTA", kPeerStatus, 6100);
  const std::string next =
      "10\0DELTA\0*\0STATUS\0"
      "2\0"s;
  ReceiveDatagram("DELTA", next, 6200);
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, next), kPeerIp, 6300);
  ASSERT_EQ(delivered_.size(), 2u);
  EXPECT_EQ(delivered_[0].computer, "ALPHA");
  EXPECT_EQ(delivered_[0].slot, "vask");
  EXPECT_EQ(delivered_[0].data, kPeerStatus);
  EXPECT_EQ(delivered_[1].data, next);

  // Each cancels one copy: the same bytes later (a sender that started
  // again) are new, and so is a repeat on one way.
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kPeerIp, 7000);
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kPeerIp, 7100);
  EXPECT_EQ(delivered_.size(), 4u);
}

TEST_F(BridgeFramesTest, RefusedFramesAreCountedAndNotDelivered) {
  ServeWithFramePort();
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kFarIp, 6000);
  ReceiveFrame("VASK\x01\x01vask\0*\0"s + kPeerStatus, kPeerIp, 6010);
  ReceiveFrame(BuildLanFrame("vask", "GOLF", true, kPeerStatus), kPeerIp, 6020);
  // A machine that sends in the name of a computer served here.
  ReceiveFrame(BuildLanFrame("vask", "ALPHA", true, kStatus), kPeerIp, 6030);
  ReceiveFrame("junk", kPeerIp, 6040);
  EXPECT_TRUE(delivered_.empty());
  // The first drop is logged at once, the rest in the minute's summary.
  EXPECT_TRUE(Logged("not from the local network"));
  core_.OnTimer(70000);
  EXPECT_TRUE(Logged("forged sender *"));
  EXPECT_TRUE(Logged("sender mismatch"));
  EXPECT_TRUE(Logged("a computer of this machine"));
  EXPECT_TRUE(Logged("bad magic"));
  // A forged sender is learned nowhere: nothing goes to it by frame.
  EXPECT_EQ(Write("GOLF", "8\0ALPHA\0GOLF\0MESSAGE\0hi\0"s, 70000), kPending);
  EXPECT_TRUE(frames_.empty());
}

TEST_F(BridgeFramesTest, AUnicastFrameForASlotNobodyHasIsCounted) {
  ServeWithFramePort();
  core_.SetServedComputers({}, 6000);
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kPeerIp, 6000, true);
  EXPECT_TRUE(Logged("no computer here has open"));
}

TEST_F(BridgeFramesTest, ACopyThatSendsFramesItselfIsNotRelayed) {
  ServeWithFramePort();
  // The bridge's own broadcast comes back to its port: nothing happens.
  EXPECT_EQ(Write("*", kStatus), 0u);
  ASSERT_EQ(rawFrames_.size(), 1u);
  ReceiveFrame(rawFrames_[0], kOwnIp, 6010);
  EXPECT_TRUE(delivered_.empty());
  EXPECT_EQ(Write("*", kStatus, 6100), 0u);
  EXPECT_EQ(frames_.size(), 2u);

  // ALPHA's copy broadcasts a frame of its own (it speaks UDP but could
  // not have the port): its writes are no longer relayed.
  const std::string own =
      "12\0ALPHA\0*\0STATUS\0"
      "64\0"s;
  ReceiveFrame(vask::BuildFrame("vask", "ALPHA", false, own), kOwnIp, 6200);
  EXPECT_TRUE(Logged("ALPHA sends UDP frames itself"));
  EXPECT_TRUE(delivered_.empty());
  datagrams_.clear();
  EXPECT_EQ(Write("*", own, 6300), 0u);
  EXPECT_EQ(frames_.size(), 2u);
  EXPECT_EQ(datagrams_.size(), 1u);  // NetBIOS still
  // Frames from others still reach it through its slot.
  ReceiveFrame(BuildLanFrame("vask", "DELTA", true, kPeerStatus), kPeerIp, 6400);
  EXPECT_EQ(delivered_.size(), 1u);
}

}  // namespace
}  // namespace vask::bridge
