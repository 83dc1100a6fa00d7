// The bridge's backlog for local slots with a receiver that does not read:
// held in order up to its bound, handed over as the receiver reads, lost
// (and said so) when the receiver goes away, taken by a new receiver of
// the same slot; and the bridge's count of what deliveries lost.
#include "bridge/backlog.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/bridge_core.h"

namespace vask::bridge {
namespace {

class BacklogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vask-backlog.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (int fd : receivers_) ::close(fd);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // A slot socket at dir/name that nobody reads until the test does.
  int Receiver(const std::string& name) {
    std::string path = dir_ + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    receivers_.push_back(fd);
    return fd;
  }

  // Everything the receiver holds now, as numbers.
  static std::vector<int> Drain(int fd) {
    std::vector<int> got;
    char buffer[64];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
      got.push_back(std::atoi(std::string(buffer, static_cast<size_t>(n)).c_str()));
    }
    return got;
  }

  static Delivery Send(Backlog& backlog, const std::string& path, int number) {
    std::string text = std::to_string(number);
    return backlog.Send(path, "ALPHA", reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }

  // True when the backlog's poll entries say that room appeared.
  static bool Room(const Backlog& backlog) {
    std::vector<pollfd> fds;
    backlog.AddPollFds(&fds);
    return !fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0 && (fds[0].revents & POLLOUT);
  }

  std::string dir_;
  std::vector<int> receivers_;
};

TEST_F(BacklogTest, AReceiverThatDoesNotReadGetsItsShareInOrderOnceItReads) {
  int fd = Receiver("vask");
  std::string path = dir_ + "/vask";
  Backlog backlog;
  int taken = 0;  // by the socket's own queue
  while (Send(backlog, path, taken) == Delivery::kDelivered) ++taken;
  ASSERT_GT(taken, 0);
  ASSERT_LT(taken, 1000) << "the kernel queues a few, never all";
  int held = 1;  // the one that did not fit
  while (Send(backlog, path, taken + held) == Delivery::kHeld) ++held;
  EXPECT_EQ(held, static_cast<int>(Backlog::kHeldDatagrams));
  EXPECT_EQ(Send(backlog, path, 9999), Delivery::kBacklogFull);
  EXPECT_EQ(backlog.Held(), Backlog::kHeldDatagrams);

  // Stopped: no room, and a retry changes nothing.
  EXPECT_FALSE(Room(backlog));
  backlog.Retry([](const std::string&, size_t) { ADD_FAILURE() << "nothing is lost"; });
  EXPECT_EQ(backlog.Held(), Backlog::kHeldDatagrams);

  // Going on: each read makes room, which the poll loop sees and fills.
  std::vector<int> got;
  for (int round = 0; round < 1000 && got.size() < static_cast<size_t>(taken + held); ++round) {
    std::vector<int> more = Drain(fd);
    got.insert(got.end(), more.begin(), more.end());
    if (backlog.Held() > 0) {
      EXPECT_TRUE(Room(backlog)) << "a read makes room that poll reports";
      backlog.Retry([](const std::string&, size_t) { ADD_FAILURE() << "nothing is lost"; });
    }
  }
  ASSERT_EQ(got.size(), static_cast<size_t>(taken + held));
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<int>(i));
  EXPECT_EQ(backlog.Held(), 0u);
  std::vector<pollfd> fds;
  backlog.AddPollFds(&fds);
  EXPECT_TRUE(fds.empty()) << "nothing waits: nothing to poll";
  EXPECT_EQ(Send(backlog, path, 5), Delivery::kDelivered);
}

TEST_F(BacklogTest, WhatWaitsIsLostWithItsReceiverOrTakenByTheNextOne) {
  std::string path = dir_ + "/vask";
  Backlog backlog;
  int fd = Receiver("vask");
  int n = 0;
  while (Send(backlog, path, n) == Delivery::kDelivered) ++n;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Send(backlog, path, ++n), Delivery::kHeld);
  // The computer stops for good and starts again on the same slot: the new
  // reader takes what still waited.
  ::close(fd);
  receivers_.clear();
  ::unlink(path.c_str());
  int again = Receiver("vask");
  backlog.Retry([](const std::string&, size_t) { ADD_FAILURE() << "a new reader takes them"; });
  EXPECT_EQ(Drain(again).size(), 5u);
  EXPECT_EQ(backlog.Held(), 0u);

  // Gone for good: what waited is lost, and told with the receiver's label.
  while (Send(backlog, path, ++n) == Delivery::kDelivered) {
  }
  EXPECT_EQ(Send(backlog, path, ++n), Delivery::kHeld);
  ::close(again);
  receivers_.clear();
  ::unlink(path.c_str());
  std::string label;
  size_t lost = 0;
  backlog.Retry([&](const std::string& l, size_t count) {
    label = l;
    lost += count;
  });
  EXPECT_EQ(label, "ALPHA");
  EXPECT_EQ(lost, 2u);
  EXPECT_EQ(backlog.Held(), 0u);
  EXPECT_EQ(Send(backlog, path, 0), Delivery::kNoSlot);
  EXPECT_EQ(Send(backlog, dir_ + "/nobody", 0), Delivery::kNoSlot);
}

TEST_F(BacklogTest, OnlySoManyReceiversMayWait) {
  Backlog backlog;
  for (size_t r = 0; r <= Backlog::kHeldReceivers; ++r) {
    std::string name = "slot" + std::to_string(r);
    Receiver(name);
    Delivery d;
    int n = 0;
    while ((d = Send(backlog, dir_ + "/" + name, n)) == Delivery::kDelivered) ++n;
    EXPECT_EQ(d, r < Backlog::kHeldReceivers ? Delivery::kHeld : Delivery::kTooManyReceivers) << r;
  }
  EXPECT_EQ(backlog.Held(), Backlog::kHeldReceivers);
}

// The bridge counts what its deliveries lost by reason and tells it in its
// summary line, as it does for the packets it refuses.
TEST(BridgeDeliveryDrops, AreCountedByReasonInTheSummary) {
  Delivery outcome = Delivery::kBacklogFull;
  std::vector<std::string> logs;
  BridgeConfig config;
  config.ip = 0x0A000001;
  config.broadcast = 0x0A0000FF;
  BridgeIo io;
  io.sendUdp = [](uint16_t, uint32_t, uint16_t, const std::vector<uint8_t>&) {};
  io.deliver = [&](const std::string&, const std::string&, const std::vector<uint8_t>&) {
    return outcome;
  };
  io.log = [&](const std::string& line) { logs.push_back(line); };
  BridgeCore core(config, io);
  core.SetServedComputers({"ALPHA"}, 0);
  for (Millis t = 0; t <= 1000; t += 250) core.OnTimer(t);
  auto receive = [&](uint8_t type, const std::string& to) {
    MailslotDatagram d;
    d.type = type;
    d.sourceIp = 0x0A000002;
    d.source = MakeName("CHARLIE", 0);
    d.destination = MakeName(to, 0);
    d.mailslot = WireMailslotName("vask");
    d.data = {'x'};
    std::vector<uint8_t> packet;
    ASSERT_TRUE(EncodeMailslotDatagram(d, &packet));
    core.OnDatagramPacket(packet.data(), packet.size(), 0x0A000002, 2000);
  };
  logs.clear();
  for (int i = 0; i < 3; ++i) receive(kDirectUnique, "ALPHA");
  ASSERT_EQ(logs.size(), 1u) << "the first at once";
  EXPECT_NE(logs[0].find("ALPHA does not read its slots and its backlog is full"),
            std::string::npos)
      << logs[0];
  outcome = Delivery::kNoSlot;
  receive(kDirectUnique, "ALPHA");
  receive(kDirectGroup, "WORKGROUP");  // a group datagram need not find a slot
  outcome = Delivery::kTooManyReceivers;
  receive(kDirectUnique, "ALPHA");
  outcome = Delivery::kHeld;
  receive(kDirectUnique, "ALPHA");  // held is not lost
  core.OnLostHeld("ALPHA", 7, 2500);
  core.OnTimer(2000 + 60000);
  ASSERT_EQ(logs.size(), 2u);
  const std::string& summary = logs[1];
  EXPECT_NE(summary.find("dropped 11 packets"), std::string::npos) << summary;
  EXPECT_NE(summary.find("closed a slot while datagrams were held for it 7"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("its backlog is full 2"), std::string::npos) << summary;
  EXPECT_NE(summary.find("a slot ALPHA has not open 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("too many local receivers do not read (ALPHA) 1"), std::string::npos)
      << summary;
  EXPECT_NE(summary.find("local ALPHA 7"), std::string::npos) << summary;
}

}  // namespace
}  // namespace vask::bridge
