#include "host/commands/script_host.h"

#include "host/commands/call_events.h"
#include "host/commands/command_table.h"
#include "host/commands/delivery_notices.h"
#include "host/commands/search_commands.h"
#include "host/text/text_codec.h"

namespace vask::host {

ScriptHost::ScriptHost(HostCore& core, int plugin, bool verbose)
    : core_(core), plugin_(plugin), verbose_(verbose) {
  // A long session must not grow without bound, in calls or in the texts
  // they copied (2000 WinPopup messages of 100 KB would keep 200 MB).
  core_.calls().SetRetention(2000, 8u << 20);
  core_.calls().SetListener([this](const RecordedCall& call) {
    if (std::optional<Event> line = CallEvent(call, verbose_)) Write(*line);
  });
  core_.SetEventSink([this](const std::string& event, const RecordedCall& call) {
    if (event == "message" && TakeOwnEcho(call)) return;
    if (event == "send-result") KeepDelivery(call);
    Event line = HostEventOf(event, call);
    if (event == "message") {
      const std::string explained = ExplainNotice(Cp1250ToUtf8(call.Text("body")));
      if (!explained.empty()) line.Str("explained", explained);
    }
    Write(line);
  });
  InstallSearchEvents(*this, core_);
  // A setting, contact or message the profile failed to keep is told, not
  // lost silently.
  core_.tables().SetFailureListener(
      [this](const std::string& message) { Error("profile", message); });
}

ScriptHost::~ScriptHost() {
  core_.tables().SetFailureListener(nullptr);
  core_.calls().SetListener(nullptr);
  core_.SetEventSink(nullptr);
}

void ScriptHost::Write(const Event& event) { outputs_.Write(event.json()); }

void ScriptHost::Error(const std::string& command, const std::string& message) {
  Write(Event().Str("event", "error").Str("command", command).Str("message", message));
}

bool ScriptHost::ToPlugin(const std::string& command, const std::string& utf8, std::string* out) {
  std::string bad;
  auto converted = Utf8ToCp1250(utf8, &bad);
  if (!converted) {
    Error(command, "Tekst zawiera znak, którego nie da się zapisać w Windows-1250: " + bad);
    return false;
  }
  *out = *converted;
  return true;
}

bool ScriptHost::Run(const std::string& rawLine) {
  // The chat text is taken as it stands, blanks and all.
  if (rawLine.compare(0, 5, "chat ") == 0) {
    FindCommand("chat")->run(*this, {"chat", rawLine.substr(5)});
    return !ended_;
  }
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return true;
  const std::string command = line.substr(start, line.find_first_of(" \t", start) - start);
  const CommandRow* row = FindCommand(command);
  if (row == nullptr) {
    UnknownCommand(*this, command);
    return true;
  }
  // The one reading of the line: as many words as the command takes.
  row->run(*this, SplitWords(line, row->words));
  Tick();  // a turned clock ends what it has waited out at once
  return !ended_;
}

void ScriptHost::Tick() { ExpireDetailsFetches(*this); }

// A message to everybody reaches this computer too, as if someone had
// written it: that copy is neither shown nor kept.
bool ScriptHost::TakeOwnEcho(const RecordedCall& call) {
  if (call.Int("type", kMessageTypeChat) != kMessageTypeChat) return false;
  const std::string own = core_.tables().GetText(kTableContacts, 0, kColumnId);
  if (!sentMessages_.IsOwnEcho(call.Text("from"), call.Text("body"), own, HostClockSeconds())) {
    return false;
  }
  if (call.Has("historyNumber")) core_.tables().RemoveHistory(call.Int("historyNumber"));
  return true;
}

// The plug-in's answer for a sent message is kept with it in the history.
void ScriptHost::KeepDelivery(const RecordedCall& call) {
  const auto number = sentMessages_.Answered(static_cast<int>(call.Int("messageId")));
  if (!number) return;
  core_.tables().SetDelivery(*number, call.Int("sent") ? kDeliverySent : kDeliveryFailed);
}

void UnknownCommand(ScriptHost& host, const std::string& command) {
  host.Error(command, "Nieznane polecenie: " + command + " (help wypisuje polecenia)");
}

}  // namespace vask::host
