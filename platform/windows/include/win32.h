// The Win32 subset that the plug-in calls, on Windows: the system itself.
#pragma once

// std::min and std::max must stay usable beside <windows.h>.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 before windows.h, which would otherwise bring in the first
// Winsock; windows.h before the other two, which need its definitions.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <winnetwk.h>
// clang-format on

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>  // _time64
