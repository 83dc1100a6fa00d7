// The contacts' details windows the host has open. While a contact's window
// is open, kMsgItemExists answers non-zero for it, and its fields (items
// kContactWindowItemBase + column) take and give texts through
// kMsgSetItemText and kMsgReadItemText. Thread-safe (one lock).
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "mutex.h"

namespace vask::host {

// True for the item id of a contact window's field.
bool IsContactWindowItem(int id);
// The contact column a contact window's field shows.
int ContactWindowColumn(int id);

class DetailsWindows {
 public:
  void Open(int contact);  // an open window keeps its texts
  void Close(int contact);
  bool IsOpen(int contact) const;
  // "" when the window is closed or the field holds nothing.
  std::string Text(int contact, int column) const;
  // Ignored while the window is closed.
  void SetText(int contact, int column, std::string_view text);

 private:
  mutable vask::Mutex mutex_;
  std::map<int, std::map<int, std::string>> windows_ GUARDED_BY(mutex_);  // contact -> column texts
};

}  // namespace vask::host
