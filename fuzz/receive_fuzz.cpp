// Fuzz target for the receive path: one datagram, as read from a slot,
// through HandleDatagram with the engine's checks and every command's
// handler, against the in-memory host of fuzz_host.h, which checks every
// call made into it. The first byte picks the slot (bit 0: channel, else
// WinPopup) and whether only listed contacts may talk (bit 1); the rest is
// the datagram. Replies go to an emulated LAN in a fresh temporary
// directory where no other computer listens, so they are built and dropped.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/host_api.h"
#include "fuzz/fuzz_host.h"
#include "protocol/incoming_messages.h"
#include "protocol/receive_loop.h"
#include "transport/lan_engine.h"

namespace {

using namespace vask;
using vask::fuzz::FuzzHost;

FuzzHost gHost;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (vask::fuzz::UseEmptyLan() == nullptr) return 1;
  SetHost(gHost.control());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const bool fromChannel = (input[0] & 1) != 0;
  gHost.Reset();
  LanEngine& engine = Engine();
  engine.ForgetSenders();
  ForgetShownMessages();
  engine.SetOnlyListed((input[0] & 2) != 0);
  // One message awaiting its acknowledgement, number 5, so that
  // "MESSAGEACK" finds one.
  engine.ResetMessages(4);
  engine.RememberPending(0, "hello", "B");

  const std::string bytes(reinterpret_cast<const char*>(input + 1), size - 1);
  bool delivered = false;
  HandleDatagram(engine, bytes, fromChannel, delivered);
  return 0;
}
