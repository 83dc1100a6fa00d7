#include "protocol/repeat_window.h"

namespace vask {

bool RepeatWindow::Repeats(const std::string& sender, const std::string& number,
                           const std::string& time, int64_t now) {
  std::deque<Shown>& shown = senders_.Heard(sender);
  // A clock turned back makes entries look younger, never older: they go
  // at the latest when kPerSender newer ones have come.
  while (!shown.empty() && now - shown.front().at > kKeepSeconds) shown.pop_front();
  for (const Shown& one : shown) {
    if (one.number == number && one.time == time) return true;
  }
  if (shown.size() >= kPerSender) shown.pop_front();
  shown.push_back(Shown{number, time, now});
  return false;
}

}  // namespace vask
