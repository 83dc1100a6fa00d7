// The worker thread: polls both server slots every 250 ms, drains them
// (WinPopup slot first), checks and dispatches every datagram by command.
#pragma once

#include <string>

#include "abi/host_records.h"
#include "win32.h"

namespace vask {

class LanEngine;

// Why a datagram was rejected; thrown by a check or a handler, caught by the
// loop around the handling of one datagram, which logs it.
struct Rejection {
  const char* reason;
};

// The worker's body; its argument is the LanEngine. Returns when `running`
// is found cleared, after the final "STATUS" and the closing of the slots.
unsigned WINAPI ReceiveLoop(void* engine);

// Handles one datagram as read from a slot (fromChannel: the channel slot,
// else the WinPopup slot), logging a rejection. Sets messageDelivered when a
// LAN "MESSAGE" ran to its end. The worker's own step, exposed for tests
// and fuzzing.
void HandleDatagram(LanEngine& engine, const std::string& bytes, bool fromChannel,
                    bool& messageDelivered);

// One pass's reading: when either slot holds datagrams, handles them all
// (or until a stop is asked for) and, if a LAN "MESSAGE" was delivered,
// asks the host for its queued messages. The worker's own step, exposed for
// benchmarks.
void DrainSlots(LanEngine& engine);

}  // namespace vask
