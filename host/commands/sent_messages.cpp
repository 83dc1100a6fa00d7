#include "host/commands/sent_messages.h"

#include "host/profile/host_tables.h"

namespace vask::host {

void SentMessages::Sent(int messageId, int64_t number, const std::string& to,
                        const std::string& body, long long now) {
  vask::MutexLock lock(mutex_);
  waiting_.push_back({messageId, number});
  if (waiting_.size() > kKept) waiting_.pop_front();
  if (to != kEverybody) return;
  toEverybody_.push_back({body, now});
  while (!toEverybody_.empty() &&
         (toEverybody_.size() > kKept || now - toEverybody_.front().sent > kEchoSeconds)) {
    toEverybody_.pop_front();
  }
}

std::optional<int64_t> SentMessages::Answered(int messageId) {
  vask::MutexLock lock(mutex_);
  for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
    if (it->messageId != messageId) continue;
    const int64_t number = it->number;
    waiting_.erase(it);
    return number;
  }
  return std::nullopt;
}

bool SentMessages::IsOwnEcho(const std::string& from, const std::string& body,
                             const std::string& own, long long now) {
  if (body.empty() || !EqualsNoCase(from, own)) return false;
  vask::MutexLock lock(mutex_);
  for (const ToEverybody& sent : toEverybody_) {
    if (now - sent.sent <= kEchoSeconds && sent.body.find(body) != std::string::npos) return true;
  }
  return false;
}

}  // namespace vask::host
