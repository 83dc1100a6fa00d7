#include "host/commands/basic_commands.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "host/commands/command_table.h"
#include "host/commands/delivery_notices.h"
#include "host/commands/search_commands.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"
#include "win32.h"

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

}  // namespace

void RunStatus(ScriptHost& host, const Words& w) {
  long long status = 0;
  if (w.size() < 2 || !ParseNumber(w[1], &status)) {
    host.Error(w[0], "Użycie: status <numer> [opis]");
    return;
  }
  std::string text;
  if (w.size() == 3 && !host.ToPlugin(w[0], w[2], &text)) return;
  intptr_t answer = host.core().Call(host.plugin(), kMsgSetStatus, static_cast<intptr_t>(status),
                                     w.size() == 3 ? reinterpret_cast<intptr_t>(text.c_str()) : 0);
  host.Write(Event().Str("event", "answer").Int("id", kMsgSetStatus).Int("answer", answer));
}

// The own status stays; the description becomes the text, or none.
void RunDescribe(ScriptHost& host, const Words& w) {
  std::string text;
  if (w.size() == 2 && !host.ToPlugin(w[0], w[1], &text)) return;
  intptr_t answer = host.core().Call(host.plugin(), kMsgSetStatus, host.core().ownStatus().status,
                                     reinterpret_cast<intptr_t>(text.c_str()));
  host.Write(Event("answer").Int("id", kMsgSetStatus).Int("answer", answer));
}

// Auto-away begins or ends; the plug-in changes its status without telling
// the host, so the host asks for it afterwards.
void RunAwayOrBack(ScriptHost& host, const Words& w) {
  HostCore& core = host.core();
  core.Call(host.plugin(), w[0] == "away" ? kMsgAutoAwayBegin : kMsgAutoAwayEnd);
  const int status = static_cast<int>(core.Call(host.plugin(), kMsgOwnStatus));
  const OwnStatus own = core.NoteOwnStatus(status);
  host.Write(Event("own-status")
                 .Int("status", status)
                 .Int("ownStatus", own.status)
                 .Str("ownText", Cp1250ToUtf8(own.text)));
}

void RunContactCommand(ScriptHost& host, const Words& words) {
  const std::string& command = words[0];
  HostCore& core = host.core();
  if (words.size() != 2) {
    host.Error(command, "Użycie: " + command + " <nazwa komputera, bez spacji>");
    return;
  }
  std::string name;
  if (!host.ToPlugin(command, words[1], &name)) return;
  if (command == "ignore" || command == "unignore") {
    if (!core.SetIgnored(name, command == "ignore")) return;  // the profile told why
    host.Write(Event()
                   .Str("event", command == "ignore" ? "ignored" : "unignored")
                   .Str("computer", words[1]));
    return;
  }
  if (command == "add") {
    // Stored as the computer is named: "bob" is the computer BOB, and the
    // contact BOB when there is one already.
    std::optional<std::string> computer = ComputerNameFromUtf8(words[1]);
    if (!computer) {
      host.Error(command, NotAComputerName(words[1]));
      return;
    }
    const int known = core.FindContact(NET_LAN, *computer);
    const int contact = known > 0 ? known : core.AddContact(*computer, NET_LAN);
    if (contact < 0) {
      host.Error(command, "Nie udało się dodać kontaktu " + words[1] + ".");
      return;
    }
    host.Write(Event()
                   .Str("event", "contact-added")
                   .Int("contact", contact)
                   .Str("computer",
                        Cp1250ToUtf8(core.tables().GetText(kTableContacts, contact, kColumnId)))
                   .Bool("existing", known > 0));
    // A real host reports each contact it shows to the contact's network.
    if (known <= 0) core.Call(host.plugin(), kMsgContactReported, contact);
    return;
  }
  int contact = core.FindContact(NET_LAN, name);
  if (contact < 0) {
    host.Error(command, "Nie ma takiego kontaktu: " + words[1]);
    return;
  }
  if (!core.RemoveContact(contact)) {
    host.Error(command, "Nie udało się usunąć kontaktu " + words[1] + ".");
    return;
  }
  host.Write(
      Event().Str("event", "contact-removed").Int("contact", contact).Str("computer", words[1]));
}

void RunSend(ScriptHost& host, const Words& w) {
  const std::string& command = w[0];
  if (w.size() != 3) {
    host.Error(command, "Użycie: send <komputer> <tekst>");
    return;
  }
  std::string to, body;
  if (!host.ToPlugin(command, w[1], &to) || !host.ToPlugin(command, w[2], &body)) return;
  // Computer names are capitals: "żółw" is the computer ŻÓŁW.
  to = UpperCp1250(to);
  std::string empty;
  MessageRecord record{};
  record.size = sizeof record;
  record.id = host.NextMessageId();
  record.net = NET_LAN;
  record.type = kMessageTypeChat;
  record.from = empty.data();
  record.to = to.data();
  record.body = body.data();
  record.ext = empty.data();
  record.field42 = -2;
  record.time = static_cast<int64_t>(std::time(nullptr));
  HistoryEntry sent;
  sent.contact = host.core().FindContact(NET_LAN, to);
  sent.to = to;
  sent.body = body;
  sent.time = record.time;
  sent.type = kMessageTypeChat;
  sent.net = NET_LAN;
  sent.delivery = kDeliveryWaiting;
  const int64_t number = host.core().tables().AddHistory(sent);
  // Known before the call: the plug-in may answer from another thread while
  // it runs.
  if (number) host.sentMessages().Sent(record.id, number, to, body, HostClockSeconds());
  host.Write(Event()
                 .Str("event", "sending")
                 .Int("messageId", record.id)
                 .Str("to", w[1])
                 .Str("body", w[2]));
  HostMessage m{};
  m.size = HostMessageSize(2);
  m.id = kMsgSendMessage;
  m.p1 = reinterpret_cast<intptr_t>(&record);
  intptr_t answer = host.core().Call(host.plugin(), &m);
  host.Write(Event()
                 .Str("event", "answer")
                 .Int("id", kMsgSendMessage)
                 .Int("answer", answer)
                 .Int("messageId", record.id));
}

// "chat <text>": the text goes to the plug-in as a chat message typed in the
// chat window as a command (kMsgChatCommand), as the host's chat window
// hands over a line that starts with "/".
void RunChat(ScriptHost& host, const Words& w) {
  const std::string utf8 = w.size() > 1 ? w[1] : std::string();
  std::string body;
  if (!host.ToPlugin("chat", utf8, &body)) return;
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
  intptr_t answer =
      host.core().Call(host.plugin(), kMsgChatCommand, reinterpret_cast<intptr_t>(&record));
  host.Write(Event()
                 .Str("event", "chat")
                 .Str("text", utf8)
                 .Int("answer", answer)
                 .Bool("handled", answer == kChatCommandTaken));
}

void RunMsg(ScriptHost& host, const Words& words) {
  const std::string& command = words[0];
  long long id = 0;
  if (words.size() < 2 || words.size() > 6 || !ParseNumber(words[1], &id)) {
    host.Error(command, "Użycie: msg <numer komunikatu> [p1 [p2 [p3 [p4]]]]");
    return;
  }
  // A parameter that is not a number goes to the plug-in as a text.
  std::vector<std::string> texts(4);
  intptr_t p[4] = {0, 0, 0, 0};
  for (size_t i = 2; i < words.size(); ++i) {
    long long v = 0;
    if (ParseNumber(words[i], &v)) {
      p[i - 2] = static_cast<intptr_t>(v);
    } else {
      if (!host.ToPlugin(command, words[i], &texts[i - 2])) return;
      p[i - 2] = reinterpret_cast<intptr_t>(texts[i - 2].c_str());
    }
  }
  int params = std::max<int>(2, static_cast<int>(words.size()) - 2);
  intptr_t answer =
      host.core().Call(host.plugin(), static_cast<int>(id), p[0], p[1], p[2], p[3], params);
  Event out;
  out.Str("event", "answer").Int("id", id).Int("answer", answer);
  if (AnswersText(static_cast<int>(id))) {
    if (answer) {
      out.Str("text", Cp1250ToUtf8(reinterpret_cast<const char*>(answer)));
    } else {
      out.Null("text");
    }
  }
  host.Write(out);
}

void RunSetting(ScriptHost& host, const Words& w) {
  const std::string& command = w[0];
  HostCore& core = host.core();
  long long column = 0;
  if (w.size() < 2 || !ParseNumber(w[1], &column) || (command == "set" && w.size() != 3)) {
    host.Error(command,
               command == "set" ? "Użycie: set <kolumna> <wartość>" : "Użycie: get <kolumna>");
    return;
  }
  int col = static_cast<int>(column);
  if (command == "set") {
    auto type = core.tables().ColumnType(kTableSettings, col);
    long long number = 0;
    bool isNumber = ParseNumber(w[2], &number);
    if (type == kColumnInt || (!type && isNumber)) {
      if (!isNumber) {
        host.Error(command, "Ustawienie " + w[1] + " przyjmuje tylko liczbę.");
        return;
      }
      if (!core.SetSetting(col, number)) return;  // the profile told why
    } else {
      std::string text;
      if (!host.ToPlugin(command, w[2], &text)) return;
      if (!core.SetSettingText(col, text)) return;
    }
  }
  host.Write(Event()
                 .Str("event", "setting")
                 .Int("column", col)
                 .Str("value", Cp1250ToUtf8(core.GetSettingText(col))));
}

void RunContacts(ScriptHost& host, const Words&) {
  HostCore& core = host.core();
  EventJson list = EventJson::array();
  HostTables& t = core.tables();
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
            .Bool("ignored", core.IsIgnored(t.GetText(kTableContacts, row, kColumnId)))
            .json());
  }
  OwnStatus own = core.ownStatus();
  host.Write(Event()
                 .Str("event", "contacts")
                 .Int("ownStatus", own.status)
                 .Str("ownText", Cp1250ToUtf8(own.text))
                 .Set("contacts", std::move(list)));
}

void RunCancel(ScriptHost& host, const Words&) {
  host.Write(Event().Str("event", "cancel").Int("notices", host.core().PressCancel()));
}

void RunDetails(ScriptHost& host, const Words& words) {
  const std::string& command = words[0];
  if (words.size() == 2 && words[1] != "open" && words[1] != "close") {
    FetchDetails(host, words[1]);
    return;
  }
  std::string name;
  if (words.size() != 3 || (words[1] != "open" && words[1] != "close")) {
    host.Error(command, "Użycie: details open|close <komputer>");
    return;
  }
  if (!host.ToPlugin(command, words[2], &name)) return;
  int contact = host.core().FindContact(NET_LAN, name);
  if (contact < 0) {
    host.Error(command, "Nie ma takiego kontaktu: " + words[2]);
    return;
  }
  if (words[1] == "open") {
    host.core().OpenDetails(contact);
  } else {
    host.core().CloseDetails(contact);
  }
  host.Write(Event().Str("event", "details").Str("state", words[1]).Int("contact", contact));
}

namespace {

// How a sent message's fate is named in a history event ("" for what was
// not sent by the user).
const char* DeliveryWord(int delivery) {
  switch (delivery) {
    case kDeliveryWaiting:
      return "waiting";
    case kDeliverySent:
      return "sent";
    case kDeliveryFailed:
      return "failed";
    default:
      return "";
  }
}

}  // namespace

void RunHistory(ScriptHost& host, const Words& words) {
  int contact = -2;
  if (words.size() == 2) {
    std::string name;
    if (!host.ToPlugin(words[0], words[1], &name)) return;
    contact = host.core().FindContact(NET_LAN, name);
    if (contact < 0) {
      host.Error(words[0], "Nie ma takiego kontaktu: " + words[1]);
      return;
    }
  }
  EventJson list = EventJson::array();
  for (const HistoryEntry& e : host.core().History(contact)) {
    const std::string body = Cp1250ToUtf8(e.body);
    Event entry;
    entry.Int("number", e.number)
        .Int("contact", e.contact)
        .Str("from", Cp1250ToUtf8(e.from))
        .Str("to", Cp1250ToUtf8(e.to))
        .Str("body", body)
        .Int("time", e.time)
        .Int("type", e.type);
    if (*DeliveryWord(e.delivery)) entry.Str("delivery", DeliveryWord(e.delivery));
    if (e.type != kMessageTypeChat) {
      const std::string explained = ExplainNotice(body);
      if (!explained.empty()) entry.Str("explained", explained);
    }
    list.push_back(entry.json());
  }
  host.Write(Event().Str("event", "history").Set("messages", std::move(list)));
}

void RunWait(ScriptHost& host, const Words& words) {
  long long ms = 0;
  if (words.size() != 2 || !ParseNumber(words[1], &ms) || ms < 0) {
    host.Error(words[0], "Użycie: wait <milisekundy>");
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  host.Write(Event().Str("event", "waited").Int("ms", ms));
}

// The plug-in reads the time through _time64, which adds the offset
// VaskAdvanceClock keeps for the whole process: a test lets the ten seconds
// after which an unanswered message counts as lost pass at once, in every
// host whose plug-in sends. The terminal's idle watch reads it too; the
// history's times do not move.
void RunClock(ScriptHost& host, const Words& words) {
  long long seconds = 0;
  if (words.size() != 2 || !ParseNumber(words[1], &seconds)) {
    host.Error(words[0], "Użycie: clock +SEKUNDY");
    return;
  }
  const long long offset = VaskAdvanceClock(seconds);
  host.Write(Event("clock").Int("seconds", seconds).Int("offset", offset));
}

void RunHelp(ScriptHost& host, const Words&) {
  host.Write(Event().Str("event", "help").Str("commands", ScriptedCommandsHelp()));
}

void RunQuit(ScriptHost& host, const Words&) { host.EndSession(); }

}  // namespace vask::host
