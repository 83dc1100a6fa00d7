#include "host/commands/script_host.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "host/commands/call_events.h"
#include "host/commands/declared_ui.h"
#include "host/commands/face_commands.h"
#include "host/commands/search_commands.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

// Identity and status questions whose answer is a text pointer.
bool AnswersText(int id) {
  switch (id) {
    case kMsgShortName:
    case kMsgDisplayName:
    case kMsgNetworkName:
    case kMsgNetworkNameAgain:
    case kMsgHostWord:
    case kMsgOwnStatusInfo:
    case kMsgOwnId:
      return true;
    default:
      return false;
  }
}

// The answer to kMsgChatCommand when the plug-in took the command as its own.
constexpr intptr_t kChatCommandTaken = 2;

constexpr const char* kHelp =
    "status <n> [text] | describe [text] | away | back | ignored | add <computer> | remove "
    "<computer> | send "
    "<computer> <text> | "
    "msg <id> [p1 [p2 [p3 [p4]]]] | set <column> <value> | get <column> | contacts | "
    "ignore <computer> | unignore <computer> | cancel | details open|close <computer> | "
    "history [computer] | wait <ms> | help | quit";

}  // namespace

ScriptHost::ScriptHost(HostCore& core, int plugin, bool verbose)
    : core_(core), plugin_(plugin), verbose_(verbose) {
  // A long session must not grow without bound, in calls or in the texts
  // they copied (2000 WinPopup messages of 100 KB would keep 200 MB).
  core_.calls().SetRetention(2000, 8u << 20);
  core_.calls().SetListener([this](const RecordedCall& call) {
    if (std::optional<Event> line = CallEvent(call, verbose_)) Write(*line);
  });
  core_.SetEventSink([this](const std::string& event, const RecordedCall& call) {
    Write(HostEventOf(event, call));
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

void ScriptHost::Contacts() {
  EventJson list = EventJson::array();
  HostTables& t = core_.tables();
  for (int row : t.ContactRows()) {
    if (row == 0) continue;
    list.push_back(
        Event()
            .Int("contact", row)
            .Str("computer", Cp1250ToUtf8(t.GetText(kTableContacts, row, kColumnId)))
            .Int("net", t.GetInt(kTableContacts, row, kColumnNet))
            .Int("status", t.GetInt(kTableContacts, row, kColumnStatus) & kStatusNumberMask)
            .Int("flags",
                 t.GetInt(kTableContacts, row, kColumnStatus) & ~int64_t{kStatusNumberMask})
            .Str("text", Cp1250ToUtf8(t.GetText(kTableContacts, row, kColumnStatusInfo)))
            .Bool("ignored", core_.IsIgnored(t.GetText(kTableContacts, row, kColumnId)))
            .json());
  }
  OwnStatus own = core_.ownStatus();
  Write(Event()
            .Str("event", "contacts")
            .Int("ownStatus", own.status)
            .Str("ownText", Cp1250ToUtf8(own.text))
            .Set("contacts", std::move(list)));
}

// "chat <text>": the text goes to the plug-in as a chat message typed in the
// chat window as a command (kMsgChatCommand), as the host's chat window
// hands over a line that starts with "/".
void ScriptHost::Chat(const std::string& utf8) {
  std::string body;
  if (!ToPlugin("chat", utf8, &body)) return;
  std::string empty;
  MessageRecord record{};
  record.size = sizeof record;
  record.net = NET_LAN;
  record.type = kMessageTypeChat;
  record.from = empty.data();
  record.to = empty.data();
  record.body = body.data();
  record.ext = empty.data();
  record.flags = kMessageFlagCommand;
  record.time = static_cast<int64_t>(std::time(nullptr));
  intptr_t answer = core_.Call(plugin_, kMsgChatCommand, reinterpret_cast<intptr_t>(&record));
  Write(Event()
            .Str("event", "chat")
            .Str("text", utf8)
            .Int("answer", answer)
            .Bool("handled", answer == kChatCommandTaken));
}

bool ScriptHost::Run(const std::string& rawLine) {
  // The chat text is taken as it stands, blanks and all.
  if (rawLine.compare(0, 5, "chat ") == 0) {
    Chat(rawLine.substr(5));
    return true;
  }
  std::string line = rawLine;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  std::vector<std::string> words = SplitWords(line, 0);
  if (words.empty() || words[0][0] == '#') return true;
  const std::string& command = words[0];

  if (command == "quit") return false;
  if (command == "help") {
    Write(Event()
              .Str("event", "help")
              .Str("commands", std::string(kHelp) + " | " + SearchCommandsHelp() + " | " +
                                   DeclaredUiHelp() + " | " + FaceCommandsHelp()));
    return true;
  }
  if (RunSearchCommand(*this, core_, plugin_, line)) return true;
  if (RunDeclaredUiCommand(*this, core_, plugin_, line)) return true;
  if (RunFaceCommand(*this, core_, line)) return true;
  if (command == "status") {
    auto w = SplitWords(line, 3);
    long long status = 0;
    if (w.size() < 2 || !ParseNumber(w[1], &status)) {
      Error(command, "Użycie: status <numer> [opis]");
      return true;
    }
    std::string text;
    if (w.size() == 3 && !ToPlugin(command, w[2], &text)) return true;
    intptr_t answer = core_.Call(plugin_, kMsgSetStatus, static_cast<intptr_t>(status),
                                 w.size() == 3 ? reinterpret_cast<intptr_t>(text.c_str()) : 0);
    Write(Event().Str("event", "answer").Int("id", kMsgSetStatus).Int("answer", answer));
    return true;
  }
  if (command == "describe") {
    // The own status stays; the description becomes the text, or none.
    auto w = SplitWords(line, 2);
    std::string text;
    if (w.size() == 2 && !ToPlugin(command, w[1], &text)) return true;
    intptr_t answer = core_.Call(plugin_, kMsgSetStatus, core_.ownStatus().status,
                                 reinterpret_cast<intptr_t>(text.c_str()));
    Write(Event("answer").Int("id", kMsgSetStatus).Int("answer", answer));
    return true;
  }
  if (command == "away" || command == "back") {
    // Auto-away begins or ends; the plug-in changes its status without
    // telling the host, so the host asks for it afterwards.
    core_.Call(plugin_, command == "away" ? kMsgAutoAwayBegin : kMsgAutoAwayEnd);
    const int status = static_cast<int>(core_.Call(plugin_, kMsgOwnStatus));
    const OwnStatus own = core_.NoteOwnStatus(status);
    Write(Event("own-status")
              .Int("status", status)
              .Int("ownStatus", own.status)
              .Str("ownText", Cp1250ToUtf8(own.text)));
    return true;
  }
  if (command == "add" || command == "remove" || command == "ignore" || command == "unignore") {
    if (words.size() != 2) {
      Error(command, "Użycie: " + command + " <nazwa komputera, bez spacji>");
      return true;
    }
    std::string name;
    if (!ToPlugin(command, words[1], &name)) return true;
    if (command == "ignore" || command == "unignore") {
      if (!core_.SetIgnored(name, command == "ignore")) return true;  // the profile told why
      Write(Event()
                .Str("event", command == "ignore" ? "ignored" : "unignored")
                .Str("computer", words[1]));
      return true;
    }
    if (command == "add") {
      // Stored as the computer is named: "bob" is the computer BOB, and
      // the contact BOB when there is one already.
      std::optional<std::string> computer = ComputerNameFromUtf8(words[1]);
      if (!computer) {
        Error(command, NotAComputerName(words[1]));
        return true;
      }
      const int known = core_.FindContact(NET_LAN, *computer);
      const int contact = known > 0 ? known : core_.AddContact(*computer, NET_LAN);
      if (contact < 0) {
        Error(command, "Nie udało się dodać kontaktu " + words[1] + ".");
        return true;
      }
      Write(Event()
                .Str("event", "contact-added")
                .Int("contact", contact)
                .Str("computer",
                     Cp1250ToUtf8(core_.tables().GetText(kTableContacts, contact, kColumnId)))
                .Bool("existing", known > 0));
      // A real host reports each contact it shows to the contact's network.
      if (known <= 0) core_.Call(plugin_, kMsgContactReported, contact);
      return true;
    }
    int contact = core_.FindContact(NET_LAN, name);
    if (contact < 0) {
      Error(command, "Nie ma takiego kontaktu: " + words[1]);
      return true;
    }
    if (!core_.RemoveContact(contact)) {
      Error(command, "Nie udało się usunąć kontaktu " + words[1] + ".");
      return true;
    }
    Write(
        Event().Str("event", "contact-removed").Int("contact", contact).Str("computer", words[1]));
    return true;
  }
  if (command == "send") {
    auto w = SplitWords(line, 3);
    if (w.size() != 3) {
      Error(command, "Użycie: send <komputer> <tekst>");
      return true;
    }
    std::string to, body;
    if (!ToPlugin(command, w[1], &to) || !ToPlugin(command, w[2], &body)) return true;
    // Computer names are capitals: "żółw" is the computer ŻÓŁW.
    to = UpperCp1250(to);
    std::string empty;
    MessageRecord record{};
    record.size = sizeof record;
    record.id = nextMessageId_++;
    record.net = NET_LAN;
    record.type = kMessageTypeChat;
    record.from = empty.data();
    record.to = to.data();
    record.body = body.data();
    record.ext = empty.data();
    record.field42 = -2;
    record.time = static_cast<int64_t>(std::time(nullptr));
    HistoryEntry sent;
    sent.contact = core_.FindContact(NET_LAN, to);
    sent.to = to;
    sent.body = body;
    sent.time = record.time;
    sent.type = kMessageTypeChat;
    sent.net = NET_LAN;
    core_.tables().AddHistory(sent);
    Write(Event()
              .Str("event", "sending")
              .Int("messageId", record.id)
              .Str("to", w[1])
              .Str("body", w[2]));
    HostMessage m{};
    m.size = HostMessageSize(2);
    m.id = kMsgSendMessage;
    m.p1 = reinterpret_cast<intptr_t>(&record);
    intptr_t answer = core_.Call(plugin_, &m);
    Write(Event()
              .Str("event", "answer")
              .Int("id", kMsgSendMessage)
              .Int("answer", answer)
              .Int("messageId", record.id));
    return true;
  }
  if (command == "msg") {
    long long id = 0;
    if (words.size() < 2 || words.size() > 6 || !ParseNumber(words[1], &id)) {
      Error(command, "Użycie: msg <numer komunikatu> [p1 [p2 [p3 [p4]]]]");
      return true;
    }
    // A parameter that is not a number goes to the plug-in as a text.
    std::vector<std::string> texts(4);
    intptr_t p[4] = {0, 0, 0, 0};
    for (size_t i = 2; i < words.size(); ++i) {
      long long v = 0;
      if (ParseNumber(words[i], &v)) {
        p[i - 2] = static_cast<intptr_t>(v);
      } else {
        if (!ToPlugin(command, words[i], &texts[i - 2])) return true;
        p[i - 2] = reinterpret_cast<intptr_t>(texts[i - 2].c_str());
      }
    }
    int params = std::max<int>(2, static_cast<int>(words.size()) - 2);
    intptr_t answer = core_.Call(plugin_, static_cast<int>(id), p[0], p[1], p[2], p[3], params);
    Event out;
    out.Str("event", "answer").Int("id", id).Int("answer", answer);
    if (AnswersText(static_cast<int>(id))) {
      if (answer) {
        out.Str("text", Cp1250ToUtf8(reinterpret_cast<const char*>(answer)));
      } else {
        out.Null("text");
      }
    }
    Write(out);
    return true;
  }
  if (command == "set" || command == "get") {
    auto w = SplitWords(line, 3);
    long long column = 0;
    if (w.size() < 2 || !ParseNumber(w[1], &column) || (command == "set" && w.size() != 3)) {
      Error(command,
            command == "set" ? "Użycie: set <kolumna> <wartość>" : "Użycie: get <kolumna>");
      return true;
    }
    int col = static_cast<int>(column);
    if (command == "set") {
      auto type = core_.tables().ColumnType(kTableSettings, col);
      long long number = 0;
      bool isNumber = ParseNumber(w[2], &number);
      if (type == kColumnInt || (!type && isNumber)) {
        if (!isNumber) {
          Error(command, "Ustawienie " + w[1] + " przyjmuje tylko liczbę.");
          return true;
        }
        if (!core_.SetSetting(col, number)) return true;  // the profile told why
      } else {
        std::string text;
        if (!ToPlugin(command, w[2], &text)) return true;
        if (!core_.SetSettingText(col, text)) return true;
      }
    }
    Write(Event()
              .Str("event", "setting")
              .Int("column", col)
              .Str("value", Cp1250ToUtf8(core_.GetSettingText(col))));
    return true;
  }
  if (command == "contacts") {
    Contacts();
    return true;
  }
  if (command == "cancel") {
    Write(Event().Str("event", "cancel").Int("notices", core_.PressCancel()));
    return true;
  }
  if (command == "details") {
    std::string name;
    if (words.size() != 3 || (words[1] != "open" && words[1] != "close")) {
      Error(command, "Użycie: details open|close <komputer>");
      return true;
    }
    if (!ToPlugin(command, words[2], &name)) return true;
    int contact = core_.FindContact(NET_LAN, name);
    if (contact < 0) {
      Error(command, "Nie ma takiego kontaktu: " + words[2]);
      return true;
    }
    if (words[1] == "open") {
      core_.OpenDetails(contact);
    } else {
      core_.CloseDetails(contact);
    }
    Write(Event().Str("event", "details").Str("state", words[1]).Int("contact", contact));
    return true;
  }
  if (command == "history") {
    int contact = -2;
    if (words.size() == 2) {
      std::string name;
      if (!ToPlugin(command, words[1], &name)) return true;
      contact = core_.FindContact(NET_LAN, name);
      if (contact < 0) {
        Error(command, "Nie ma takiego kontaktu: " + words[1]);
        return true;
      }
    }
    EventJson list = EventJson::array();
    for (const HistoryEntry& e : core_.History(contact)) {
      list.push_back(Event()
                         .Int("number", e.number)
                         .Int("contact", e.contact)
                         .Str("from", Cp1250ToUtf8(e.from))
                         .Str("to", Cp1250ToUtf8(e.to))
                         .Str("body", Cp1250ToUtf8(e.body))
                         .Int("time", e.time)
                         .Int("type", e.type)
                         .json());
    }
    Write(Event().Str("event", "history").Set("messages", std::move(list)));
    return true;
  }
  if (command == "wait") {
    long long ms = 0;
    if (words.size() != 2 || !ParseNumber(words[1], &ms) || ms < 0) {
      Error(command, "Użycie: wait <milisekundy>");
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    Write(Event().Str("event", "waited").Int("ms", ms));
    return true;
  }
  Error(command, "Nieznane polecenie: " + command + " (help wypisuje polecenia)");
  return true;
}

}  // namespace vask::host
