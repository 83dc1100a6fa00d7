// The UDP frame: a LAN datagram, byte for byte as a mailslot carries it,
// with a small header of ours in front, for computers whose remote
// mailslots are switched off. Layout: the magic "VASK", the version (1), a
// flags byte (kFrameListening), the target slot's name and NUL, the
// sender's computer name and NUL, then the datagram to the frame's end.
// Every copy listens for frames on UDP port kLanUdpPort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vask {

// The one UDP port of the LAN network, on every computer.
inline constexpr uint16_t kLanUdpPort = 41925;
inline constexpr char kFrameMagic[] = "VASK";
inline constexpr size_t kFrameMagicSize = 4;
inline constexpr uint8_t kFrameVersion = 1;
// The sender listens on kLanUdpPort: answers may come to it by UDP.
inline constexpr uint8_t kFrameListening = 0x01;
// A datagram carries at most this much between computers, as a remote
// mailslot write does.
inline constexpr size_t kMaxFrameDatagram = 424;
// A slot name that fits a mailslot path of MAX_PATH with its prefix.
// (not a host number)
inline constexpr size_t kMaxFrameSlot = 246;
inline constexpr size_t kMaxFrameSender = 15;
inline constexpr size_t kMaxFrame =
    kFrameMagicSize + 2 + kMaxFrameSlot + 1 + kMaxFrameSender + 1 + kMaxFrameDatagram;

// Why a received frame was not taken; kAccepted when it was.
enum class FrameVerdict {
  kAccepted,
  kBadMagic,        // not one of our frames
  kBadVersion,      // a version this copy does not read
  kMalformed,       // cut short, a name without its NUL, or no datagram
  kOversize,        // longer than any frame may be
  kBadSlot,         // the slot name is empty, too long or has control bytes
  kBadSender,       // the sender is no computer name
  kForgedSender,    // the sender calls itself "*", everybody
  kNotLan,          // from outside the local networks
  kOtherSlot,       // for a slot this copy does not serve
  kSenderMismatch,  // the datagram names another sender than the frame
  kOwnFrame,        // this computer's own broadcast, come back: counted, not logged
};
inline constexpr size_t kFrameVerdicts = static_cast<size_t>(FrameVerdict::kOwnFrame) + 1;

// The reason's text for the log.
const char* FrameDropReason(FrameVerdict verdict);

struct Frame {
  std::string slot;
  std::string sender;
  std::string datagram;
  bool listening = false;
};

// The frame for `datagram`; the caller keeps names and datagram within the
// bounds above (BuildFrame does not check them).
std::string BuildFrame(std::string_view slot, std::string_view sender, bool listening,
                       std::string_view datagram);

// Reads a frame as received; fills `frame` only when it returns kAccepted.
FrameVerdict ParseFrame(std::string_view bytes, Frame& frame);

// A computer name as Windows allows it: 1 to 15 bytes, none of them a
// control byte, a blank or one of \ / : * ? " < > |.
bool IsComputerName(std::string_view name);

// The second field of a datagram (its sender), or empty when it has none.
std::string_view DatagramSender(std::string_view datagram);

// One IPv4 network of this computer, host byte order.
struct LocalNetwork {
  uint32_t address;
  uint32_t mask;
};

// True for loopback and for an address inside one of the networks.
bool IsLanAddress(uint32_t address, const std::vector<LocalNetwork>& networks);

}  // namespace vask
