#include "host/commands/event_outputs.h"

namespace vask::host {

void EventOutputs::Write(const EventJson& event) {
  vask::MutexLock lock(mutex_);
  for (const EventOutput& output : outputs_) output(event);
}

EventOutput LinesTo(std::FILE* out) {
  return [out](const EventJson& event) {
    std::fputs(EventLine(event).c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
  };
}

}  // namespace vask::host
