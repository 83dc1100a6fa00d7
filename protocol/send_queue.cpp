#include "protocol/send_queue.h"

#include "base/section_guard.h"
#include "base/text.h"

namespace vask {

namespace {

std::string Key(const std::string& computer) {
  std::string key = computer;
  for (char& c : key) c = FoldCase(c);
  return key;
}

}  // namespace

bool SendQueue::QueueBehind(const std::string& computer, MessageRecord* record) {
  SectionGuard guard(lock_);
  auto [found, added] = waiting_.try_emplace(Key(computer));
  if (added) return false;
  found->second.push_back(record);
  return true;
}

MessageRecord* SendQueue::Next(const std::string& computer) {
  SectionGuard guard(lock_);
  auto found = waiting_.find(Key(computer));
  if (found == waiting_.end()) return nullptr;
  if (found->second.empty()) {
    waiting_.erase(found);
    return nullptr;
  }
  MessageRecord* next = found->second.front();
  found->second.pop_front();
  return next;
}

std::vector<MessageRecord*> SendQueue::Abandon(const std::string& computer) {
  SectionGuard guard(lock_);
  auto found = waiting_.find(Key(computer));
  if (found == waiting_.end()) return {};
  std::vector<MessageRecord*> left(found->second.begin(), found->second.end());
  waiting_.erase(found);
  return left;
}

SendQueue& OutgoingQueue() {
  // Goes with the library: a sending thread still running then would be
  // running code that is gone as well.
  static SendQueue queue;
  return queue;
}

}  // namespace vask
