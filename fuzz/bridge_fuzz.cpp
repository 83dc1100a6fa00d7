// Fuzz target for the bridge's packet parsers and its receive path. The
// first byte picks the port (even: name service; odd: datagrams, or with
// bit 1 set the UDP path's frames, bit 2 then telling unicast); the rest is
// the UDP payload. Properties checked beyond "no crash":
//  - a datagram that reaches a slot decoded cleanly, was addressed to a
//    served computer or the workgroup, and was not for the browse slot;
//  - whatever decodes re-encodes to a packet that decodes to the same
//    fields (names, mailslot, data).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/bridge_core.h"
#include "bridge/mailslot_datagram.h"
#include "bridge/name_packet.h"

namespace {

using namespace vask::bridge;

constexpr uint32_t kOwnIp = 0x0A000001;
constexpr uint32_t kPeerIp = 0x0A000002;

void Check(bool condition) {
  if (!condition) std::abort();
}

void RoundTripDatagram(const DatagramPacket& p) {
  if (p.type == kDatagramError) return;
  const MailslotDatagram& d = p.mailslot;
  std::vector<uint8_t> again;
  if (d.data.size() > kMaxRemoteWrite) return;     // we never build those
  if (!EncodeMailslotDatagram(d, &again)) return;  // e.g. a scope label we would not build
  DatagramPacket back;
  Check(DecodeDatagramPacket(again.data(), again.size(), &back).ok());
  Check(NamesMatch(back.mailslot.source, d.source));
  Check(NamesMatch(back.mailslot.destination, d.destination));
  Check(back.mailslot.mailslot == d.mailslot);
  Check(back.mailslot.data == d.data);
  Check(back.type == d.type && back.id == d.id && back.sourceIp == d.sourceIp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const bool names = (input[0] & 1) == 0;
  const uint8_t* packet = input + 1;
  const size_t length = size - 1;

  struct Delivery {
    std::string computer;
    std::string slot;
  };
  std::vector<Delivery> deliveries;
  BridgeConfig config;
  config.ip = kOwnIp;
  config.broadcast = 0x0A0000FF;
  config.mask = 0xFFFFFF00;  // the peer's frames come from inside the subnet
  BridgeIo io;
  io.sendUdp = [](uint16_t, uint32_t, uint16_t, const std::vector<uint8_t>& out) {
    Check(!out.empty());
  };
  io.deliver = [&](const std::string& computer, const std::string& slot,
                   const std::vector<uint8_t>&) {
    deliveries.push_back({computer, slot});
    return vask::bridge::Delivery::kDelivered;
  };
  io.log = [](const std::string&) {};
  io.sendFrame = [](uint32_t, const std::string& frame) {
    Check(!frame.empty());
    return true;
  };
  BridgeCore core(config, io);
  core.SetServedComputers({"ALPHA", "BETA"}, 0);
  for (Millis t = 0; t <= 1000; t += 250) core.OnTimer(t);

  if (names) {
    NamePacket p;
    (void)DecodeNamePacket(packet, length, &p);
    core.OnNamePacket(packet, length, kPeerIp, 137, 2000);
    Check(deliveries.empty());
    return 0;
  }

  if ((input[0] & 2) != 0) {
    // A frame of the UDP path, heard while the bridge holds the frame port.
    core.SetFramePort(true);
    core.OnFramePacket(packet, length, kPeerIp, 2000, (input[0] & 4) != 0);
    for (const Delivery& d : deliveries) {
      Check(d.computer == "ALPHA" || d.computer == "BETA");
      Check(!d.slot.empty());
    }
    return 0;
  }

  DatagramPacket p;
  bool ok = DecodeDatagramPacket(packet, length, &p).ok();
  if (ok) RoundTripDatagram(p);
  core.OnDatagramPacket(packet, length, kPeerIp, 2000);
  if (!deliveries.empty()) {
    Check(ok && p.type != kDatagramError);
    std::string destination = CanonicalName(p.mailslot.destination.name);
    for (const Delivery& d : deliveries) {
      Check(d.computer == "ALPHA" || d.computer == "BETA");
      Check(destination == d.computer || destination == "WORKGROUP" || destination == "*");
      Check(!d.slot.empty());
      Check(CanonicalName(d.slot) != "BROWSE");  // the bridge's own slot
    }
  }
  return 0;
}
