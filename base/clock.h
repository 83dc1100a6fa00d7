// The plug-in's clock: Unix time in seconds as a 64-bit number on every
// build (the runtime's 32-bit time() ends in 2038). Any thread.
#pragma once

#include <cstdint>

#include "win32.h"

namespace vask {

inline int64_t UnixNow() { return static_cast<int64_t>(_time64(nullptr)); }

}  // namespace vask
