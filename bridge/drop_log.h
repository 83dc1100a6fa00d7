// What the bridge refuses from the network, counted by reason and by
// source and logged as at most one line per interval, so that a flood of
// bad packets costs a few counters instead of a line each. A drop after a
// quiet interval is logged at once; the ones that follow within the
// interval wait for the summary. Single-threaded, like the bridge's core.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vask::bridge {

class DropLog {
 public:
  // At most this many sources and reasons are told apart within one
  // interval; further ones are counted under "other".
  static constexpr size_t kMaxKeys = 64;
  // Sources and reasons named in one line; the rest are summed.
  static constexpr size_t kListed = 5;

  explicit DropLog(int64_t interval) : interval_(interval) {}

  // Counts `count` drops at `now` (milliseconds). Returns the line to log
  // when one is due now, else an empty string.
  std::string Count(const std::string& reason, const std::string& source, int64_t now,
                    uint64_t count = 1);
  // The summary of the drops counted since the last line once the interval
  // since that line has passed, else an empty string.
  std::string TakeDue(int64_t now);
  // The summary of whatever is counted, due or not (at exit); empty for none.
  std::string Flush(int64_t now) { return total_ == 0 ? std::string() : Summary(now); }
  // When TakeDue next has a line, or -1 for none.
  int64_t NextDeadline() const;

 private:
  std::string Summary(int64_t now);
  static void Add(std::map<std::string, uint64_t>* counts, const std::string& key, uint64_t n);

  int64_t interval_;
  bool logged_ = false;  // a line was logged at lastLine_
  int64_t lastLine_ = 0;
  uint64_t total_ = 0;
  std::map<std::string, uint64_t> reasons_;
  std::map<std::string, uint64_t> sources_;
};

}  // namespace vask::bridge
