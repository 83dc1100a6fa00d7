// The GetLastError codes the bridge hands back to local clients. The
// bridge is a program of its own and does not link the Win32 subset; the
// values are Win32's.
#pragma once

#include <cstdint>

namespace vask::bridge {

inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_BAD_NETPATH = 53;

}  // namespace vask::bridge
