// CriticalSection: a Win32 critical section owned by an object, as a lock
// that clang's thread-safety analysis can follow. Re-entrant as the Win32 one
// is: the thread holding it may enter again and must leave as often. (The
// analysis itself knows no re-entrant locks: a function that enters one its
// caller may already hold is not annotated EXCLUDES.)
#pragma once

#include "base/thread_annotations.h"
#include "win32.h"

namespace vask {

class CAPABILITY("mutex") CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() ACQUIRE() { EnterCriticalSection(&section_); }
  void Leave() RELEASE() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

}  // namespace vask
