// The export. Everything else of the library is hidden.
#include <exception>

#include "abi/plugin_export.h"
#include "shell/dispatch.h"

VASK_EXPORT intptr_t VASK_EXPORT_CALL IMessageProc(vask::HostMessage* message) {
  if (message == nullptr) return 0;
  // No failure crosses the host boundary as an exception: the only ones the
  // plug-in can raise are the allocator's, and the host gets 0 for them.
  try {
    return vask::Dispatch(message);
  } catch (...) {
    return 0;
  }
}
