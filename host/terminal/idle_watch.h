// When the person at the terminal has gone idle and when they are back: the
// host tells the plug-in (auto-away begins and ends) on these edges only.
#pragma once

#include <chrono>

#include "win32.h"

namespace vask::host {

// The steady clock, moved on by as much as the plug-in's clock was turned
// (VaskAdvanceClock, the scripted "clock" command): a test makes the person
// at the terminal idle by turning it rather than by waiting.
struct IdleClock {
  using duration = std::chrono::steady_clock::duration;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<IdleClock, duration>;
  static constexpr bool is_steady = false;
  static time_point now() {
    return time_point(std::chrono::steady_clock::now().time_since_epoch() +
                      std::chrono::seconds(VaskAdvanceClock(0)));
  }
};

class IdleWatch {
 public:
  using Clock = IdleClock;

  // `after` zero or less: never idle.
  IdleWatch(std::chrono::seconds after, Clock::time_point now) : after_(after), last_(now) {}

  // A key was pressed. True when this ends an idle spell.
  bool Input(Clock::time_point now) {
    last_ = now;
    const bool wasIdle = idle_;
    idle_ = false;
    return wasIdle;
  }
  // True once, when the quiet time has just reached `after`.
  bool Check(Clock::time_point now) {
    if (idle_ || after_.count() <= 0 || now - last_ < after_) return false;
    idle_ = true;
    return true;
  }
  // How long a wait for input may last before Check has news: -1 forever.
  int TimeoutMs(Clock::time_point now) const {
    if (idle_ || after_.count() <= 0) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(last_ + after_ - now);
    return left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
  }
  bool idle() const { return idle_; }

 private:
  std::chrono::seconds after_;
  Clock::time_point last_;
  bool idle_ = false;
};

}  // namespace vask::host
