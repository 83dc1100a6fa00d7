// vask-host's scripted mode: one command a line in, one JSON event a line
// out (flushed), every host message the plug-in sends among the events.
// Which commands there are, and what runs each, is the command table's
// (command_table.h); this runs a line through it.
//
// Commands are UTF-8; texts go to the plug-in as Windows-1250. A command
// whose text Windows-1250 cannot hold is refused with an "error" event.
// Events may come from any of the plug-in's threads; each output sees them
// one at a time, in the order they were written (event_outputs.h). The words
// of a line are read by command_line.h.
#pragma once

#include <string>
#include <utility>

#include "host/commands/command_line.h"
#include "host/commands/details_fetches.h"
#include "host/commands/event_outputs.h"
#include "host/commands/sent_messages.h"
#include "host/core/host_core.h"
#include "host/events/host_event.h"

namespace vask::host {

class ScriptHost {
 public:
  // Where events go: a line writer, the terminal, the web face.
  using Output = EventOutput;

  // verbose: service calls (GetValue, TempBuffer, ...) become events too.
  ScriptHost(HostCore& core, int plugin, bool verbose);
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Runs one command line. False once the command was "quit".
  bool Run(const std::string& line);
  // Ends what has waited out its bound by the host's clock (a details
  // fetch no reply reached); Run does it after each command, and the
  // program between them (main thread).
  void Tick();
  // Outputs are added before the first command runs.
  void AddOutput(Output output) { outputs_.Add(std::move(output)); }
  void Write(const Event& event);
  void Error(const std::string& command, const std::string& message);

  // For the commands' handlers (main thread only).
  HostCore& core() { return core_; }
  int plugin() const { return plugin_; }
  // A UTF-8 text as the plug-in takes it (Windows-1250) into `out`; false,
  // with an "error" event for `command`, when it cannot be.
  bool ToPlugin(const std::string& command, const std::string& utf8, std::string* out);
  // The host's id for the next message sent.
  int NextMessageId() { return nextMessageId_++; }
  // The details fetches waiting for their reply.
  DetailsFetches& detailsFetches() { return detailsFetches_; }
  // The sent messages whose answer (or echo) is still to come.
  SentMessages& sentMessages() { return sentMessages_; }
  // "quit": Run answers false from now on.
  void EndSession() { ended_ = true; }

 private:
  // Both on the plug-in's threads, from the event sink.
  bool TakeOwnEcho(const RecordedCall& call);
  void KeepDelivery(const RecordedCall& call);

  HostCore& core_;
  int plugin_;
  bool verbose_;
  EventOutputs outputs_;
  DetailsFetches detailsFetches_;
  SentMessages sentMessages_;
  int nextMessageId_ = 1;
  bool ended_ = false;
};

// The "error" event for a command there is none of.
void UnknownCommand(ScriptHost& host, const std::string& command);

}  // namespace vask::host
