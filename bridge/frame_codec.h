// The UDP frame of the messenger's copies, as the bridge reads and writes
// it: the magic "VASK", the version (1), a flags byte (bit 0: the sender
// listens on kFramePort), the target slot and NUL, the sender's computer
// name and NUL, then the datagram, byte for byte as a mailslot carries it.
// The plug-in has its own reader and writer of the same layout (the bridge
// links nothing of the plug-in); a test holds the two to each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vask::bridge {

// The one UDP port of the frames, on every computer.
inline constexpr uint16_t kFramePort = 41925;
inline constexpr uint8_t kFrameListens = 0x01;
// A datagram carries at most this much between computers.
inline constexpr size_t kMaxFrameData = 424;
inline constexpr size_t kMaxFrameSlot = 246;
inline constexpr size_t kMaxFrameSender = 15;
inline constexpr size_t kMaxFrameSize =
    4 + 2 + kMaxFrameSlot + 1 + kMaxFrameSender + 1 + kMaxFrameData;

struct LanFrame {
  std::string slot;
  std::string sender;
  std::string data;
  bool listens = false;
};

// The frame for `data`; the caller keeps names and data within the bounds
// above.
std::string BuildLanFrame(std::string_view slot, std::string_view sender, bool listens,
                          std::string_view data);

// Reads a received frame into `frame`; on failure the reason, for the
// bridge's drop summary ("bad magic", "forged sender *", ...). A frame is
// refused when it is cut short or too long, of another version, names an
// empty or odd slot, names no computer or "*" as its sender, or carries a
// datagram whose own sender field names another computer.
const char* ParseLanFrame(std::string_view bytes, LanFrame* frame);

}  // namespace vask::bridge
