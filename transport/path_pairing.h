// A broadcast goes out both ways, by mailslot and by UDP, so a copy that
// listens on both gets it twice, and not always one copy right after the
// other: the last-number rule alone would take the second copy of a
// datagram once another datagram of its sender came in between. This
// table pairs them: a datagram taken from one path cancels exactly one copy
// of the very same bytes from the other path, if that copy comes within
// kKeepSeconds. Copies on the same path are left to the last-number rule.
//
// Bounded like the receive path's other tables (kPerSender datagrams per
// sender, kSenders senders; the sender heard from longest ago makes room).
// Not thread-safe: the worker thread alone uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "base/sender_table.h"

namespace vask {

enum class DeliveryPath { kMailslot, kUdp };

class PathPairing {
 public:
  static constexpr int64_t kKeepSeconds = 30;
  static constexpr size_t kPerSender = 64;
  static constexpr size_t kSenders = 256;  // not a host number: a bound

  // True when `datagram` of `sender` is the other path's copy of one taken
  // lately (the pair is then used up); otherwise remembers it as taken from
  // `path` at `now` and returns false.
  bool IsCopy(const std::string& sender, std::string_view datagram, DeliveryPath path, int64_t now);
  size_t Senders() const { return senders_.size(); }
  void Clear() { senders_.Clear(); }

 private:
  struct Taken {
    uint64_t digest;
    size_t size;
    DeliveryPath path;
    int64_t at;
  };
  SenderTable<std::deque<Taken>> senders_{kSenders};  // each oldest first
};

}  // namespace vask
