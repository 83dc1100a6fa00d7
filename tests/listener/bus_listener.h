// The test listener's own host messages: a test calls them through the host
// core (HostCore::Call on the listener's id) to steer the listener and to
// read what the extension bus offered it. Ids above the host's range.
#pragma once

#include <cstdint>

namespace vask::test_listener {

// p1 = the id of the plug-in to subscribe to, p2 = the mask. Subscribes
// with the listener's own id as sender; the answer is the bus's answer.
inline constexpr int kSubscribe = 56000;
// p1 = target text, p2 = command text, p3 = body text (may be null), p4 =
// body length (the body may hold NULs). Sends through the bus of the
// plug-in last subscribed to; the answer is the bus's answer.
inline constexpr int kSend = 56001;
// p1 = command text, p2 = 1 to claim it (answer non-zero to its
// kMsgBusReceived), 0 to stop claiming it. "PONG" is claimed from the start.
inline constexpr int kClaim = 56002;
// p1 = record id (kMsgBusSent, kMsgBusReceived or kMsgBusEngine), p2 =
// command text or, for kMsgBusEngine, the event number; 0 or null counts
// every record of that id.
inline constexpr int kCount = 56010;
// p1 = command text: the contact id of the last kMsgBusReceived with that
// command, -2 when none came.
inline constexpr int kLastContact = 56011;
// p1 = command text: the target of the last kMsgBusSent with that command
// copied into the buffer p2 (p3 bytes, NUL-terminated); its length, or -1.
inline constexpr int kLastSentTarget = 56012;
// Forgets every record seen (claims and the subscription stay).
inline constexpr int kReset = 56013;
// p1 = command text: the fields of the last kMsgBusReceived with that
// command joined by '|' into the buffer p2 (p3 bytes, NUL-terminated); its
// length, or -1.
inline constexpr int kLastReceivedFields = 56014;

}  // namespace vask::test_listener
