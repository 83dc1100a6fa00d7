// The services of the control object (HostControl), as PluginControl
// forwards them with the calling plug-in's id. Each is recorded in the call
// log before it returns.
#include <algorithm>
#include <cstring>

#include "host/core/host_answers.h"
#include "host/core/host_core.h"

namespace vask::host {

namespace {

// The host's start routine around the plug-in's: when it returns, the
// thread runs host code only, so the library may be unloaded.
struct ThreadStart {
  HostCore* core;
  int plugin;
  HostThreadRoutine routine;
  void* argument;
};

DWORD WINAPI RunPluginThread(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  DWORD result = start.routine(start.argument);
  start.core->ReleaseThreadBuffers();
  start.core->ThreadEnded(start.plugin);
  return result;
}

RecordedCall CallOf(int plugin, const char* service) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = service;
  return call;
}

// A table cell's address, as GetValue and SetValue record it.
RecordedCall CellCall(int plugin, const char* service, int table, int row, int column) {
  RecordedCall call = CallOf(plugin, service);
  call.message.p1 = table;
  call.message.p2 = row;
  call.message.p3 = column;
  AddInt(call, "table", table);
  AddInt(call, "row", row);
  AddInt(call, "column", column);
  return call;
}

}  // namespace

void HostCore::RecordService(int plugin, const char* service, intptr_t a1, intptr_t a2, intptr_t a3,
                             intptr_t a4, intptr_t answer) {
  RecordedCall call = CallOf(plugin, service);
  call.message.p1 = a1;
  call.message.p2 = a2;
  call.message.p3 = a3;
  call.message.p4 = a4;
  call.answer = answer;
  calls_.Add(std::move(call));
}

HMODULE HostCore::ServeModuleHandle(int plugin) {
  HMODULE module = nullptr;
  {
    vask::MutexLock lock(mutex_);
    if (Loaded* p = Find(plugin)) module = static_cast<HMODULE>(p->library.handle);
  }
  RecordService(plugin, "ModuleHandle", 0, 0, 0, 0, reinterpret_cast<intptr_t>(module));
  return module;
}

void HostCore::ServeSetError(int plugin, int code) {
  reports_.AddError(code);
  RecordService(plugin, "SetError", code);
}

int HostCore::ServeRowIndex(int plugin, int table, int row) {
  // Row 0 is the own entry, whose index is 0; other rows answer their id.
  int answer = row > 0 && tables_.RowExists(table, row) ? row : 0;
  RecordService(plugin, "RowIndex", table, row, 0, 0, answer);
  return answer;
}

void HostCore::ServePumpMessages(int plugin) {
  MSG msg;
  int drained = 0;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ++drained;
  std::function<void()> handler;
  {
    vask::MutexLock lock(mutex_);
    ++pumps_;
    handler = pumpHandler_;
  }
  RecordService(plugin, "PumpMessages", drained);
  if (handler) handler();
}

char* HostCore::ServeTempBuffer(int plugin, int size) {
  char* buffer = buffers_.Temp(size);
  RecordService(plugin, "TempBuffer", size, 0, 0, 0, reinterpret_cast<intptr_t>(buffer));
  return buffer;
}

HANDLE HostCore::ServeBeginThread(int plugin, void* security, unsigned stackSize,
                                  HostThreadRoutine routine, void* argument, unsigned flags,
                                  unsigned* threadId) {
  bool fail = false;
  {
    vask::MutexLock lock(mutex_);
    if (failThreads_ > 0) {
      --failThreads_;
      fail = true;
    }
  }
  HANDLE thread = nullptr;
  if (!fail && routine) {
    {
      vask::MutexLock lock(mutex_);
      if (Loaded* p = Find(plugin)) ++p->threads;
    }
    auto* start = new ThreadStart{this, plugin, routine, argument};
    thread = CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, RunPluginThread,
                          start, flags, reinterpret_cast<LPDWORD>(threadId));
    if (!thread) {
      delete start;
      ThreadEnded(plugin);
    }
  }
  RecordService(plugin, "BeginThread", reinterpret_cast<intptr_t>(routine),
                reinterpret_cast<intptr_t>(argument), flags, 0, reinterpret_cast<intptr_t>(thread));
  return thread;
}

void HostCore::ThreadEnded(int plugin) {
  // Notified under the lock: once the count reaches 0 the waiter may destroy
  // the core, so this thread must be done with it before the waiter can run.
  vask::MutexLock lock(mutex_);
  if (Loaded* p = Find(plugin)) --p->threads;
  threadsChanged_.NotifyAll();
}

void HostCore::ServeGetValue(int plugin, int table, int row, int column, ValueRecord* value) {
  RecordedCall call = CellCall(plugin, "GetValue", table, row, column);
  if (value) {
    AddInt(call, "type", value->type);
    if (value->type == kValueText) {
      std::string text = tables_.GetText(table, row, column);
      if (value->value && value->bufferSize > 0) {
        size_t n = std::min(text.size(), static_cast<size_t>(value->bufferSize) - 1);
        char* buffer = reinterpret_cast<char*>(value->value);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        AddText(call, "value", std::string(text, 0, n).c_str());
      } else {
        value->value = reinterpret_cast<intptr_t>(KeepText(text));
        AddText(call, "value", text.c_str());
      }
    } else {
      int64_t number = tables_.GetInt(table, row, column);
      value->value = static_cast<intptr_t>(number);
      AddInt(call, "value", number);
    }
  }
  calls_.Add(std::move(call));
}

void HostCore::ServeSetValue(int plugin, int table, int row, int column, ValueRecord* value) {
  RecordedCall call = CellCall(plugin, "SetValue", table, row, column);
  if (value) {
    AddInt(call, "type", value->type);
    if (value->type == kValueText) {
      std::string text = TextOf(value->value);
      tables_.SetText(table, row, column, text);
      AddText(call, "value", text.c_str());
    } else {
      tables_.SetInt(table, row, column, value->value);
      AddInt(call, "value", value->value);
    }
  }
  calls_.Add(std::move(call));
}

intptr_t HostCore::ServeSendToPlugin(int plugin, int receiver, HostMessage* message) {
  RecordedCall call = CallOf(plugin, "SendToPlugin");
  CopyHead(message, call);
  AddInt(call, "receiver", receiver);
  call.answer = message ? Call(receiver, message) : 0;
  const intptr_t answer = call.answer;
  calls_.Add(std::move(call));
  return answer;
}

AnswerContext HostCore::AnswerParts() {
  return {*this, tables_, declared_, reports_, notices_, details_, options_.verbose};
}

intptr_t HostCore::ServeSendToHost(int plugin, HostMessage* message) {
  RecordedCall call = CallOf(plugin, "SendToHost");
  if (!message) {
    calls_.Add(std::move(call));
    return 0;
  }
  CopyHead(message, call);
  const HostAnswer* row = FindHostAnswer(call.id);
  if (row && row->decode) row->decode(message, call);
  AnswerHook hook;
  {
    vask::MutexLock lock(mutex_);
    auto it = hooks_.find(Unpacked(message->id));
    if (it != hooks_.end()) hook = it->second;
  }
  std::optional<intptr_t> answer;
  if (hook) answer = hook(message);
  if (answer) {
    call.answer = *answer;
  } else {
    // A hook may have rewritten the record, its id too: the standard answer
    // is that of the record as it stands now.
    const HostAnswer* standard = FindHostAnswer(message->id);
    AnswerContext parts = AnswerParts();
    call.answer = standard && standard->answer ? standard->answer(parts, message, call) : 0;
  }
  RecordedCall copy = call;
  calls_.Add(std::move(call));
  // The host event follows the call that caused it.
  if (row && row->event) Emit(row->event, copy);
  return copy.answer;
}

}  // namespace vask::host
