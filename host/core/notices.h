// The notices with a Cancel button a plug-in has open: shown with
// kMsgSearchNoticeShow, removed with kMsgSearchNoticeHide. The record is the
// plug-in's and stays valid while the notice is open, so pressing Cancel
// writes into it. Thread-safe (one lock).
#pragma once

#include <string>
#include <vector>

#include "abi/host_records.h"
#include "mutex.h"

namespace vask::host {

struct Notice {
  SearchStatusRecord* record = nullptr;  // the plug-in's, valid while open
  std::string title;
  std::string text;
  int style = 0;
  DWORD thread = 0;
};

class Notices {
 public:
  void Open(const Notice& notice);
  // Removes the notice of this record (the first when there are several).
  void Close(const SearchStatusRecord* record);
  std::vector<Notice> open() const;
  // Presses Cancel on every open notice (writes cancelled = 1); the count.
  int PressCancel();

 private:
  mutable vask::Mutex mutex_;
  std::vector<Notice> notices_ GUARDED_BY(mutex_);
};

}  // namespace vask::host
