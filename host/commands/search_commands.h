// vask-host's search commands (search, results, details <computer>,
// publish, own), kept beside the scripted mode that runs them.
#pragma once

#include <string>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// Runs the line when it is one of the search commands; false otherwise.
// Called on the main thread; "search" returns when the search has ended.
bool RunSearchCommand(ScriptHost& host, HostCore& core, int plugin, const std::string& line);
// The "details-updated" event after the plug-in wrote a details window.
void InstallSearchEvents(ScriptHost& host, HostCore& core);
const char* SearchCommandsHelp();

}  // namespace vask::host
