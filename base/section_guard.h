// Holds a CriticalSection for one scope; the way every engine lock is taken.
#pragma once

#include "base/critical_section.h"
#include "base/thread_annotations.h"

namespace vask {

class SCOPED_CAPABILITY SectionGuard {
 public:
  explicit SectionGuard(CriticalSection& section) ACQUIRE(section) : section_(section) {
    section_.Enter();
  }
  ~SectionGuard() RELEASE() { section_.Leave(); }
  SectionGuard(const SectionGuard&) = delete;
  SectionGuard& operator=(const SectionGuard&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace vask
