// Where computers that listen for UDP frames were last heard: the name a
// frame gave as its sender, its IPv4 address, and when. A datagram to one
// computer goes by UDP only to a computer found here. Bounded: a new name
// beyond kEntries pushes out the one heard from longest ago. Thread-safe:
// the worker learns, every sending thread looks up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "base/critical_section.h"
#include "base/thread_annotations.h"

namespace vask {

class AddressBook {
 public:
  static constexpr size_t kEntries = 256;        // not a host number: a bound
  static constexpr int64_t kLifetime = 15 * 60;  // seconds an address is believed

  // Remembers (or refreshes) `name` at `address` (host byte order), heard
  // at `now` (seconds). Names match without regard to ASCII case.
  void Learn(const std::string& name, uint32_t address, int64_t now) EXCLUDES(lock_);
  // The address of `name` heard within kLifetime before `now`, or 0.
  uint32_t Find(const std::string& name, int64_t now) const EXCLUDES(lock_);
  size_t Size() const EXCLUDES(lock_);
  void Clear() EXCLUDES(lock_);

 private:
  struct Entry {
    uint32_t address;
    int64_t heard;
    uint64_t tick;
  };
  mutable CriticalSection lock_;
  std::map<std::string, Entry> entries_ GUARDED_BY(lock_);
  uint64_t tick_ GUARDED_BY(lock_) = 0;
};

}  // namespace vask
