// What became of a datagram for a local slot: handed over, held for a
// receiver that cannot take it yet, or lost, and why.
#pragma once

namespace vask::bridge {

enum class Delivery {
  kDelivered,
  kHeld,              // waits in the backlog behind earlier ones
  kNoSlot,            // no live slot of that name
  kBacklogFull,       // the receiver does not read and its share is full
  kTooManyReceivers,  // too many receivers are waiting already
};

}  // namespace vask::bridge
