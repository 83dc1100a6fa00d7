// What fits in one datagram between computers. A mailslot write to another
// computer or to every computer carries at most kMaxRemoteDatagram bytes (on
// Windows, on the emulated LAN and through vask-bridge alike); a longer one
// fails and reaches nobody. The senders size their texts with these
// helpers: a long message goes in parts, a long description or contact
// detail is cut, so that a copy that knows nothing of this still receives
// every datagram, only shorter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vask {

inline constexpr size_t kMaxRemoteDatagram = 424;
// The widest decimal 32-bit number ("-2147483648"): the datagram sequence
// and the message number are sized for it, whatever they are now.
inline constexpr size_t kMaxNumberDigits = 11;
// The longest computer name (the sender field; NetBIOS names have 15).
inline constexpr size_t kMaxComputerName = 15;

// Bytes left for the body of `command` sent to `target` (its fields and the
// NULs between them, not the final NUL, which is counted here). A fan-out
// ("*", "^") writes each contact's id as the target: sized for a full
// computer name. 0 when not even an empty body fits.
size_t BodyRoom(std::string_view target, std::string_view command);

// The text in parts of at most `room` bytes (at least 1), in order; joined
// they give the text back. A part that must be cut ends after the last
// blank (space, tab or line feed) in its final quarter when there is one,
// else it is cut at `room`. Texts are single-byte (Windows-1250), so any cut
// falls between two characters. An empty text gives one empty part.
std::vector<std::string> SplitText(std::string_view text, size_t room);

// Cuts the longest of `texts` (from their ends) until together they take at
// most `room` bytes: the shorter ones stay whole, the longer ones end up of
// one length (give or take a byte).
void CutToFit(std::vector<std::string>& texts, size_t room);

}  // namespace vask
