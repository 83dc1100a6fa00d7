// Holds a critical section for one scope; the lock of every engine table.
#pragma once

#include "win32.h"

namespace vask {

class SectionGuard {
 public:
  explicit SectionGuard(CRITICAL_SECTION& section) : section_(section) {
    EnterCriticalSection(&section_);
  }
  ~SectionGuard() { LeaveCriticalSection(&section_); }
  SectionGuard(const SectionGuard&) = delete;
  SectionGuard& operator=(const SectionGuard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace vask
