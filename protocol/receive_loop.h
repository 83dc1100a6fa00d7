// The worker thread: polls both server slots every 250 ms, drains them
// (WinPopup slot first), checks and dispatches every datagram by command.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_records.h"
#include "protocol/rejection.h"
#include "transport/path_pairing.h"
#include "win32.h"

namespace vask {

class LanEngine;

// The worker's body; its argument is the LanEngine. Returns when `running`
// is found cleared, after the final "STATUS" and the closing of the slots.
unsigned WINAPI ReceiveLoop(void* engine);

// A repeat of a sender's last number this many seconds or more after the
// number was first taken is that sender's own copy sent again.
inline constexpr int64_t kLateRepeatSeconds = 2;

// Handles one datagram as read from a slot (fromChannel: the channel slot,
// else the WinPopup slot). A rejected one is logged in one line and its
// reason returned; kAccepted otherwise (also when memory ran out while it
// was handled: it is dropped without a line). Sets messageDelivered when a LAN
// "MESSAGE" ran to its end. `path` is the way it came (a UDP frame's
// datagram or a slot's). The worker's own step, exposed for tests and
// fuzzing.
Rejection HandleDatagram(LanEngine& engine, const std::string& bytes, bool fromChannel,
                         bool& messageDelivered, DeliveryPath path = DeliveryPath::kMailslot);

// One pass's reading: when either slot holds datagrams, handles them all
// (or until a stop is asked for) and, if a LAN "MESSAGE" was delivered,
// asks the host for its queued messages. The worker's own step, exposed for
// benchmarks.
void DrainSlots(LanEngine& engine);

}  // namespace vask
