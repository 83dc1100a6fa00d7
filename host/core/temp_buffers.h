// The per-thread memory the host hands a plug-in: TempBuffer's buffers and
// the texts it returns by pointer (GetValue without a buffer, item texts).
//
// Each thread has its own rings, so one thread's requests never overwrite
// what another thread still reads. A TempBuffer stays valid until the same
// thread has asked for kTempRing more; a kept text until the thread has been
// handed kTextRing more. Thread-safe; Release drops the calling thread's.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mutex.h"
#include "win32.h"

namespace vask::host {

class ThreadBuffers {
 public:
  static constexpr size_t kTempRing = 32;
  static constexpr size_t kTextRing = 16;

  // `size` bytes (at least 0) and a terminating NUL, zeroed.
  char* Temp(int size);
  // A copy of `text` that stays valid until this thread keeps 16 more.
  const char* Keep(std::string_view text);
  // Drops the calling thread's buffers and texts.
  void Release();
  // Threads that hold buffers or texts now.
  size_t threadCount() const;

 private:
  // Owned by the thread whose id keys it: only the map is shared.
  struct Rings {
    std::array<std::vector<char>, kTempRing> temp;
    size_t nextTemp = 0;
    std::array<std::string, kTextRing> texts;
    size_t nextText = 0;
  };
  Rings& Mine() EXCLUDES(mutex_);

  mutable vask::Mutex mutex_;
  std::map<DWORD, std::unique_ptr<Rings>> threads_ GUARDED_BY(mutex_);
};

}  // namespace vask::host
