// The Win32 subset that the plug-in calls, on Windows: the system itself.
#pragma once

// std::min and std::max must stay usable beside <windows.h>.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <shellapi.h>
#include <windows.h>
#include <winnetwk.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>  // _time64
