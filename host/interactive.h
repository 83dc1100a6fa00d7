// vask-host's interactive front end, chosen when standard input is a
// terminal: a line editor with history and completion, typed lines turned
// into the scripted mode's commands, and its JSON events shown as text for a
// person ("[HH:MM] NAME: text", contacts with their status names, notices).
//
// The scripted mode stays the one place that runs commands: the terminal
// thread only translates lines and renders the event lines it reads back.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/host_core.h"
#include "host/script_host.h"

namespace vask::host {

// The status name a person reads for a host status number.
std::string StatusName(int status);

// What one typed line becomes: scripted commands to run, a text to show at
// once (usage, help), and whether the session ends.
struct Translation {
  std::vector<std::string> commands;
  std::string reply;
};

// What the front end remembers between lines: the contact names (for
// completion and for naming status changes) and the current partner, whom a
// line without a leading "/" goes to.
struct FrontState {
  std::map<long long, std::string> contacts;  // contact id -> computer
  std::string partner;
  std::string computer;
};

Translation TranslateLine(const std::string& typed, FrontState& state);
// One event line as text; empty when a person need not see it.
std::string RenderEvent(const std::string& json, FrontState& state);

// Runs the terminal until the event stream `eventsFd` ends. Each command goes
// to `submit`; the end of input submits "quit".
void RunTerminal(int eventsFd, const std::function<void(const std::string&)>& submit);

// "chat <text>": the text goes to the plug-in as a chat command (20100, a
// message record of type 1 with flag bit 2). False when the line is not one.
bool RunChatCommand(ScriptHost& host, HostCore& core, int plugin, const std::string& line);

}  // namespace vask::host
