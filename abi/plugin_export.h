// The plug-in library's one export.
//
// The host calls IMessageProc with a HostMessage (see host_records.h for the
// rules of the boundary) on any of its threads and gets one result: a
// number, a flag, or a pointer to a NUL-terminated text that stays valid
// after the call (a constant of the library or a HostControl::TempBuffer).
// No failure crosses this boundary as an exception.
#pragma once

#include <cstdint>

#include "abi/host_records.h"

#if defined(_WIN32)
#define VASK_EXPORT extern "C" __declspec(dllexport)
#define VASK_EXPORT_CALL __stdcall
#else
#define VASK_EXPORT extern "C" __attribute__((visibility("default")))
#define VASK_EXPORT_CALL
#endif

VASK_EXPORT intptr_t VASK_EXPORT_CALL IMessageProc(vask::HostMessage* message);
