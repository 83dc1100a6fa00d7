// Events handed from the threads that write them to one thread that shows
// them (the terminal): a queue with a descriptor that polls readable while
// events wait or once the queue is closed, so the reader can wait on it
// together with its other input.
#pragma once

#include <deque>
#include <optional>

#include "host/events/host_event.h"
#include "mutex.h"

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
  vask::Mutex mutex_;
  std::deque<EventJson> events_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
  bool signalled_ GUARDED_BY(mutex_) = false;  // a byte lies in the pipe
  // Made by the constructor and closed by the destructor; in between only
  // read. The bytes written to it and read from it go with signalled_.
  int pipe_[2] = {-1, -1};
};

}  // namespace vask::host
