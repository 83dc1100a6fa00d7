#include "host/events/event_queue.h"

#include <fcntl.h>
#include <unistd.h>

namespace vask::host {

EventQueue::EventQueue() {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
}

EventQueue::~EventQueue() {
  for (int fd : pipe_) {
    if (fd >= 0) close(fd);
  }
}

void EventQueue::Push(EventJson event) {
  vask::MutexLock lock(mutex_);
  events_.push_back(std::move(event));
  if (!signalled_ && pipe_[1] >= 0) {
    const char byte = 1;
    signalled_ = write(pipe_[1], &byte, 1) == 1;
  }
}

void EventQueue::Close() {
  vask::MutexLock lock(mutex_);
  closed_ = true;
  if (!signalled_ && pipe_[1] >= 0) {
    const char byte = 1;
    signalled_ = write(pipe_[1], &byte, 1) == 1;
  }
}

std::optional<EventJson> EventQueue::Pop() {
  vask::MutexLock lock(mutex_);
  if (events_.empty()) {
    // Nothing waits: the descriptor stops polling readable, unless the
    // queue is closed, which stays readable for good.
    if (signalled_ && !closed_) {
      char byte;
      signalled_ = read(pipe_[0], &byte, 1) != 1;
    }
    return std::nullopt;
  }
  EventJson event = std::move(events_.front());
  events_.pop_front();
  return event;
}

bool EventQueue::Closed() {
  vask::MutexLock lock(mutex_);
  return closed_ && events_.empty();
}

}  // namespace vask::host
