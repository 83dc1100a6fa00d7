// vask-host's status menu, settings page and contact actions, built from
// what the plug-in declared (kMsgAddItem items, kMsgDefineColumn columns), not from a copy in
// the host: "menu", "page" and "action".
#pragma once

#include <string>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// Runs the line when it is one of these commands; false otherwise.
bool RunDeclaredUiCommand(ScriptHost& host, HostCore& core, int plugin, const std::string& line);
const char* DeclaredUiHelp();

}  // namespace vask::host
