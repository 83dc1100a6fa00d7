#include "host/core/call_log.h"

#include <cstdlib>

namespace vask::host {

const Field* RecordedCall::Find(std::string_view name) const {
  for (const Field& f : fields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

std::string RecordedCall::Text(std::string_view name) const {
  const Field* f = Find(name);
  return f ? f->value : std::string();
}

long long RecordedCall::Int(std::string_view name, long long fallback) const {
  const Field* f = Find(name);
  if (!f || f->kind != Field::kInt) return fallback;
  return std::strtoll(f->value.c_str(), nullptr, 10);
}

namespace {

// What a kept call holds beyond its fixed part: its decoded texts.
size_t FieldBytes(const RecordedCall& call) {
  size_t bytes = call.service.size();
  for (const Field& f : call.fields) bytes += f.name.size() + f.value.size();
  return bytes;
}

}  // namespace

void CallLog::Trim() {
  while (!calls_.empty() && ((retention_ && calls_.size() > retention_) ||
                             (byteRetention_ && calls_.size() > 1 && bytes_ > byteRetention_))) {
    bytes_ -= FieldBytes(calls_.front());
    calls_.pop_front();
  }
}

void CallLog::Add(RecordedCall call) {
  // The listener lock is taken first so that listeners see calls in the
  // order of their sequence numbers.
  vask::MutexLock listenerLock(listenerMutex_);
  {
    vask::MutexLock lock(mutex_);
    call.sequence = next_++;
    bytes_ += FieldBytes(call);
    calls_.push_back(call);
    Trim();
  }
  changed_.NotifyAll();
  if (listener_) listener_(call);
}

std::vector<RecordedCall> CallLog::All() const {
  vask::MutexLock lock(mutex_);
  return {calls_.begin(), calls_.end()};
}

std::vector<RecordedCall> CallLog::HostMessages(int id) const {
  vask::MutexLock lock(mutex_);
  std::vector<RecordedCall> out;
  for (const RecordedCall& c : calls_) {
    if (c.IsHostMessage() && c.id == id) out.push_back(c);
  }
  return out;
}

size_t CallLog::Count(int id) const {
  return CountIf([id](const RecordedCall& c) { return c.IsHostMessage() && c.id == id; });
}

std::optional<RecordedCall> CallLog::Last(int id) const {
  vask::MutexLock lock(mutex_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->IsHostMessage() && it->id == id) return *it;
  }
  return std::nullopt;
}

size_t CallLog::CountIf(const CallPredicate& predicate) const {
  vask::MutexLock lock(mutex_);
  size_t n = 0;
  for (const RecordedCall& c : calls_) {
    if (predicate(c)) ++n;
  }
  return n;
}

std::optional<RecordedCall> CallLog::WaitFor(const CallPredicate& predicate,
                                             std::chrono::milliseconds deadline) const {
  auto until = std::chrono::steady_clock::now() + deadline;
  vask::MutexLock lock(mutex_);
  uint64_t checked = 0;  // every call up to this sequence number was looked at
  for (;;) {
    for (const RecordedCall& c : calls_) {
      if (c.sequence > checked && predicate(c)) return c;
    }
    if (!calls_.empty()) checked = calls_.back().sequence;
    if (std::chrono::steady_clock::now() >= until) return std::nullopt;
    changed_.WaitUntil(mutex_, until);
  }
}

std::optional<RecordedCall> CallLog::WaitForHost(int id, std::chrono::milliseconds deadline,
                                                 const CallPredicate& predicate) const {
  return WaitFor(
      [&](const RecordedCall& c) {
        return c.IsHostMessage() && c.id == id && (!predicate || predicate(c));
      },
      deadline);
}

uint64_t CallLog::Mark() const {
  vask::MutexLock lock(mutex_);
  return next_;
}

void CallLog::Clear() {
  vask::MutexLock lock(mutex_);
  calls_.clear();
  bytes_ = 0;
}

void CallLog::SetRetention(size_t calls, size_t bytes) {
  vask::MutexLock lock(mutex_);
  retention_ = calls;
  byteRetention_ = bytes;
  Trim();
}

void CallLog::SetListener(std::function<void(const RecordedCall&)> listener) {
  vask::MutexLock listenerLock(listenerMutex_);
  listener_ = std::move(listener);
}

}  // namespace vask::host
