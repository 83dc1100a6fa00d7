// Holds a thread where a test wants it (inside a host answer, say, so that
// the plug-in's worker stands still) until the test opens the gate. Every
// hold is bounded, so a failing test cannot hang on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vask::test {

class Gate {
 public:
  // Waits until Open(), for 20 s at the most.
  void Hold();
  // Holds the first caller only, as Hold(); later callers pass at once.
  void HoldFirst();
  // True once a caller came to Hold() or HoldFirst(); false at the deadline.
  bool WaitEntered(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // Lets every held caller go, and every later one pass.
  void Open();

 private:
  void HoldLocked(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool open_ = false;
};

}  // namespace vask::test
