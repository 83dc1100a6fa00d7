// A mutex that clang's thread-safety analysis knows (vask::Mutex), its
// scoped lock (vask::MutexLock) and a condition variable that waits on it
// (vask::CondVar): std::mutex and std::condition_variable with the
// attributes of thread_safety.h, for the platform library and the host.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "thread_safety.h"

namespace vask {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds a Mutex from construction to destruction; Unlock and Lock let it go
// for a while in between (around a blocking call).
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() {
    if (held_) mutex_.Unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Unlock() RELEASE() {
    mutex_.Unlock();
    held_ = false;
  }
  void Lock() ACQUIRE() {
    mutex_.Lock();
    held_ = true;
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

// Waits on a Mutex the caller holds, which it lets go while it waits and
// holds again when it returns. Wakes may be spurious: callers wait in a loop
// on their condition, which the analysis then sees read under the lock.
class CondVar {
 public:
  void Wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    changed_.wait(lock);
    lock.release();
  }
  // False when the deadline has passed.
  template <typename Clock, typename Duration>
  bool WaitUntil(Mutex& mutex, const std::chrono::time_point<Clock, Duration>& deadline)
      REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    const bool woken = changed_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void NotifyOne() noexcept { changed_.notify_one(); }
  void NotifyAll() noexcept { changed_.notify_all(); }

 private:
  std::condition_variable changed_;
};

}  // namespace vask
