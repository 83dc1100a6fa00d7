#include "host/commands/details_fetches.h"

#include <ctime>

#include "win32.h"

namespace vask::host {

void DetailsFetches::Started(int contact, long long now) {
  vask::MutexLock lock(mutex_);
  deadlines_[contact] = now + kBoundSeconds;
}

void DetailsFetches::Answered(int contact) {
  vask::MutexLock lock(mutex_);
  deadlines_.erase(contact);
}

std::vector<int> DetailsFetches::Expired(long long now) {
  vask::MutexLock lock(mutex_);
  std::vector<int> expired;
  for (auto it = deadlines_.begin(); it != deadlines_.end();) {
    if (it->second <= now) {
      expired.push_back(it->first);
      it = deadlines_.erase(it);
    } else {
      ++it;
    }
  }
  return expired;
}

bool DetailsFetches::Waiting() {
  vask::MutexLock lock(mutex_);
  return !deadlines_.empty();
}

long long HostClockSeconds() {
  return static_cast<long long>(std::time(nullptr)) + VaskAdvanceClock(0);
}

}  // namespace vask::host
