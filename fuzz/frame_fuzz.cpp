// Fuzz target for the UDP frame: ParseFrame on any bytes, then the frame
// as the worker admits it and, when admitted, its datagram through the
// receive path as a UDP copy. The first byte picks the source address
// (bit 0: the local network, else outside it); the rest is the frame.
// Checked beyond "no crash":
//  - an accepted frame keeps every bound: a datagram of 1 to 424 bytes, a
//    computer name of 1 to 15 bytes other than "*", a slot name;
//  - an accepted frame with no unknown flag is rebuilt byte for byte;
//  - a frame from outside the local network is never admitted, and every
//    frame not admitted is counted as dropped.
#include <cstdint>
#include <string>

#include "base/host_api.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_host.h"
#include "protocol/incoming_messages.h"
#include "protocol/receive_loop.h"
#include "transport/lan_engine.h"
#include "transport/udp_frame.h"

namespace {

using namespace vask;
using vask::fuzz::Check;
using vask::fuzz::FuzzHost;

FuzzHost gHost;
constexpr uint32_t kNetwork = 0x0A000000;  // 10.0.0.0/24
constexpr uint32_t kInside = 0x0A000002;
constexpr uint32_t kOutside = 0x0B000002;

uint32_t TotalDrops(LanEngine& engine) {
  uint32_t total = 0;
  for (size_t i = 0; i < kFrameVerdicts; ++i) {
    total += engine.FrameDrops(static_cast<FrameVerdict>(i));
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (vask::fuzz::UseEmptyLan() == nullptr) return 1;
  SetHost(gHost.control());
  Engine().SetUdpScope("Vask", {{kNetwork, 0xFFFFFF00}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const bool inside = (input[0] & 1) != 0;
  const std::string bytes(reinterpret_cast<const char*>(input + 1), size - 1);

  Frame frame;
  if (ParseFrame(bytes, frame) == FrameVerdict::kAccepted) {
    Check(!frame.datagram.empty() && frame.datagram.size() <= kMaxFrameDatagram);
    Check(IsComputerName(frame.sender) && frame.sender != "*");
    Check(!frame.slot.empty() && frame.slot.size() <= kMaxFrameSlot);
    if (static_cast<uint8_t>(bytes[kFrameMagicSize + 1]) <= kFrameListening) {
      Check(BuildFrame(frame.slot, frame.sender, frame.listening, frame.datagram) == bytes);
    }
  }

  gHost.Reset();
  LanEngine& engine = Engine();
  engine.ForgetSenders();
  engine.Addresses().Clear();
  ForgetShownMessages();
  const uint32_t dropsBefore = TotalDrops(engine);
  std::string datagram;
  const DatagramSource source = engine.AdmitFrame(bytes, inside ? kInside : kOutside, datagram);
  if (!inside) Check(source == DatagramSource::kNone);
  if (source == DatagramSource::kNone) {
    Check(TotalDrops(engine) == dropsBefore + 1);
    return 0;
  }
  Check(!datagram.empty() && datagram.size() <= kMaxFrameDatagram);
  bool delivered = false;
  HandleDatagram(engine, datagram, true, delivered, DeliveryPath::kUdp);
  return 0;
}
