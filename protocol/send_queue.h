// The order of messages to one computer. The host hands each message over
// on a thread of its own, and threads run in any order: a conversation
// typed quickly would arrive shuffled. So the first thread that sends to a
// computer also sends, one after another, the messages to it handed over
// while it runs; the others wait in this queue, oldest first.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "base/critical_section.h"

namespace vask {

class SendQueue {
 public:
  // Queues `record` behind the messages to `computer` that a thread is
  // sending; false when none is (the caller sends it on a new thread, and
  // that thread is from then on the computer's sender).
  bool QueueBehind(const std::string& computer, MessageRecord* record) EXCLUDES(lock_);
  // The sender's next message to `computer`, or null: then the computer has
  // no sender any more, and the next message starts one.
  MessageRecord* Next(const std::string& computer) EXCLUDES(lock_);
  // A sender that could not start: the computer has no sender, and the
  // messages queued behind it are returned for the caller to fail.
  std::vector<MessageRecord*> Abandon(const std::string& computer) EXCLUDES(lock_);

 private:
  CriticalSection lock_;
  // By computer name, case folded: the messages waiting for its
  // sender. A computer is here exactly while a thread sends to it.
  std::map<std::string, std::deque<MessageRecord*>> waiting_ GUARDED_BY(lock_);
};

// The plug-in's one queue.
SendQueue& OutgoingQueue();

}  // namespace vask
