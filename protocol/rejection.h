// Why the receive path turned a datagram away: the reason its log line
// gives. Checks and handlers return it; nothing a datagram reaches throws.
#pragma once

namespace vask {

// A reason, or none (kAccepted) when the datagram was taken: handled, or
// dropped without a trace as a repeat of its sender's last number.
struct Rejection {
  const char* reason = nullptr;
  explicit constexpr operator bool() const { return reason != nullptr; }
};

inline constexpr Rejection kAccepted{};
// Fewer fields than the slot's format or the command needs.
inline constexpr Rejection kTooShort{"Too short"};
// A sender field that names nobody, or everybody ("*", "^").
inline constexpr Rejection kBadSender{"Bad sender"};
// Not a contact while the user talks only with listed computers.
inline constexpr Rejection kBanned{"Banned"};
// A command only contacts may send ("STATUS").
inline constexpr Rejection kNotOnList{"Not on list"};
// A command nobody handles: not ours, and no bus subscriber claimed it.
inline constexpr Rejection kUnsupported{"Unsupported"};
// A "MESSAGE" from a sender the user ignores.
inline constexpr Rejection kIgnored{"Ignored"};

}  // namespace vask
