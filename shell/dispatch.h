// The dispatch of host messages; IMessageProc hands every record here.
#pragma once

#include <cstdint>

#include "abi/host_records.h"

namespace vask {

intptr_t Dispatch(HostMessage* message);

}  // namespace vask
