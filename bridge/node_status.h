// Node status (NBSTAT) of the name service: the question "which names does
// this node hold?" that diagnostic tools ask by address, and its answer, a
// list of names with their flags and a block of statistics whose first six
// bytes are the interface's hardware address. Names in the answer are not
// encoded: 15 bytes padded with blanks, then the suffix.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge/codec_status.h"
#include "bridge/netbios_name.h"

namespace vask::bridge {

// NAME_FLAGS of a node status entry.
inline constexpr uint16_t kStatusGroup = 0x8000;
inline constexpr uint16_t kStatusDeregistering = 0x1000;
inline constexpr uint16_t kStatusConflict = 0x0800;
inline constexpr uint16_t kStatusActive = 0x0400;
inline constexpr uint16_t kStatusPermanent = 0x0200;

inline constexpr size_t kStatisticsSize = 46;
// The most names one answer carries, so that it stays within the 576 bytes
// of a name service packet with a 34-byte question name.
inline constexpr size_t kMaxStatusNames = 26;

struct StatusEntry {
  NetbiosName name;  // no scope
  uint16_t flags = 0;
  bool operator==(const StatusEntry&) const = default;
};

struct NodeStatus {
  std::vector<StatusEntry> names;
  std::array<uint8_t, 6> unitId{};
};

// A node status request for `name` (usually the wildcard "*"), unicast.
Status BuildNodeStatusRequest(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out);
// The answer to request `id` about `question`. Fails with more than
// kMaxStatusNames names or a name that cannot be written.
Status BuildNodeStatusResponse(uint16_t id, const NetbiosName& question, const NodeStatus& status,
                               std::vector<uint8_t>* out);
// The RDATA of a node status answer: NUM_NAMES, the entries, the
// statistics (at least the unit id; a shorter block is refused).
Status DecodeNodeStatus(const uint8_t* data, size_t size, NodeStatus* out);

}  // namespace vask::bridge
