// Watches the machine's vask-bridge under a --real-lan host: the person is
// told when it is gone (nothing reaches the network meanwhile) and when it
// answers again. A bridge this host started is started again, the waits
// between tries doubling from 1 s up to 30 s; one started by hand or by
// another host is its starter's to restart.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "mutex.h"

namespace vask::host {

class BridgeWatch {
 public:
  // What the person is told, in Polish: the bridge is back (true) or gone.
  // Called on the watch's thread.
  using Tell = std::function<void(bool back, const std::string& text)>;
  // Watches the bridge of `lan`; `child` is the pid of the bridge this host
  // started (-1: none, so none is restarted). Starts the watch's thread.
  BridgeWatch(std::string lan, pid_t child, Tell tell);
  // Stops the thread; a bridge it started runs on, as the first one does.
  ~BridgeWatch();
  BridgeWatch(const BridgeWatch&) = delete;
  BridgeWatch& operator=(const BridgeWatch&) = delete;

  static constexpr std::chrono::milliseconds kCheckEvery{500};
  static constexpr std::chrono::seconds kFirstRetry{1};
  static constexpr std::chrono::seconds kLongestRetry{30};

 private:
  void Run();
  // Waits `period` or until the destructor asks to stop; false once asked.
  bool Pause(std::chrono::milliseconds period) EXCLUDES(mutex_);

  const std::string lan_;
  const Tell tell_;
  // The watch's thread alone: the bridge this host started last, until it
  // has been reaped; whether this host restarts bridges at all.
  pid_t child_;
  const bool restarts_;
  vask::Mutex mutex_;
  vask::CondVar stopAsked_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: started once the rest is ready
};

}  // namespace vask::host
