// Checks of the Wine test host: each names what it checked, a failure says
// what was seen instead, and the run ends with "N passed, N failed".
//
// A crash inside the plug-in ends the process; the unhandled-exception
// filter names the group that was running and the code and address of the
// fault before it does. Every wait is bounded by a deadline (WaitFor).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace wine {

// The group of checks that runs now; named in every failure and crash.
void Group(const std::string& name);
// Records one check. `what` says what must hold; `format` (printf-style,
// optional) what was seen when it did not.
bool Check(bool ok, const char* what, const char* format = nullptr, ...)
    __attribute__((format(printf, 3, 4)));
// Prints the closing line and returns the process's exit code (0 when no
// check failed).
int Summary();
int FailedCount();
// Installs the filter that reports a crash with the current group.
void ReportCrashes();

// Polls `done` every 10 ms (pumping the calling thread's window messages)
// until it holds or `ms` have passed; true when it held.
bool WaitFor(const std::function<bool()>& done, DWORD ms);

// Extra output for a failed run (VASK_WINE_VERBOSE=1 prints the plug-in's
// log as it comes).
bool Verbose();

}  // namespace wine
