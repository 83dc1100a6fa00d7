#include "transport/datagram_room.h"

#include <algorithm>

namespace vask {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The bytes the texts take when none is longer than `cap`.
size_t CappedTotal(const std::vector<std::string>& texts, size_t cap) {
  size_t total = 0;
  for (const std::string& text : texts) total += std::min(text.size(), cap);
  return total;
}

}  // namespace

size_t BodyRoom(std::string_view target, std::string_view command) {
  // sequence NUL sender NUL target NUL command NUL body NUL
  const size_t fixed = (kMaxNumberDigits + 1) + (kMaxComputerName + 1) +
                       (std::max(target.size(), kMaxComputerName) + 1) + (command.size() + 1) + 1;
  return fixed < kMaxRemoteDatagram ? kMaxRemoteDatagram - fixed : 0;
}

std::vector<std::string> SplitText(std::string_view text, size_t room) {
  room = std::max<size_t>(room, 1);
  std::vector<std::string> parts;
  size_t position = 0;
  while (text.size() - position > room) {
    size_t cut = room;
    // A blank near the end of the part, so words stay whole where they can.
    for (size_t length = room; length > room - room / 4; --length) {
      if (IsBlank(text[position + length - 1])) {
        cut = length;
        break;
      }
    }
    parts.emplace_back(text.substr(position, cut));
    position += cut;
  }
  parts.emplace_back(text.substr(position));
  return parts;
}

void CutToFit(std::vector<std::string>& texts, size_t room) {
  size_t longest = 0;
  for (const std::string& text : texts) longest = std::max(longest, text.size());
  if (CappedTotal(texts, longest) <= room) return;
  // The largest cap that fits: CappedTotal grows with the cap.
  size_t low = 0, high = longest;
  while (low < high) {
    const size_t middle = low + (high - low + 1) / 2;
    if (CappedTotal(texts, middle) <= room) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  size_t spare = room - CappedTotal(texts, low);
  for (std::string& text : texts) {
    if (text.size() <= low) continue;
    // What the cap leaves over goes, a byte each, to the first cut texts.
    const size_t keep = low + (spare > 0 ? 1 : 0);
    if (spare > 0) --spare;
    text.resize(keep);
  }
}

}  // namespace vask
