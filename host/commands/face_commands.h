// vask-host's commands for a graphical face: what it needs to draw the
// plug-in as its users see it, beyond the scripted commands. "icons" lists
// the icons the plug-in registered (icon id, kind, resource group),
// "actions" the contact actions it declared for the own entry and for a
// contact, "ignored" the ignore list, "own-details" the own entry's
// columns that searches are matched against.
#pragma once

#include <string>
#include <vector>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// Rows of the command table (command_table.h); each takes no arguments.
void RunIcons(ScriptHost& host, const std::vector<std::string>& words);
void RunActions(ScriptHost& host, const std::vector<std::string>& words);
void RunIgnoredList(ScriptHost& host, const std::vector<std::string>& words);
void RunOwnDetails(ScriptHost& host, const std::vector<std::string>& words);

}  // namespace vask::host
