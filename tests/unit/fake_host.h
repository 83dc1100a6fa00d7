// A control object for unit tests of the operations over the host: it keeps
// a byte copy of every record the plug-in hands over, answers from the
// values the test sets (FakeControl's), and lets a test replace an answer
// or a thread start.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "abi/host_control.h"
#include "base/host_api.h"
#include "tests/support/fake_control.h"

namespace vask::test {

// Reads a little-endian integer of the record's bytes at `offset`.
template <typename T>
T At(const std::vector<uint8_t>& bytes, size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

inline std::vector<uint8_t> Bytes(const void* record, size_t size) {
  const auto* begin = static_cast<const uint8_t*>(record);
  return std::vector<uint8_t>(begin, begin + size);
}

struct SentRecord {
  int receiver = 0;  // SendToPlugin only
  HostMessage head{};
  std::vector<uint8_t> bytes;  // the record, `size` bytes
  std::vector<uint8_t> p1;     // the record behind p1, for the ids that carry one
  std::string p1Text;          // p1 as a text, for the ids that carry one
};

struct ValueCall {
  bool set = false;
  int table = 0;
  int row = 0;
  int column = 0;
  ValueRecord value{};
};

class FakeHost : public FakeControl {
 public:
  FakeHost() { module = reinterpret_cast<HMODULE>(static_cast<intptr_t>(0x5150)); }

  intptr_t SendToHost(HostMessage* message) override { return Record(0, message); }
  intptr_t SendToPlugin(int receiver, HostMessage* message) override {
    return Record(receiver, message);
  }
  void PumpMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    std::lock_guard lock(mutex);
    ++pumps;
  }
  void GetValue(int table, int row, int column, ValueRecord* value) override {
    {
      std::lock_guard lock(mutex);
      values.push_back({false, table, row, column, *value});
    }
    FakeControl::GetValue(table, row, column, value);
  }
  void SetValue(int table, int row, int column, ValueRecord* value) override {
    std::lock_guard lock(mutex);
    values.push_back({true, table, row, column, *value});
  }
  HANDLE BeginThread(void*, unsigned, HostThreadRoutine routine, void* argument, unsigned,
                     unsigned*) override {
    if (beginThread) return beginThread(routine, argument);
    return CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0,
                        nullptr);
  }

  std::vector<SentRecord> Sent(int id) {
    std::lock_guard lock(mutex);
    std::vector<SentRecord> found;
    for (const SentRecord& r : sent) {
      if (r.head.id == id) found.push_back(r);
    }
    return found;
  }
  std::vector<ValueCall> Values() {
    std::lock_guard lock(mutex);
    return values;
  }

  // Replaces the answer (0) to host messages; may rewrite the record.
  std::function<intptr_t(HostMessage*)> answer;
  std::function<HANDLE(HostThreadRoutine, void*)> beginThread;

  std::mutex mutex;
  std::vector<SentRecord> sent;
  std::vector<ValueCall> values;
  int pumps = 0;

 private:
  intptr_t Record(int receiver, HostMessage* message) {
    SentRecord r;
    r.receiver = receiver;
    std::memcpy(&r.head, message, std::min<size_t>(message->size, sizeof(HostMessage)));
    r.bytes = Bytes(message, message->size);
    switch (message->id) {
      case kMsgAddItem:
      case kMsgReadItemText:
      case kMsgSetItemStatus:
      case kMsgSetItemText: {
        const auto* info = reinterpret_cast<const ActionInfo*>(message->p1);
        r.p1 = Bytes(info, info->size);
        break;
      }
      case kMsgItemExists:
      case kMsgItemParent:
        r.p1 = Bytes(reinterpret_cast<const void*>(message->p1), sizeof(ActionRef));
        break;
      case kMsgRegisterIcon:
        r.p1 = Bytes(reinterpret_cast<const void*>(message->p1), sizeof(IconRecord));
        break;
      case kMsgLog:
      case kMsgErrorBox:
      case kMsgInfoBox:
        if (message->p1 != 0) r.p1Text = reinterpret_cast<const char*>(message->p1);
        break;
      default:
        break;
    }
    {
      std::lock_guard lock(mutex);
      sent.push_back(r);
    }
    return answer ? answer(message) : 0;
  }
};

// Installs a fake as the process-wide control object for one test.
class HostScope {
 public:
  explicit HostScope(FakeHost& host) { SetHost(host.control()); }
  ~HostScope() { SetHost(nullptr); }
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;
};

}  // namespace vask::test
