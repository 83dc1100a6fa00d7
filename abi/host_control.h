// HostControl: the host's control object, handed over with host message 20001.
//
// Its first word points to the host's table of entry points; the services
// the plug-in uses stand at the slots of abi/control_slots.h, the others it
// never calls. Each service is called with the control object itself as its
// first argument, before the service's own arguments (VASK_HOST_CALL). Every
// service must be callable from any thread: host threads, the worker,
// sending threads and the search thread all call in. The plug-in takes no
// lock around them.
#pragma once

#include <cstdint>

#include "abi/control_slots.h"
#include "abi/host_ids.h"
#include "abi/host_records.h"

// How every service of the control object is called: the object is the
// first argument on the stack, like the others, and the service removes
// them all; on 32-bit x86 that is the standard call convention. A C++
// member call would hand the object over in a register instead (thiscall),
// which a host does not expect; so the table is called through plain
// function pointers of this convention. 64-bit x86 has one convention.
#if defined(__i386__) || defined(_M_IX86)
#define VASK_HOST_CALL __attribute__((stdcall))
#else
#define VASK_HOST_CALL
#endif

namespace vask {

// The start routine of a host thread: one pointer argument, 32-bit result.
typedef unsigned(WINAPI* HostThreadRoutine)(void* argument);

struct HostControl;

// The entry points' types, the object first.
namespace host_service {
typedef int32_t(VASK_HOST_CALL* PluginId)(HostControl*);
typedef HMODULE(VASK_HOST_CALL* ModuleHandle)(HostControl*);
typedef void(VASK_HOST_CALL* SetError)(HostControl*, int32_t code);
typedef intptr_t(VASK_HOST_CALL* SendToHost)(HostControl*, HostMessage* message);
typedef intptr_t(VASK_HOST_CALL* SendToPlugin)(HostControl*, int32_t receiver,
                                               HostMessage* message);
typedef int32_t(VASK_HOST_CALL* RowIndex)(HostControl*, int32_t table, int32_t row);
typedef void(VASK_HOST_CALL* PumpMessages)(HostControl*);
typedef char*(VASK_HOST_CALL* TempBuffer)(HostControl*, int32_t size);
typedef void(VASK_HOST_CALL* GetValue)(HostControl*, int32_t table, int32_t row, int32_t column,
                                       ValueRecord* value);
typedef void(VASK_HOST_CALL* SetValue)(HostControl*, int32_t table, int32_t row, int32_t column,
                                       ValueRecord* value);
typedef HANDLE(VASK_HOST_CALL* BeginThread)(HostControl*, void* security, uint32_t stackSize,
                                            HostThreadRoutine routine, void* argument,
                                            uint32_t flags, uint32_t* threadId);
}  // namespace host_service

// The object as the plug-in sees it: the table pointer, and a member per
// service that calls the table's entry.
struct HostControl {
  void* const* table;

  // The id under which the host knows this plug-in.
  int PluginId() { return Entry<host_service::PluginId>(kSlotPluginId)(this); }
  // The plug-in's module handle as the host loaded it.
  HMODULE ModuleHandle() { return Entry<host_service::ModuleHandle>(kSlotModuleHandle)(this); }
  void SetError(int code) { Entry<host_service::SetError>(kSlotSetError)(this, code); }
  // The message's answer; the host may also write answers into the record.
  intptr_t SendToHost(HostMessage* message) {
    return Entry<host_service::SendToHost>(kSlotSendToHost)(this, message);
  }
  // The receiving plug-in's answer.
  intptr_t SendToPlugin(int receiver, HostMessage* message) {
    return Entry<host_service::SendToPlugin>(kSlotSendToPlugin)(this, receiver, message);
  }
  // Non-zero when the row exists; the plug-in tests only for 0.
  int RowIndex(int table, int row) {
    return Entry<host_service::RowIndex>(kSlotRowIndex)(this, table, row);
  }
  // Processes the calling thread's pending window messages (input).
  void PumpMessages() { Entry<host_service::PumpMessages>(kSlotPumpMessages)(this); }
  // A host-owned buffer of `size` bytes that outlives the current call.
  char* TempBuffer(int size) {
    return Entry<host_service::TempBuffer>(kSlotTempBuffer)(this, size);
  }
  // Table 0 = settings (row 0), 1 = contacts (row = contact id, 0 = own).
  void GetValue(int table, int row, int column, ValueRecord* value) {
    Entry<host_service::GetValue>(kSlotGetValue)(this, table, row, column, value);
  }
  void SetValue(int table, int row, int column, ValueRecord* value) {
    Entry<host_service::SetValue>(kSlotSetValue)(this, table, row, column, value);
  }
  // A waitable handle of the new thread, or null when it cannot be started.
  HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine, void* argument,
                     unsigned flags, unsigned* threadId) {
    return Entry<host_service::BeginThread>(kSlotBeginThread)(this, security, stackSize, routine,
                                                              argument, flags, threadId);
  }

 private:
  template <class Service>
  Service Entry(int slot) const {
    return reinterpret_cast<Service>(table[slot]);
  }
};

// For hosts built from this project (the stand-in host, the tests' fake):
// their entry points, placed into a table at the slots above.
struct HostServices {
  host_service::PluginId pluginId;
  host_service::ModuleHandle moduleHandle;
  host_service::SetError setError;
  host_service::SendToHost sendToHost;
  host_service::SendToPlugin sendToPlugin;
  host_service::RowIndex rowIndex;
  host_service::PumpMessages pumpMessages;
  host_service::TempBuffer tempBuffer;
  host_service::GetValue getValue;
  host_service::SetValue setValue;
  host_service::BeginThread beginThread;
};

// Fills `table` with the services at their slots; every other slot keeps
// what the caller put there (the services the plug-in never calls).
inline void PlaceServices(void* (&table)[kControlSlotCount], const HostServices& s) {
  table[kSlotPluginId] = reinterpret_cast<void*>(s.pluginId);
  table[kSlotModuleHandle] = reinterpret_cast<void*>(s.moduleHandle);
  table[kSlotSetError] = reinterpret_cast<void*>(s.setError);
  table[kSlotSendToHost] = reinterpret_cast<void*>(s.sendToHost);
  table[kSlotSendToPlugin] = reinterpret_cast<void*>(s.sendToPlugin);
  table[kSlotRowIndex] = reinterpret_cast<void*>(s.rowIndex);
  table[kSlotPumpMessages] = reinterpret_cast<void*>(s.pumpMessages);
  table[kSlotTempBuffer] = reinterpret_cast<void*>(s.tempBuffer);
  table[kSlotGetValue] = reinterpret_cast<void*>(s.getValue);
  table[kSlotSetValue] = reinterpret_cast<void*>(s.setValue);
  table[kSlotBeginThread] = reinterpret_cast<void*>(s.beginThread);
}

}  // namespace vask
