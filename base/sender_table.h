// A table of what the receive path keeps per sender, bounded in size: a
// flood of forged sender names pushes out the sender heard from longest
// ago instead of growing the table. Not thread-safe: its owner says who
// may use it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace vask {

template <typename Entry>
class SenderTable {
 public:
  explicit SenderTable(size_t limit) : limit_(limit) {}

  // The entry of `sender` (a new one value-initialised, making room when
  // the table is full), marked as heard from last.
  Entry& Heard(const std::string& sender) {
    auto it = slots_.find(sender);
    if (it == slots_.end()) {
      if (!slots_.empty() && slots_.size() >= limit_) {
        // A linear walk, but only when a new sender finds the table full.
        slots_.erase(std::min_element(slots_.begin(), slots_.end(), [](auto& a, auto& b) {
          return a.second.heard < b.second.heard;
        }));
      }
      it = slots_.emplace(sender, Slot{}).first;
    }
    it->second.heard = ++tick_;
    return it->second.entry;
  }

  size_t size() const { return slots_.size(); }
  void Clear() { slots_.clear(); }

 private:
  struct Slot {
    Entry entry{};
    uint64_t heard = 0;  // on the table's own tick
  };
  std::map<std::string, Slot> slots_;
  uint64_t tick_ = 0;
  size_t limit_;
};

}  // namespace vask
