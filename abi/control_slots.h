// Where each service of the host's control object stands in its table of
// entry points (the table the object's first word points to).
//
// The order is the host's, not ours: this is the one place to change for a
// host build that orders its table differently. The plug-in calls only the
// named slots; a host fills every slot up to kControlSlotCount, the others
// with services the plug-in never calls.
#pragma once

namespace vask {

enum ControlSlot : int {
  kSlotPluginId = 2,
  kSlotModuleHandle = 3,
  kSlotSetError = 5,
  kSlotSendToHost = 7,
  kSlotSendToPlugin = 8,
  kSlotRowIndex = 10,
  kSlotPumpMessages = 11,
  kSlotTempBuffer = 13,
  kSlotGetValue = 14,
  kSlotSetValue = 15,
  kSlotBeginThread = 17,
  kControlSlotCount = 20,
};

}  // namespace vask
