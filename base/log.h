// The log, which goes to the host (host message kMsgLog), and per-thread text
// buffers for formatted messages and numbers. Callable from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_ids.h"

namespace vask {

inline constexpr int kLogMax = 254;

// printf-style; the text is cut to 254 characters and sent at `level`.
void LogAt(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The plain log line of level 256.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// For a thread routine's catch-all: one line saying that `routine` ended
// early; swallows a failure of its own (memory is short when it is used).
void LogThreadAborted(const char* routine) noexcept;

// The calling thread's message buffer (at least 10000 characters), cut to
// 10000. Valid until the same thread formats its next message. "" when
// memory for the thread's buffers ran out; throws nothing.
const char* FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// _itoa in `radix`; "" becomes "0"; a positive width keeps the last width
// characters or pads with '0' on the left (in front of a sign too); upper
// case for radix above 10. In the calling thread's number area, valid until
// its next number; "" when memory for the thread's buffers ran out.
const char* FormatNumber(int value, int radix, int width = 0, bool upper = false);
std::string FormatNumberCopy(int value, int radix, int width = 0, bool upper = false);

// The per-thread buffer slot: allocated when the library loads, released
// when it unloads (the unloading thread's block with it).
class ThreadBuffers {
 public:
  ThreadBuffers();
  ~ThreadBuffers();
  ThreadBuffers(const ThreadBuffers&) = delete;
  ThreadBuffers& operator=(const ThreadBuffers&) = delete;
  uint32_t slot() const { return slot_; }

 private:
  uint32_t slot_;
};

// The library's one slot (built after the engine, destroyed before it).
ThreadBuffers& Buffers();
// Frees the calling thread's block, if it has one. Threads the plug-in
// starts call it before they end, so their blocks do not outlive them; the
// next use on the same thread simply creates a new block.
void ReleaseThreadBuffers();

}  // namespace vask
