// vask-host's scripted mode: one command a line in, one JSON event a line
// out (flushed), every host message the plug-in sends among the events.
// The search commands (search_commands.h) and the commands over what the
// plug-in declared (declared_ui.h) run from here too.
//
// Commands are UTF-8; texts go to the plug-in as Windows-1250. A command
// whose text Windows-1250 cannot hold is refused with an "error" event.
// Events may come from any of the plug-in's threads; each output sees them
// one at a time, in the order they were written.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/core/host_core.h"
#include "host/events/host_event.h"

namespace vask::host {

class ScriptHost {
 public:
  // Where events go: a line writer, the terminal, the web face.
  using Output = std::function<void(const EventJson& event)>;

  // verbose: service calls (GetValue, TempBuffer, ...) become events too.
  ScriptHost(HostCore& core, int plugin, bool verbose);
  ~ScriptHost();
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // Runs one command line. False once the command was "quit".
  bool Run(const std::string& line);
  // Outputs are added before the first command runs.
  void AddOutput(Output output) { outputs_.push_back(std::move(output)); }
  void Write(const Event& event);
  void Error(const std::string& command, const std::string& message);

 private:
  bool ToPlugin(const std::string& command, const std::string& utf8, std::string* out);
  void Chat(const std::string& utf8);
  void OnCall(const RecordedCall& call);
  void OnEvent(const std::string& event, const RecordedCall& call);
  void Contacts();

  HostCore& core_;
  int plugin_;
  bool verbose_;
  std::vector<Output> outputs_;
  std::mutex outMutex_;  // one event at a time through the outputs
  int nextMessageId_ = 1;
};

// An output that writes each event as one line to `out`, flushed.
ScriptHost::Output LinesTo(std::FILE* out);

// Adds a recorded call's decoded fields to an event (texts as UTF-8).
void AddFields(Event& line, const RecordedCall& call);
// Splits a command line at blanks; `limit` > 0 keeps the rest of the line
// (blanks included) as the last word.
std::vector<std::string> SplitWords(const std::string& line, size_t limit = 0);
// "key=value ..." from words[from] on; a word without "=" continues the
// previous value after a blank, so values may hold blanks. False when the
// first word is no pair.
bool ParsePairs(const std::vector<std::string>& words, size_t from,
                std::vector<std::pair<std::string, std::string>>* pairs);

}  // namespace vask::host
