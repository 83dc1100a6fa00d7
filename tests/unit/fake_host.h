// A small HostControl for unit tests of the shell's operations: it keeps a
// byte copy of every record the plug-in hands over, answers from tables the
// test fills, and lets a test replace an answer or a thread start.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "base/host_api.h"
#include "abi/host_control.h"

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
  std::vector<uint8_t> p1;  // the record behind p1, for the ids that carry one
  std::string p1Text;  // p1 as a text, for the ids that carry one
};

struct ValueCall {
  bool set = false;
  int table = 0;
  int row = 0;
  int column = 0;
  ValueRecord value{};
};

class FakeHost : public HostControl {
 public:
  int Reserved0() override { return 0; }
  int Reserved1() override { return 0; }
  int PluginId() override { return pluginId; }
  HMODULE ModuleHandle() override { return module; }
  int Reserved4() override { return 0; }
  void SetError(int code) override {
    std::lock_guard lock(mutex);
    errors.push_back(code);
  }
  int Reserved6() override { return 0; }
  intptr_t SendToHost(HostMessage* message) override { return Record(0, message); }
  intptr_t SendToPlugin(int receiver, HostMessage* message) override { return Record(receiver, message); }
  int Reserved9() override { return 0; }
  int RowIndex(int table, int row) override {
    std::lock_guard lock(mutex);
    rowIndexCalls.push_back({table, row});
    return row;
  }
  void PumpMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    std::lock_guard lock(mutex);
    ++pumps;
  }
  int Reserved12() override { return 0; }
  char* TempBuffer(int size) override {
    std::lock_guard lock(mutex);
    buffers.emplace_back(static_cast<size_t>(size), '\x7f');
    return buffers.back().data();
  }
  void GetValue(int table, int row, int column, ValueRecord* value) override {
    std::lock_guard lock(mutex);
    values.push_back({false, table, row, column, *value});
    const auto key = std::make_tuple(table, row, column);
    if (value->type == kValueInt) {
      value->value = ints.count(key) ? ints[key] : 0;
    } else if (auto it = texts.find(key); it != texts.end()) {
      value->value = reinterpret_cast<intptr_t>(it->second.c_str());
    } else {
      value->value = 0;
    }
  }
  void SetValue(int table, int row, int column, ValueRecord* value) override {
    std::lock_guard lock(mutex);
    values.push_back({true, table, row, column, *value});
  }
  int Reserved16() override { return 0; }
  HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine, void* argument,
                     unsigned flags, unsigned* threadId) override {
    if (beginThread) return beginThread(routine, argument);
    (void)security;
    (void)stackSize;
    (void)flags;
    (void)threadId;
    return CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0,
                        nullptr);
  }
  int Reserved18() override { return 0; }
  int Reserved19() override { return 0; }

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

  int pluginId = 7;
  HMODULE module = reinterpret_cast<HMODULE>(static_cast<intptr_t>(0x5150));
  std::map<std::tuple<int, int, int>, int> ints;
  std::map<std::tuple<int, int, int>, std::string> texts;
  // Replaces the answer (0) to host messages; may rewrite the record.
  std::function<intptr_t(HostMessage*)> answer;
  std::function<HANDLE(HostThreadRoutine, void*)> beginThread;

  std::mutex mutex;
  std::vector<SentRecord> sent;
  std::vector<ValueCall> values;
  std::vector<int> errors;
  std::vector<std::pair<int, int>> rowIndexCalls;
  std::vector<std::string> buffers;
  int pumps = 0;

 private:
  intptr_t Record(int receiver, HostMessage* message) {
    SentRecord r;
    r.receiver = receiver;
    std::memcpy(&r.head, message, std::min<size_t>(message->size, sizeof(HostMessage)));
    r.bytes = Bytes(message, message->size);
    const int id = message->id;
    if (id == 10101 || id == 10106 || id == 10108 || id == 10110) {
      const auto* info = reinterpret_cast<const ActionInfo*>(message->p1);
      r.p1 = Bytes(info, info->size);
    } else if (id == 10117 || id == 10118) {
      r.p1 = Bytes(reinterpret_cast<const void*>(message->p1), sizeof(ActionRef));
    } else if (id == 10130) {
      r.p1 = Bytes(reinterpret_cast<const void*>(message->p1), sizeof(IconRecord));
    } else if ((id == 1 || id == 10201 || id == 10204) && message->p1 != 0) {
      r.p1Text = reinterpret_cast<const char*>(message->p1);
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
  explicit HostScope(FakeHost& host) { SetHost(&host); }
  ~HostScope() { SetHost(nullptr); }
  HostScope(const HostScope&) = delete;
  HostScope& operator=(const HostScope&) = delete;
};

}  // namespace vask::test
