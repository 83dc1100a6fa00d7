#include "bridge/frame_codec.h"

#include <cstring>

#include "bridge/netbios_name.h"

namespace vask::bridge {
namespace {

constexpr char kMagic[] = "VASK";
constexpr size_t kMagicSize = 4;
constexpr uint8_t kVersion = 1;

bool TakeName(std::string_view bytes, size_t* at, std::string_view* name) {
  const size_t end = bytes.find('\0', *at);
  if (end == std::string_view::npos) return false;
  *name = bytes.substr(*at, end - *at);
  *at = end + 1;
  return true;
}

bool IsSlot(std::string_view name) {
  if (name.empty() || name.size() > kMaxFrameSlot) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '/') return false;
  }
  return true;
}

bool IsComputer(std::string_view name) {
  if (name.empty() || name.size() > kMaxFrameSender) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) <= 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) {
      return false;
    }
  }
  return true;
}

// The datagram's second field, its sender.
std::string_view DataSender(std::string_view data) {
  const size_t first = data.find('\0');
  if (first == std::string_view::npos) return {};
  const size_t second = data.find('\0', first + 1);
  return data.substr(
      first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1);
}

}  // namespace

std::string BuildLanFrame(std::string_view slot, std::string_view sender, bool listens,
                          std::string_view data) {
  std::string frame(kMagic, kMagicSize);
  frame.push_back(static_cast<char>(kVersion));
  frame.push_back(static_cast<char>(listens ? kFrameListens : 0));
  frame.append(slot);
  frame.push_back('\0');
  frame.append(sender);
  frame.push_back('\0');
  frame.append(data);
  return frame;
}

const char* ParseLanFrame(std::string_view bytes, LanFrame* frame) {
  if (bytes.size() < kMagicSize || std::memcmp(bytes.data(), kMagic, kMagicSize) != 0) {
    return "bad magic";
  }
  if (bytes.size() > kMaxFrameSize) return "oversize";
  if (bytes.size() < kMagicSize + 2) return "malformed";
  if (static_cast<uint8_t>(bytes[kMagicSize]) != kVersion) return "unknown version";
  const uint8_t flags = static_cast<uint8_t>(bytes[kMagicSize + 1]);
  size_t at = kMagicSize + 2;
  std::string_view slot;
  std::string_view sender;
  if (!TakeName(bytes, &at, &slot) || !TakeName(bytes, &at, &sender)) return "malformed";
  if (!IsSlot(slot)) return "bad slot name";
  if (sender == "*") return "forged sender *";
  if (!IsComputer(sender)) return "bad sender name";
  const std::string_view data = bytes.substr(at);
  if (data.empty()) return "malformed";
  if (data.size() > kMaxFrameData) return "oversize";
  if (CanonicalName(std::string(DataSender(data))) != CanonicalName(std::string(sender))) {
    return "sender mismatch";
  }
  frame->slot.assign(slot);
  frame->sender.assign(sender);
  frame->data.assign(data);
  frame->listens = (flags & kFrameListens) != 0;
  return nullptr;
}

}  // namespace vask::bridge
