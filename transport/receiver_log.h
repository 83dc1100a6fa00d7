// Where the engine's datagrams went, so that a datagram is written again
// only while it is still the last one its receiver got from us: a copy that
// knows only the last-number rule drops such a repeat, and would show it a
// second time after anything else of ours had reached it.
//
// For each receiver (names compared without regard to case) the send mark
// of the last datagram written to it, and how many writes to it are under
// way; a write to "*" reaches every computer, so it makes every mark noted
// before it stale. Writes that were under way at the same time may have
// reached the receiver in either order, so once they are over none of
// them is last (a write to one receiver beside another to it, or beside a
// write to "*"). Memory is bounded: at most kReceiversKept names, a new
// one beyond that pushing out the one written to longest ago (whose
// datagrams then are not written again). Not thread-safe: the engine holds
// its send lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "transport/send_mark.h"

namespace vask {

class ReceiverLog {
 public:
  static constexpr size_t kReceiversKept = 256;  // not a host number: a bound

  ReceiverLog() = default;
  ReceiverLog(const ReceiverLog&) = delete;  // its order refers into itself
  ReceiverLog& operator=(const ReceiverLog&) = delete;

  // A datagram to `target` ("*": every computer) took `mark` and is about
  // to be written; End follows once the write is over.
  void Begin(const std::string& target, const SendMark& mark);
  void End(const std::string& target);
  // True when the datagram written to `target` under `mark` is the last one
  // that went to it, and no other write that may reach it is under way.
  bool IsLast(const std::string& target, const SendMark& mark) const;

  size_t Receivers() const { return receivers_.size(); }

 private:
  struct Receiver {
    SendMark last;
    int writing = 0;
    std::list<std::string>::iterator used;  // its place in used_
  };
  std::unordered_map<std::string, Receiver> receivers_;
  // The receivers' names, the one written to last first: the one pushed
  // out is found without a walk, which a fan-out to more receivers than
  // are kept would otherwise make for every one of them.
  std::list<std::string> used_;
  int broadcastsWriting_ = 0;
};

// Whether two computer names name the same computer (A to Z folded).
bool SameComputer(const std::string& a, const std::string& b);

}  // namespace vask
