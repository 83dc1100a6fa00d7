// Events handed from the threads that write them to one thread that shows
// them (the terminal): a queue with a descriptor that polls readable while
// events wait or once the queue is closed, so the reader can wait on it
// together with its other input.
#pragma once

#include <deque>
#include <mutex>
#include <optional>

#include "host/events/host_event.h"

namespace vask::host {

class EventQueue {
 public:
  EventQueue();
  ~EventQueue();
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  void Push(EventJson event);
  // No more events: the reader ends once it has taken the waiting ones.
  void Close();
  // The next event without waiting; nullopt when none waits.
  std::optional<EventJson> Pop();
  bool Closed();
  // Readable while events wait or the queue is closed.
  int waitFd() const { return pipe_[0]; }

 private:
  std::mutex mutex_;  // everything below
  std::deque<EventJson> events_;
  bool closed_ = false;
  bool signalled_ = false;  // a byte lies in the pipe
  int pipe_[2] = {-1, -1};
};

}  // namespace vask::host
