// The control object one plug-in sees: every service forwards to the host
// core with the plug-in's id, so PluginId answers the caller's own id and the
// core knows whose call it records. The reserved slots are recorded and
// answer 0.
#pragma once

#include "abi/host_control.h"

namespace vask::host {

class HostCore;

class PluginControl final : public HostControl {
 public:
  PluginControl(HostCore* core, int id) : core_(core), id_(id) {}

  int Reserved0() override { return Reserved(0); }
  int Reserved1() override { return Reserved(1); }
  int PluginId() override;
  HMODULE ModuleHandle() override;
  int Reserved4() override { return Reserved(4); }
  void SetError(int code) override;
  int Reserved6() override { return Reserved(6); }
  intptr_t SendToHost(HostMessage* message) override;
  intptr_t SendToPlugin(int receiver, HostMessage* message) override;
  int Reserved9() override { return Reserved(9); }
  int RowIndex(int table, int row) override;
  void PumpMessages() override;
  int Reserved12() override { return Reserved(12); }
  char* TempBuffer(int size) override;
  void GetValue(int table, int row, int column, ValueRecord* value) override;
  void SetValue(int table, int row, int column, ValueRecord* value) override;
  int Reserved16() override { return Reserved(16); }
  HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine, void* argument,
                     unsigned flags, unsigned* threadId) override;
  int Reserved18() override { return Reserved(18); }
  int Reserved19() override { return Reserved(19); }

 private:
  int Reserved(int slot);  // slot: the reserved entry's place in the table

  HostCore* core_;
  int id_;
};

}  // namespace vask::host
