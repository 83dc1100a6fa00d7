#include "host/core/control_adapter.h"

#include <utility>

#include "host/core/host_core.h"

namespace vask::host {

namespace {

PluginControl* Self(HostControl* control) { return reinterpret_cast<PluginControl*>(control); }

int32_t VASK_HOST_CALL EntryPluginId(HostControl* c) { return Self(c)->PluginId(); }
HMODULE VASK_HOST_CALL EntryModuleHandle(HostControl* c) { return Self(c)->ModuleHandle(); }
void VASK_HOST_CALL EntrySetError(HostControl* c, int32_t code) { Self(c)->SetError(code); }
intptr_t VASK_HOST_CALL EntrySendToHost(HostControl* c, HostMessage* m) {
  return Self(c)->SendToHost(m);
}
intptr_t VASK_HOST_CALL EntrySendToPlugin(HostControl* c, int32_t receiver, HostMessage* m) {
  return Self(c)->SendToPlugin(receiver, m);
}
int32_t VASK_HOST_CALL EntryRowIndex(HostControl* c, int32_t table, int32_t row) {
  return Self(c)->RowIndex(table, row);
}
void VASK_HOST_CALL EntryPumpMessages(HostControl* c) { Self(c)->PumpMessages(); }
char* VASK_HOST_CALL EntryTempBuffer(HostControl* c, int32_t size) {
  return Self(c)->TempBuffer(size);
}
void VASK_HOST_CALL EntryGetValue(HostControl* c, int32_t table, int32_t row, int32_t column,
                                  ValueRecord* value) {
  Self(c)->GetValue(table, row, column, value);
}
void VASK_HOST_CALL EntrySetValue(HostControl* c, int32_t table, int32_t row, int32_t column,
                                  ValueRecord* value) {
  Self(c)->SetValue(table, row, column, value);
}
HANDLE VASK_HOST_CALL EntryBeginThread(HostControl* c, void* security, uint32_t stackSize,
                                       HostThreadRoutine routine, void* argument, uint32_t flags,
                                       uint32_t* threadId) {
  return Self(c)->BeginThread(security, stackSize, routine, argument, flags, threadId);
}
template <int Slot>
void VASK_HOST_CALL EntryUnused(HostControl* c) {
  Self(c)->Unused(Slot);
}

template <int... Slots>
void PlaceUnused(void* (&table)[kControlSlotCount], std::integer_sequence<int, Slots...>) {
  ((table[Slots] = reinterpret_cast<void*>(&EntryUnused<Slots>)), ...);
}

void* const* Table() {
  static void* table[kControlSlotCount];
  static const bool filled = [] {
    PlaceUnused(table, std::make_integer_sequence<int, kControlSlotCount>());
    PlaceServices(
        table, HostServices{&EntryPluginId, &EntryModuleHandle, &EntrySetError, &EntrySendToHost,
                            &EntrySendToPlugin, &EntryRowIndex, &EntryPumpMessages,
                            &EntryTempBuffer, &EntryGetValue, &EntrySetValue, &EntryBeginThread});
    return true;
  }();
  (void)filled;
  return table;
}

}  // namespace

PluginControl::PluginControl(HostCore* core, int id) : core_(core), id_(id) {
  front_.table = Table();
}

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

void PluginControl::Unused(int slot) { core_->RecordService(id_, "Reserved", slot); }

}  // namespace vask::host
