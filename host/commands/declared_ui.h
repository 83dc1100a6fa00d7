// vask-host's status menu, settings page and contact actions, built from
// what the plug-in declared (kMsgAddItem items, kMsgDefineColumn columns), not from a copy in
// the host: "menu", "page" and "action".
#pragma once

#include <string>
#include <vector>

#include "host/commands/script_host.h"
#include "host/core/host_core.h"

namespace vask::host {

// "menu [n|text]", "page [column value | press action]", "action id
// computer|me": rows of the command table (command_table.h).
void RunMenu(ScriptHost& host, const std::vector<std::string>& words);
void RunPage(ScriptHost& host, const std::vector<std::string>& words);
void RunAction(ScriptHost& host, const std::vector<std::string>& words);

}  // namespace vask::host
