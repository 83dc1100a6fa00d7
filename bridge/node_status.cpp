#include "bridge/node_status.h"

#include <cstring>

#include "bridge/byte_order.h"
#include "bridge/name_packet.h"

namespace vask::bridge {

Status BuildNodeStatusRequest(uint16_t id, const NetbiosName& name, std::vector<uint8_t>* out) {
  std::vector<uint8_t> packet;
  Put16Be(&packet, id);
  Put16Be(&packet, 0);  // a unicast query
  Put16Be(&packet, 1);
  Put16Be(&packet, 0);
  Put16Be(&packet, 0);
  Put16Be(&packet, 0);
  Status status = EncodeName(name, &packet);
  if (!status) return status;
  Put16Be(&packet, kTypeNbstat);
  Put16Be(&packet, kClassIn);
  *out = std::move(packet);
  return Status::Ok();
}

Status BuildNodeStatusResponse(uint16_t id, const NetbiosName& question, const NodeStatus& status,
                               std::vector<uint8_t>* out) {
  if (status.names.size() > kMaxStatusNames) return Status::Fail("too many names for one answer");
  std::vector<uint8_t> packet;
  Put16Be(&packet, id);
  Put16Be(&packet, kFlagResponse | kFlagAuthoritative);
  Put16Be(&packet, 0);
  Put16Be(&packet, 1);
  Put16Be(&packet, 0);
  Put16Be(&packet, 0);
  Status result = EncodeName(question, &packet);
  if (!result) return result;
  Put16Be(&packet, kTypeNbstat);
  Put16Be(&packet, kClassIn);
  Put32Be(&packet, 0);  // TTL
  Put16Be(&packet, static_cast<uint16_t>(1 + 18 * status.names.size() + kStatisticsSize));
  packet.push_back(static_cast<uint8_t>(status.names.size()));
  for (const StatusEntry& entry : status.names) {
    std::string name = CanonicalName(entry.name.name);
    if (name.empty() || name.find('\0') != std::string::npos) return Status::Fail("bad name");
    name.resize(kNameLength, ' ');
    packet.insert(packet.end(), name.begin(), name.end());
    packet.push_back(entry.name.suffix);
    Put16Be(&packet, entry.flags);
  }
  packet.insert(packet.end(), status.unitId.begin(), status.unitId.end());
  packet.insert(packet.end(), kStatisticsSize - status.unitId.size(), 0);
  *out = std::move(packet);
  return Status::Ok();
}

Status DecodeNodeStatus(const uint8_t* data, size_t size, NodeStatus* out) {
  if (size < 1) return Status::Fail("node status without NUM_NAMES");
  size_t count = data[0];
  size_t at = 1;
  if (at + 18 * count + 6 > size) return Status::Fail("node status names run past the record");
  NodeStatus status;
  for (size_t i = 0; i < count; ++i, at += 18) {
    std::string name(reinterpret_cast<const char*>(data + at), kNameLength);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    if (name.empty()) return Status::Fail("empty name in a node status");
    if (name.find('\0') != std::string::npos) return Status::Fail("NUL in a node status name");
    status.names.push_back(
        StatusEntry{NetbiosName{name, data[at + 15], {}}, Get16Be(data + at + 16)});
  }
  std::memcpy(status.unitId.data(), data + at, status.unitId.size());
  *out = std::move(status);
  return Status::Ok();
}

}  // namespace vask::bridge
