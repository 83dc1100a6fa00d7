#include "transport/address_book.h"

#include <algorithm>

#include "base/section_guard.h"

namespace vask {

namespace {

std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

}  // namespace

void AddressBook::Learn(const std::string& name, uint32_t address, int64_t now) {
  SectionGuard guard(lock_);
  const std::string key = Key(name);
  auto it = entries_.find(key);
  if (it == entries_.end() && entries_.size() >= kEntries) {
    // A linear walk, but only when a new name finds the book full.
    auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                   [](auto& a, auto& b) { return a.second.tick < b.second.tick; });
    entries_.erase(oldest);
  }
  entries_[key] = Entry{address, now, ++tick_};
}

uint32_t AddressBook::Find(const std::string& name, int64_t now) const {
  SectionGuard guard(lock_);
  auto it = entries_.find(Key(name));
  if (it == entries_.end()) return 0;
  // A clock turned back keeps an entry no longer than kLifetime after it.
  const int64_t age = now - it->second.heard;
  return age >= -kLifetime && age <= kLifetime ? it->second.address : 0;
}

size_t AddressBook::Size() const {
  SectionGuard guard(lock_);
  return entries_.size();
}

void AddressBook::Clear() {
  SectionGuard guard(lock_);
  entries_.clear();
}

}  // namespace vask
