// The stand-in host's record of every call a plug-in makes into it.
//
// Each service call and each host message is kept in order with the calling
// thread and a decoded form (texts copied, so the record outlives the
// plug-in's stack). Thread-safe; tests wait on it with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/host_records.h"
#include "mutex.h"

namespace vask::host {

// One decoded field of a record. Texts are the plug-in's bytes (CP1250).
struct Field {
  enum Kind { kInt, kText, kNull };
  std::string name;
  std::string value;  // decimal text for kInt
  Kind kind = kInt;
};

struct RecordedCall {
  uint64_t sequence = 0;
  DWORD thread = 0;
  int plugin = 0;  // the calling plug-in's id
  // "SendToHost", "SendToPlugin", "GetValue", "SetValue", "BeginThread",
  // "TempBuffer", "PumpMessages", "RowIndex", "PluginId", "ModuleHandle",
  // "SetError", "Reserved".
  std::string service;
  int id = 0;  // the host message id (SendToHost, SendToPlugin), else 0
  // The record as the plug-in sent it: the head and the parameters its size
  // covers (the others stay 0). For services: p1.. hold the arguments.
  HostMessage message{};
  intptr_t answer = 0;
  std::vector<Field> fields;  // the decoded record behind the parameters

  bool IsHostMessage() const { return service == "SendToHost"; }
  const Field* Find(std::string_view name) const;
  // The field's text, "" when absent.
  std::string Text(std::string_view name) const;
  // The field's number, `fallback` when absent or not a number.
  long long Int(std::string_view name, long long fallback = 0) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
};

using CallPredicate = std::function<bool(const RecordedCall&)>;

class CallLog {
 public:
  // Appends the call (numbering it) and wakes waiters; then the listener
  // sees it, in order (listeners are called one at a time). The listener
  // must not add calls itself.
  void Add(RecordedCall call) EXCLUDES(listenerMutex_, mutex_);

  std::vector<RecordedCall> All() const;
  // Host messages (SendToHost) with this id.
  std::vector<RecordedCall> HostMessages(int id) const;
  size_t Count(int id) const;
  std::optional<RecordedCall> Last(int id) const;
  size_t CountIf(const CallPredicate& predicate) const;
  // Waits until a call matching the predicate has been recorded (earlier
  // calls count too) or the deadline passes.
  std::optional<RecordedCall> WaitFor(const CallPredicate& predicate,
                                      std::chrono::milliseconds deadline) const;
  // Waits for a host message with this id that matches the predicate.
  std::optional<RecordedCall> WaitForHost(int id, std::chrono::milliseconds deadline,
                                          const CallPredicate& predicate = nullptr) const;
  // Sequence number the next call will get: waits can start after a mark.
  uint64_t Mark() const;
  void Clear();

  // Keep at most this many calls, and calls whose texts come to at most
  // this many bytes (oldest dropped; the newest call always stays); 0 sets
  // no bound.
  void SetRetention(size_t calls, size_t bytes = 0);
  void SetListener(std::function<void(const RecordedCall&)> listener);

 private:
  void Trim() REQUIRES(mutex_);

  // Taken before mutex_ (Add holds both).
  vask::Mutex listenerMutex_ ACQUIRED_BEFORE(mutex_);
  std::function<void(const RecordedCall&)> listener_ GUARDED_BY(listenerMutex_);

  mutable vask::Mutex mutex_;
  mutable vask::CondVar changed_;  // a call was added
  std::deque<RecordedCall> calls_ GUARDED_BY(mutex_);
  uint64_t next_ GUARDED_BY(mutex_) = 1;
  size_t retention_ GUARDED_BY(mutex_) = 0;
  size_t byteRetention_ GUARDED_BY(mutex_) = 0;
  size_t bytes_ GUARDED_BY(mutex_) = 0;  // FieldBytes of every kept call
};

}  // namespace vask::host
