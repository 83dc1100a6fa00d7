#include "host/control_adapter.h"

#include "host/host_core.h"

namespace vask::host {

int PluginControl::PluginId() {
  core_->RecordService(id_, "PluginId", 0, 0, 0, 0, id_);
  return id_;
}

HMODULE PluginControl::ModuleHandle() { return core_->ServeModuleHandle(id_); }

void PluginControl::SetError(int code) { core_->ServeSetError(id_, code); }

intptr_t PluginControl::SendToHost(HostMessage* message) {
  return core_->ServeSendToHost(id_, message);
}

intptr_t PluginControl::SendToPlugin(int receiver, HostMessage* message) {
  return core_->ServeSendToPlugin(id_, receiver, message);
}

int PluginControl::RowIndex(int table, int row) { return core_->ServeRowIndex(id_, table, row); }

void PluginControl::PumpMessages() { core_->ServePumpMessages(id_); }

char* PluginControl::TempBuffer(int size) { return core_->ServeTempBuffer(id_, size); }

void PluginControl::GetValue(int table, int row, int column, ValueRecord* value) {
  core_->ServeGetValue(id_, table, row, column, value);
}

void PluginControl::SetValue(int table, int row, int column, ValueRecord* value) {
  core_->ServeSetValue(id_, table, row, column, value);
}

HANDLE PluginControl::BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine,
                                  void* argument, unsigned flags, unsigned* threadId) {
  return core_->ServeBeginThread(id_, security, stackSize, routine, argument, flags, threadId);
}

int PluginControl::Reserved(int slot) {
  core_->RecordService(id_, "Reserved", slot);
  return 0;
}

}  // namespace vask::host
