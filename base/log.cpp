// The log and the per-thread text buffers (formatted messages, numbers).
#include "base/log.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "base/host_api.h"
#include "base/text.h"
#include "win32.h"

namespace vask {

namespace {

// The log line's stack buffer and the formatter's limit within it.
constexpr size_t kLogBuffer = 256;  // not a host number
constexpr size_t kLogLimit = 255;   // not a host number
constexpr size_t kTextCapacity = 10000;
// Far more than a 32-bit number in radix 2 with its sign needs; the rest
// serves the widest zero padding a caller asks for.
constexpr size_t kNumberArea = 10004;

// One thread's buffers, created on its first use and reused afterwards.
// Plain arrays: making one allocates once and cannot throw.
struct Block {
  char text[kTextCapacity + 1];
  char number[kNumberArea];
};

// A slot that TlsAlloc could not give leaves each thread with one block of
// its own all the same.
thread_local Block* tFallback = nullptr;

// The calling thread's block; null when memory ran out for it.
Block* ThreadBlock() {
  const DWORD slot = Buffers().slot();
  if (slot == TLS_OUT_OF_INDEXES) {
    if (tFallback == nullptr) tFallback = new (std::nothrow) Block;
    return tFallback;
  }
  auto* block = static_cast<Block*>(TlsGetValue(slot));
  if (block == nullptr) {
    block = new (std::nothrow) Block;
    if (block != nullptr) TlsSetValue(slot, block);
  }
  return block;
}

// What the formatters return when the thread has no block.
char gNoBlock[1] = {0};

void SendLog(int level, const char* format, va_list args) {
  char line[kLogBuffer];
  line[0] = '\0';
  _vsnprintf(line, kLogLimit, format, args);
  line[kLogMax] = '\0';
  SendHost(kMsgLog, line, level);
}

}  // namespace

ThreadBuffers::ThreadBuffers() : slot_(TlsAlloc()) {}

ThreadBuffers::~ThreadBuffers() {
  if (slot_ == TLS_OUT_OF_INDEXES) return;
  delete static_cast<Block*>(TlsGetValue(slot_));
  TlsSetValue(slot_, nullptr);
  TlsFree(slot_);
  slot_ = TLS_OUT_OF_INDEXES;
}

void ReleaseThreadBuffers() {
  const DWORD slot = Buffers().slot();
  if (slot == TLS_OUT_OF_INDEXES) {
    delete tFallback;
    tFallback = nullptr;
    return;
  }
  delete static_cast<Block*>(TlsGetValue(slot));
  TlsSetValue(slot, nullptr);
}

void LogAt(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  SendLog(level, format, args);
  va_end(args);
}

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  SendLog(kLogLevel, format, args);
  va_end(args);
}

const char* FormatText(const char* format, ...) {
  Block* block = ThreadBlock();
  if (block == nullptr) return gNoBlock;
  char* text = block->text;
  va_list args;
  va_start(args, format);
  _vsnprintf(text, kTextCapacity, format, args);
  va_end(args);
  // _vsnprintf leaves no NUL when the text fills the limit.
  text[kTextCapacity] = '\0';
  return text;
}

const char* FormatNumber(int value, int radix, int width, bool upper) {
  Block* block = ThreadBlock();
  if (block == nullptr) return gNoBlock;
  char* area = block->number;
  area[0] = '\0';
  // The runtime's _itoa rejects other radixes (on Windows by ending the
  // program); they give "0" here.
  if (radix >= 2 && radix <= 36) _itoa(value, area, radix);
  if (area[0] == '\0') std::strcpy(area, "0");
  if (width > 0) {
    const size_t wanted =
        static_cast<size_t>(width) < kNumberArea ? static_cast<size_t>(width) : kNumberArea - 1;
    const size_t length = std::strlen(area);
    if (length > wanted) {
      std::memmove(area, area + (length - wanted), wanted);
    } else if (length < wanted) {
      std::memmove(area + (wanted - length), area, length);
      std::memset(area, '0', wanted - length);
    }
    area[wanted] = '\0';
  }
  if (radix > 10 && upper) UpperCaseAscii(area);
  return area;
}

std::string FormatNumberCopy(int value, int radix, int width, bool upper) {
  return FormatNumber(value, radix, width, upper);
}

void LogThreadAborted(const char* routine) noexcept {
  try {
    Log("- Watek %s przerwany: zabraklo pamieci", routine);
  } catch (...) {
  }
}

}  // namespace vask
