#include "transport/udp_frame.h"

#include <cstring>

namespace vask {

namespace {

// 127.0.0.0/8 (not host numbers: an address and its mask).
constexpr uint32_t kLoopbackNet = 127u << 24;
constexpr uint32_t kLoopbackMask = ~0u << 24;

// The next NUL-terminated name at `at`, moving `at` past its NUL; false
// when no NUL follows.
bool TakeName(std::string_view bytes, size_t& at, std::string_view& name) {
  const size_t end = bytes.find('\0', at);
  if (end == std::string_view::npos) return false;
  name = bytes.substr(at, end - at);
  at = end + 1;
  return true;
}

bool IsSlotName(std::string_view name) {
  if (name.empty() || name.size() > kMaxFrameSlot) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '/') return false;
  }
  return true;
}

}  // namespace

const char* FrameDropReason(FrameVerdict verdict) {
  switch (verdict) {
    case FrameVerdict::kAccepted:
      return "accepted";
    case FrameVerdict::kBadMagic:
      return "bad magic";
    case FrameVerdict::kBadVersion:
      return "unknown version";
    case FrameVerdict::kMalformed:
      return "malformed";
    case FrameVerdict::kOversize:
      return "oversize";
    case FrameVerdict::kBadSlot:
      return "bad slot name";
    case FrameVerdict::kBadSender:
      return "bad sender name";
    case FrameVerdict::kForgedSender:
      return "forged sender *";
    case FrameVerdict::kNotLan:
      return "not from the local network";
    case FrameVerdict::kOtherSlot:
      return "other slot";
    case FrameVerdict::kSenderMismatch:
      return "sender mismatch";
    case FrameVerdict::kOwnFrame:
      return "own frame";
  }
  return "unknown";
}

std::string BuildFrame(std::string_view slot, std::string_view sender, bool listening,
                       std::string_view datagram) {
  std::string frame;
  frame.reserve(kFrameMagicSize + 2 + slot.size() + sender.size() + 2 + datagram.size());
  frame.append(kFrameMagic, kFrameMagicSize);
  frame.push_back(static_cast<char>(kFrameVersion));
  frame.push_back(static_cast<char>(listening ? kFrameListening : 0));
  frame.append(slot);
  frame.push_back('\0');
  frame.append(sender);
  frame.push_back('\0');
  frame.append(datagram);
  return frame;
}

FrameVerdict ParseFrame(std::string_view bytes, Frame& frame) {
  if (bytes.size() < kFrameMagicSize ||
      std::memcmp(bytes.data(), kFrameMagic, kFrameMagicSize) != 0) {
    return FrameVerdict::kBadMagic;
  }
  if (bytes.size() > kMaxFrame) return FrameVerdict::kOversize;
  if (bytes.size() < kFrameMagicSize + 2) return FrameVerdict::kMalformed;
  if (static_cast<uint8_t>(bytes[kFrameMagicSize]) != kFrameVersion) {
    return FrameVerdict::kBadVersion;
  }
  const uint8_t flags = static_cast<uint8_t>(bytes[kFrameMagicSize + 1]);
  size_t at = kFrameMagicSize + 2;
  std::string_view slot;
  std::string_view sender;
  if (!TakeName(bytes, at, slot) || !TakeName(bytes, at, sender)) return FrameVerdict::kMalformed;
  if (!IsSlotName(slot)) return FrameVerdict::kBadSlot;
  if (sender == "*") return FrameVerdict::kForgedSender;
  if (!IsComputerName(sender)) return FrameVerdict::kBadSender;
  const std::string_view datagram = bytes.substr(at);
  if (datagram.empty()) return FrameVerdict::kMalformed;
  if (datagram.size() > kMaxFrameDatagram) return FrameVerdict::kOversize;
  frame.slot.assign(slot);
  frame.sender.assign(sender);
  frame.datagram.assign(datagram);
  frame.listening = (flags & kFrameListening) != 0;
  return FrameVerdict::kAccepted;
}

bool IsComputerName(std::string_view name) {
  if (name.empty() || name.size() > kMaxFrameSender) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) <= 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) {
      return false;
    }
  }
  return true;
}

std::string_view DatagramSender(std::string_view datagram) {
  const size_t first = datagram.find('\0');
  if (first == std::string_view::npos) return {};
  const size_t second = datagram.find('\0', first + 1);
  if (second == std::string_view::npos) return datagram.substr(first + 1);
  return datagram.substr(first + 1, second - first - 1);
}

bool IsLanAddress(uint32_t address, const std::vector<LocalNetwork>& networks) {
  if ((address & kLoopbackMask) == kLoopbackNet) return true;
  for (const LocalNetwork& network : networks) {
    // A mask of nothing would take in the whole Internet.
    if (network.mask == 0) continue;
    if ((address & network.mask) == (network.address & network.mask)) return true;
  }
  return false;
}

}  // namespace vask
