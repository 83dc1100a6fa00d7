// The details fetches no reply has reached yet. A computer that is not on
// the network never answers, so a fetch ends after a bound of the host's
// clock (the one the plug-in reads, which the "clock" command turns) with a
// "details-unanswered" event, and the faces stop waiting for it.
#pragma once

#include <map>
#include <vector>

#include "mutex.h"

namespace vask::host {

class DetailsFetches {
 public:
  // How long a fetch waits for its reply.
  static constexpr long long kBoundSeconds = 10;

  // A fetch for the contact went out at `now` (a later one starts the wait
  // again). Any thread.
  void Started(int contact, long long now) EXCLUDES(mutex_);
  // A reply for the contact came. Any thread.
  void Answered(int contact) EXCLUDES(mutex_);
  // The contacts whose fetch has waited out its bound by `now`, forgotten
  // from then on.
  std::vector<int> Expired(long long now) EXCLUDES(mutex_);
  // Whether any fetch waits.
  bool Waiting() EXCLUDES(mutex_);

 private:
  vask::Mutex mutex_;  // replies come on the plug-in's threads
  std::map<int, long long> deadlines_ GUARDED_BY(mutex_);
};

// The host's clock in seconds: the system's, moved on as the plug-in's is.
long long HostClockSeconds();

}  // namespace vask::host
