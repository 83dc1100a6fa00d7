// The scripted commands over the host itself: the own status, contacts and
// the ignore list, messages and chat commands, settings, the history, the
// wait, the test clock, help and quit. Rows of the command table
// (command_table.h); each takes the line's words as its row splits them.
#pragma once

#include <string>
#include <vector>

#include "host/commands/script_host.h"

namespace vask::host {

using Words = std::vector<std::string>;

void RunStatus(ScriptHost& host, const Words& words);
void RunDescribe(ScriptHost& host, const Words& words);
void RunAwayOrBack(ScriptHost& host, const Words& words);
// add, remove, ignore, unignore: one computer each.
void RunContactCommand(ScriptHost& host, const Words& words);
void RunSend(ScriptHost& host, const Words& words);
void RunChat(ScriptHost& host, const Words& words);
void RunMsg(ScriptHost& host, const Words& words);
// set and get.
void RunSetting(ScriptHost& host, const Words& words);
void RunContacts(ScriptHost& host, const Words& words);
void RunCancel(ScriptHost& host, const Words& words);
// details <computer> (the fetch) and details open|close <computer>.
void RunDetails(ScriptHost& host, const Words& words);
void RunHistory(ScriptHost& host, const Words& words);
void RunWait(ScriptHost& host, const Words& words);
// clock +SECONDS: the plug-in's clock moves on in this process (tests and
// automation only).
void RunClock(ScriptHost& host, const Words& words);
void RunHelp(ScriptHost& host, const Words& words);
void RunQuit(ScriptHost& host, const Words& words);

}  // namespace vask::host
