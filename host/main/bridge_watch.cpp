#include "host/main/bridge_watch.h"

#include <sys/wait.h>

#include <algorithm>
#include <utility>

#include "host/main/bridge_launch.h"

namespace vask::host {

namespace {

constexpr char kGoneRestarting[] =
    "vask-bridge przestał działać: wiadomości nie wychodzą do sieci. Uruchamiam go ponownie…";
constexpr char kGoneByHand[] =
    "vask-bridge przestał działać: wiadomości nie wychodzą do sieci, dopóki ktoś go nie "
    "uruchomi ponownie.";
constexpr char kBack[] = "vask-bridge znowu działa: sieć jest dostępna.";

// True when `child` has ended (it is reaped then); false while it runs.
bool Ended(pid_t child) {
  int status = 0;
  const pid_t reaped = waitpid(child, &status, WNOHANG);
  return reaped == child || reaped < 0;
}

}  // namespace

BridgeWatch::BridgeWatch(std::string lan, pid_t child, Tell tell)
    : lan_(std::move(lan)),
      tell_(std::move(tell)),
      child_(child),
      restarts_(child > 0),
      thread_([this] { Run(); }) {}

BridgeWatch::~BridgeWatch() {
  {
    vask::MutexLock lock(mutex_);
    stopping_ = true;
  }
  stopAsked_.NotifyAll();
  thread_.join();
}

bool BridgeWatch::Pause(std::chrono::milliseconds period) {
  vask::MutexLock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + period;
  while (!stopping_ && stopAsked_.WaitUntil(mutex_, deadline)) {
  }
  return !stopping_;
}

void BridgeWatch::Run() {
  using Clock = std::chrono::steady_clock;
  bool up = true;  // the host's start found or started one
  auto retry = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
  Clock::time_point nextTry{};
  while (Pause(kCheckEvery)) {
    // A child that ended is reaped at once: its exit is the surest sign.
    if (child_ > 0 && Ended(child_)) child_ = -1;
    const bool answers = BridgeAnswers(lan_);
    if (answers && !up) {
      up = true;
      retry = kFirstRetry;
      tell_(true, kBack);
    } else if (!answers && up) {
      up = false;
      nextTry = Clock::now();
      tell_(false, restarts_ ? kGoneRestarting : kGoneByHand);
    }
    // One that is still coming up is given its time; one that gave up is
    // tried again after a wait that doubles each time.
    if (up || !restarts_ || child_ > 0 || Clock::now() < nextTry) continue;
    child_ = SpawnBridge(lan_);
    nextTry = Clock::now() + retry;
    retry = std::min<Clock::duration>(retry * 2, kLongestRetry);
  }
}

}  // namespace vask::host
