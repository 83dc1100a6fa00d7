// The control object one plug-in sees: its table's entry points forward to
// the host core with the plug-in's id, so PluginId answers the caller's own
// id and the core knows whose call it records. The slots the plug-in never
// calls are recorded and do nothing.
#pragma once

#include "abi/host_control.h"

namespace vask::host {

class HostCore;

class PluginControl final {
 public:
  PluginControl(HostCore* core, int id);
  PluginControl(const PluginControl&) = delete;
  PluginControl& operator=(const PluginControl&) = delete;

  // The object handed to the plug-in with host message 20001.
  HostControl* control() { return &front_; }

  // What the entry points call.
  int PluginId();
  HMODULE ModuleHandle();
  void SetError(int code);
  intptr_t SendToHost(HostMessage* message);
  intptr_t SendToPlugin(int receiver, HostMessage* message);
  int RowIndex(int table, int row);
  void PumpMessages();
  char* TempBuffer(int size);
  void GetValue(int table, int row, int column, ValueRecord* value);
  void SetValue(int table, int row, int column, ValueRecord* value);
  HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine, void* argument,
                     unsigned flags, unsigned* threadId);
  void Unused(int slot);  // slot: the entry's place in the table

 private:
  // First: the entry points find this object from the one they are handed.
  HostControl front_;
  HostCore* core_;
  int id_;
};

}  // namespace vask::host
