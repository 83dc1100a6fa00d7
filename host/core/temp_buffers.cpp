#include "host/core/temp_buffers.h"

namespace vask::host {

ThreadBuffers::Rings& ThreadBuffers::Mine() {
  vask::MutexLock lock(mutex_);
  auto& slot = threads_[GetCurrentThreadId()];
  if (!slot) slot = std::make_unique<Rings>();
  return *slot;  // used by this thread only
}

char* ThreadBuffers::Temp(int size) {
  Rings& rings = Mine();
  std::vector<char>& slot = rings.temp[rings.nextTemp++ % kTempRing];
  slot.assign(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
  return slot.data();
}

const char* ThreadBuffers::Keep(std::string_view text) {
  Rings& rings = Mine();
  std::string& slot = rings.texts[rings.nextText++ % kTextRing];
  slot.assign(text);
  return slot.c_str();
}

void ThreadBuffers::Release() {
  std::unique_ptr<Rings> gone;  // freed after the lock is left
  vask::MutexLock lock(mutex_);
  auto it = threads_.find(GetCurrentThreadId());
  if (it == threads_.end()) return;
  gone = std::move(it->second);
  threads_.erase(it);
}

size_t ThreadBuffers::threadCount() const {
  vask::MutexLock lock(mutex_);
  return threads_.size();
}

}  // namespace vask::host
