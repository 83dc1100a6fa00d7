#include "host/core/notices.h"

namespace vask::host {

void Notices::Open(const Notice& notice) {
  vask::MutexLock lock(mutex_);
  notices_.push_back(notice);
}

void Notices::Close(const SearchStatusRecord* record) {
  vask::MutexLock lock(mutex_);
  for (auto it = notices_.begin(); it != notices_.end(); ++it) {
    if (it->record == record) {
      notices_.erase(it);
      return;
    }
  }
}

std::vector<Notice> Notices::open() const {
  vask::MutexLock lock(mutex_);
  return notices_;
}

int Notices::PressCancel() {
  vask::MutexLock lock(mutex_);
  // The record is the plug-in's and stays alive until its kMsgSearchNoticeHide returns,
  // which takes this lock to remove it: writing here is safe.
  for (Notice& n : notices_) CancelNotice(*n.record);
  return static_cast<int>(notices_.size());
}

}  // namespace vask::host
