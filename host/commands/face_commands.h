// vask-host's commands for a graphical face: what it needs to draw the
// plug-in as its users see it, beyond the scripted commands. "icons" lists
// the icons the plug-in registered (icon id, kind, resource group),
// "actions" the contact actions it declared for the own entry and for a
// contact, "ignored" the ignore list, "own-details" the own entry's
// columns that searches are matched against.
#pragma once

#include <string>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// Runs the line when it is one of these commands; false otherwise.
bool RunFaceCommand(ScriptHost& host, HostCore& core, const std::string& line);
const char* FaceCommandsHelp();

}  // namespace vask::host
