#include "protocol/repeat_window.h"

#include <algorithm>

namespace vask {

bool RepeatWindow::Repeats(const std::string& sender, const std::string& number,
                           const std::string& time, int64_t now) {
  auto it = senders_.find(sender);
  if (it == senders_.end()) {
    if (senders_.size() >= kSenders) {
      // Full: the sender heard from longest ago makes room. A linear walk,
      // but only when a new sender comes to a full table.
      auto oldest = std::min_element(senders_.begin(), senders_.end(), [](auto& a, auto& b) {
        return a.second.heard < b.second.heard;
      });
      senders_.erase(oldest);
    }
    it = senders_.emplace(sender, Sender{}).first;
  }
  Sender& entry = it->second;
  entry.heard = ++tick_;
  // A clock turned back makes entries look younger, never older: they go
  // at the latest when kPerSender newer ones have come.
  while (!entry.shown.empty() && now - entry.shown.front().at > kKeepSeconds) {
    entry.shown.pop_front();
  }
  for (const Shown& shown : entry.shown) {
    if (shown.number == number && shown.time == time) return true;
  }
  if (entry.shown.size() >= kPerSender) entry.shown.pop_front();
  entry.shown.push_back(Shown{number, time, now});
  return false;
}

}  // namespace vask
