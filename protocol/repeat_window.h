// The messages shown in the last minutes, by sender, number and the
// sender's time: a "MESSAGE" that comes again (a copy the network repeated,
// or one its sender sent again because our acknowledgement was lost) is
// acknowledged again but not shown twice, whatever came in between.
//
// Memory is bounded: at most kPerSender messages per sender and kSenders
// senders; a flood of forged sender names pushes out the least recently
// heard sender rather than growing the table. Not thread-safe: the worker
// thread alone uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "base/sender_table.h"

namespace vask {

class RepeatWindow {
 public:
  static constexpr int64_t kKeepSeconds = 300;
  static constexpr size_t kPerSender = 64;
  static constexpr size_t kSenders = 256;  // not a host number: a bound

  // True when this sender's message with exactly these number and time
  // texts was shown within kKeepSeconds before `now` (receiver's clock);
  // otherwise remembers it as shown now and returns false.
  bool Repeats(const std::string& sender, const std::string& number, const std::string& time,
               int64_t now);

  size_t Senders() const { return senders_.size(); }
  void Clear() { senders_.Clear(); }

 private:
  struct Shown {
    std::string number;
    std::string time;
    int64_t at;
  };
  SenderTable<std::deque<Shown>> senders_{kSenders};  // each oldest first
};

}  // namespace vask
