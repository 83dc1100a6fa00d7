// SendMark: where the engine's sending stood, its start and the sequence
// number of a datagram it wrote.
#pragma once

#include <cstdint>

namespace vask {

// Sequence numbers begin at 1, so the empty mark names no datagram.
struct SendMark {
  uint32_t start = 0;
  int32_t sequence = 0;
  bool operator==(const SendMark& other) const {
    return start == other.start && sequence == other.sequence;
  }
};

}  // namespace vask
