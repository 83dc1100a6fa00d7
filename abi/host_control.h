// HostControl: the host's control object, handed over with host message 20001.
//
// Its first word points to a table of services; the plug-in calls each with
// the object itself as the first argument (a C++ virtual call, thiscall on
// 32-bit Windows). The services the plug-in uses stand in this order, with
// reserved slots before, between and after them that it never calls; a host
// implements them all (the reserved ones may do nothing). Every service must
// be callable from any thread: host threads, the worker, sending threads and
// the search thread all call in. The plug-in takes no lock around them.
#pragma once

#include <cstdint>

#include "abi/host_ids.h"
#include "abi/host_records.h"

namespace vask {

// The start routine of a host thread: one pointer argument, 32-bit result.
typedef unsigned(WINAPI* HostThreadRoutine)(void* argument);

class HostControl {
 public:
  virtual int Reserved0() = 0;
  virtual int Reserved1() = 0;
  // The id under which the host knows this plug-in.
  virtual int PluginId() = 0;
  // The plug-in's module handle as the host loaded it.
  virtual HMODULE ModuleHandle() = 0;
  virtual int Reserved4() = 0;
  virtual void SetError(int code) = 0;
  virtual int Reserved6() = 0;
  // The message's answer; the host may also write answers into the record.
  virtual intptr_t SendToHost(HostMessage* message) = 0;
  // The receiving plug-in's answer.
  virtual intptr_t SendToPlugin(int receiver, HostMessage* message) = 0;
  virtual int Reserved9() = 0;
  // Non-zero when the row exists; the plug-in tests only for 0.
  virtual int RowIndex(int table, int row) = 0;
  // Processes the calling thread's pending window messages (input).
  virtual void PumpMessages() = 0;
  virtual int Reserved12() = 0;
  // A host-owned buffer of `size` bytes that outlives the current call.
  virtual char* TempBuffer(int size) = 0;
  // Table 0 = settings (row 0), 1 = contacts (row = contact id, 0 = own).
  virtual void GetValue(int table, int row, int column, ValueRecord* value) = 0;
  virtual void SetValue(int table, int row, int column, ValueRecord* value) = 0;
  virtual int Reserved16() = 0;
  // A waitable handle of the new thread, or null when it cannot be started.
  virtual HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine,
                             void* argument, unsigned flags, unsigned* threadId) = 0;
  virtual int Reserved18() = 0;
  virtual int Reserved19() = 0;
};

}  // namespace vask
