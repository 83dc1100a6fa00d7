// The CRT helpers the plug-in uses, with the Microsoft runtime's behaviour.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "win32.h"

namespace {

// Seconds added to what _time64 reports (VaskAdvanceClock).
std::atomic<long long> clockOffset{0};

}  // namespace

extern "C" {

// Radix 10 writes a sign; any other radix writes the 32-bit pattern
// unsigned, so -1 in radix 16 is ffffffff. Letters are lower case.
char* _itoa(int value, char* buffer, int radix) {
  if (!buffer) return buffer;
  if (radix < 2 || radix > 36) {
    buffer[0] = '\0';
    return buffer;
  }
  char digits[40];
  int count = 0;
  bool negative = radix == 10 && value < 0;
  uint32_t rest = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    uint32_t digit = rest % static_cast<uint32_t>(radix);
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    rest /= static_cast<uint32_t>(radix);
  } while (rest != 0);
  char* out = buffer;
  if (negative) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
  return buffer;
}

// ASCII letters only, as in the C locale.
char* _strlwr(char* text) {
  for (char* c = text; c && *c; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return text;
}

char* _strupr(char* text) {
  for (char* c = text; c && *c; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  return text;
}

char* _strdup(const char* text) {
  if (!text) return nullptr;
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

// Unlike vsnprintf: when the text does not fit, count characters are
// written without a NUL and the result is -1; a text of exactly count
// characters is written without a NUL and its length returned.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return -1;
  if (!buffer && count == 0) return length;
  if (static_cast<size_t>(length) < count) {
    return std::vsnprintf(buffer, count, format, args);
  }
  std::vector<char> whole(static_cast<size_t>(length) + 1);
  std::vsnprintf(whole.data(), whole.size(), format, args);
  std::memcpy(buffer, whole.data(), count);
  return static_cast<size_t>(length) == count ? length : -1;
}

// A 32-bit build's time_t ends in 2038; its kernel has a 64-bit clock call.
// VaskAdvanceClock's offset is added, so tests can turn this clock.
long long _time64(long long* out) {
  long long now = static_cast<long long>(std::time(nullptr));
#if defined(SYS_clock_gettime64)
  struct {
    long long seconds;
    long long nanoseconds;
  } wide{};
  if (syscall(SYS_clock_gettime64, CLOCK_REALTIME, &wide) == 0) now = wide.seconds;
#endif
  now += clockOffset.load(std::memory_order_relaxed);
  if (out != nullptr) *out = now;
  return now;
}

long long VaskAdvanceClock(long long seconds) {
  return clockOffset.fetch_add(seconds, std::memory_order_relaxed) + seconds;
}

}  // extern "C"
