#include "tests/support/gate.h"

namespace vask::test {

void Gate::Hold() {
  std::unique_lock lock(mutex_);
  HoldLocked(lock);
}

void Gate::HoldFirst() {
  std::unique_lock lock(mutex_);
  if (entered_ > 0) return;
  HoldLocked(lock);
}

void Gate::HoldLocked(std::unique_lock<std::mutex>& lock) {
  ++entered_;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
}

bool Gate::WaitEntered(std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, deadline, [this] { return entered_ > 0; });
}

void Gate::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
  changed_.notify_all();
}

}  // namespace vask::test
