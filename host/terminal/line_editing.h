// vask-host's terminal front end, chosen when standard input is a terminal:
// a line editor (GNU readline) with history and completion in front of the
// scripted mode. Typed lines become scripted commands (terminal_commands.h),
// and the scripted mode's events come back through a queue to be shown as
// text (event_rendering.h) above the line being edited.
//
// The scripted mode stays the one place that runs commands: the terminal
// thread only translates lines and renders the events it takes.
#pragma once

#include <functional>
#include <string>

#include "host/events/event_queue.h"

namespace vask::host {

struct TerminalOptions {
  // Quiet time after which the plug-in is told the user is away (auto-away
  // begins; a key ends it); zero: never.
  int awaySeconds = 600;
};

// Runs the terminal until `events` is closed and drained. Each command goes
// to `submit`; the end of input submits "quit". The prompt names the current
// partner ("BOB> "). The history is kept in ~/.vask_host_history.
void RunTerminal(EventQueue& events, const std::function<void(const std::string&)>& submit,
                 const TerminalOptions& options = {});

}  // namespace vask::host
