// Where the host's events go: each output (a line writer, the terminal, the
// web face) sees every event, one at a time, in the order they were written,
// whichever of the plug-in's threads wrote them.
#pragma once

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "host/events/host_event.h"
#include "mutex.h"

namespace vask::host {

using EventOutput = std::function<void(const EventJson& event)>;

class EventOutputs {
 public:
  // Outputs are added before the first event is written.
  void Add(EventOutput output) EXCLUDES(mutex_) {
    vask::MutexLock lock(mutex_);
    outputs_.push_back(std::move(output));
  }
  void Write(const EventJson& event) EXCLUDES(mutex_);

 private:
  vask::Mutex mutex_;  // also: one event at a time through the outputs
  std::vector<EventOutput> outputs_ GUARDED_BY(mutex_);
};

// An output that writes each event as one line to `out`, flushed.
EventOutput LinesTo(std::FILE* out);

}  // namespace vask::host
