#include "host/terminal/event_rendering.h"

#include <cstdlib>
#include <ctime>

#include "abi/host_ids.h"
#include "host/commands/contact_columns.h"
#include "host/commands/sent_messages.h"
#include "host/terminal/page_rendering.h"
#include "host/text/text_table.h"

namespace vask::host {

namespace {

std::tm LocalTime(long long seconds) {
  std::time_t t = seconds > 0 ? static_cast<std::time_t>(seconds) : std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

std::string Format(const std::tm& local, const char* format) {
  char buffer[32];
  std::strftime(buffer, sizeof buffer, format, &local);
  return buffer;
}

// "[HH:MM]" of a time in seconds, with the day when it is not today; 0 is now.
std::string Clock(long long seconds) {
  const std::tm when = LocalTime(seconds);
  const std::tm today = LocalTime(0);
  const bool sameDay = when.tm_year == today.tm_year && when.tm_yday == today.tm_yday;
  return Format(when, sameDay ? "[%H:%M]" : "[%d.%m %H:%M]");
}

// A status name with its description in parentheses, when there is one.
std::string Described(long long status, const std::string& text) {
  const std::string name = StatusName(static_cast<int>(status));
  return text.empty() ? name : name + " (" + text + ")";
}

// The title of a box or notice; the plug-in's name when it gave none.
std::string TitleOf(const EventJson& e) {
  return TextOf(e, "title").empty() ? "Vask" : TextOf(e, "title");
}

std::string ContactName(long long contact, const FrontState& state) {
  auto found = state.contacts.find(contact);
  return found != state.contacts.end() ? found->second : "kontakt " + std::to_string(contact);
}

using Renderer = std::string (*)(const std::string& event, const EventJson& e, FrontState& state);

std::string Started(const std::string&, const EventJson& e, FrontState& state) {
  state.computer = TextOf(e, "computer");
  return "*** " + TextOf(e, "computer") + " w grupie " + TextOf(e, "workgroup") + ", sieć " +
         TextOf(e, "lanDir") + ". /help: polecenia, /quit: wyjście";
}

// A notice as the host explained it (a failed delivery's code in words),
// else as the plug-in wrote it.
std::string NoticeText(const EventJson& e) {
  const std::string explained = TextOf(e, "explained");
  return explained.empty() ? TextOf(e, "body") : explained;
}

// The recipient as a person reads it: "*" is everybody.
std::string Recipient(const std::string& to) { return to == kEverybody ? "wszyscy" : to; }

// Chat messages are the contact's words; anything else the plug-in shows
// (delivery failures, WinPopup notes) is a notice, drawn apart and stamped
// with its arrival time. A message never makes its sender the partner: a
// line meant for one person must not go to another who just wrote; "/r"
// answers the last sender.
std::string Message(const std::string&, const EventJson& e, FrontState& state) {
  std::string from = TextOf(e, "from");
  if (from.empty()) from = "Vask";
  const bool chat = NumberOf(e, "type", kMessageTypeChat) == kMessageTypeChat;
  if (!chat) {
    return Clock(0) + " !!! Powiadomienie (" + from + "): " + NoticeText(e);
  }
  std::string line = Clock(NumberOf(e, "time")) + " " + from + ": " + TextOf(e, "body");
  if (from != "Vask") {
    state.lastSender = from;
    if (from != state.partner) line += "   (/r odpowiada " + from + ")";
  }
  return line;
}

std::string Sending(const std::string&, const EventJson& e, FrontState& state) {
  return Clock(0) + " " + (state.computer.empty() ? "ja" : state.computer) + " -> " +
         Recipient(TextOf(e, "to")) + ": " + TextOf(e, "body");
}

// The plug-in's answer for a message the user sent: a mark when it went out,
// a plain line when it did not (the notice that follows says why).
std::string SendResult(const std::string&, const EventJson& e, FrontState&) {
  if (NumberOf(e, "sent")) return Clock(0) + " ✓ wysłano";
  return Clock(0) + " !!! Nie wysłano wiadomości.";
}

std::string ContactStatus(const std::string&, const EventJson& e, FrontState& state) {
  return "*** " + ContactName(NumberOf(e, "contact", -1), state) + ": " +
         Described(NumberOf(e, "status"), TextOf(e, "text"));
}

std::string OwnStatus(const std::string&, const EventJson& e, FrontState& state) {
  state.ownStatus = static_cast<int>(NumberOf(e, "ownStatus"));
  state.ownText = TextOf(e, "ownText");
  return "*** Twój status: " + Described(NumberOf(e, "ownStatus"), TextOf(e, "ownText"));
}

// A message box, or a notice with its Cancel button.
std::string Box(const std::string& event, const EventJson& e, FrontState&) {
  return "[" + TitleOf(e) + "] " + TextOf(e, "text") +
         (event == "notice-opened" ? "  (/cancel przerywa)" : "");
}

std::string NoticeClosed(const std::string&, const EventJson& e, FrontState&) {
  return "[" + TitleOf(e) + "] zamknięte" + (NumberOf(e, "cancelled") ? " (przerwane)" : "");
}

std::string ContactAdded(const std::string&, const EventJson& e, FrontState& state) {
  state.contacts[NumberOf(e, "contact")] = TextOf(e, "computer");
  if (NumberOf(e, "existing")) return "*** " + TextOf(e, "computer") + " już jest na liście.";
  return "*** Dodano kontakt " + TextOf(e, "computer") + ".";
}

std::string ContactRemoved(const std::string&, const EventJson& e, FrontState& state) {
  state.contacts.erase(NumberOf(e, "contact"));
  // A plain line no longer goes to a removed contact, nor does the prompt
  // name it.
  if (state.partner == TextOf(e, "computer")) state.partner.clear();
  return "*** Usunięto kontakt " + TextOf(e, "computer") + ".";
}

// The list names the contacts for the status lines that follow.
std::string Contacts(const std::string&, const EventJson& e, FrontState& state) {
  state.ownStatus = static_cast<int>(NumberOf(e, "ownStatus"));
  state.ownText = TextOf(e, "ownText");
  const std::string out =
      "*** Kontakty (ty: " + Described(NumberOf(e, "ownStatus"), TextOf(e, "ownText")) + "):";
  std::vector<std::vector<std::string>> rows;
  for (const EventJson& c : ListOf(e, "contacts")) {
    state.contacts[NumberOf(c, "contact")] = TextOf(c, "computer");
    rows.push_back({TextOf(c, "computer"), StatusName(static_cast<int>(NumberOf(c, "status"))),
                    TextOf(c, "text"), NumberOf(c, "ignored") ? "ignorowany" : ""});
  }
  if (rows.empty()) return out + " brak; /add NAZWA dodaje";
  return out + "\n" + TextTable({"Komputer", "Stan", "Opis", "Uwagi"}, rows, 40);
}

// A sent message's mark in the history, as the live line showed it.
std::string DeliveryMark(const std::string& delivery) {
  if (delivery == "sent") return "  ✓";
  if (delivery == "failed") return "  ✗ nie wysłano";
  return {};
}

std::string History(const std::string&, const EventJson& e, FrontState&) {
  std::string out = "*** Historia:";
  size_t count = 0;
  for (const EventJson& m : ListOf(e, "messages")) {
    const std::string stamp = Format(LocalTime(NumberOf(m, "time")), "[%Y-%m-%d %H:%M]");
    std::string who =
        TextOf(m, "from").empty() ? "-> " + Recipient(TextOf(m, "to")) : TextOf(m, "from");
    const bool notice = NumberOf(m, "type", kMessageTypeChat) != kMessageTypeChat;
    out += "\n    " + stamp + " " + (notice ? "!!! " : "") + who + ": " +
           (notice ? NoticeText(m) : TextOf(m, "body")) + DeliveryMark(TextOf(m, "delivery"));
    ++count;
  }
  return count ? out : out + " pusta";
}

std::string Error(const std::string&, const EventJson& e, FrontState&) {
  return "!!! " + TextOf(e, "message");
}

std::string Ignored(const std::string& event, const EventJson& e, FrontState&) {
  return "*** " + TextOf(e, "computer") +
         (event == "ignored" ? " ignorowany." : " już nie ignorowany.");
}

std::string IgnoredList(const std::string&, const EventJson& e, FrontState&) {
  std::string names;
  for (const EventJson& name : ListOf(e, "computers")) {
    if (name.is_string()) names += (names.empty() ? "" : ", ") + name.get<std::string>();
  }
  return "*** Ignorowani: " + (names.empty() ? "nikt" : names);
}

std::string Cancel(const std::string&, const EventJson& e, FrontState&) {
  const long long count = NumberOf(e, "notices");
  return count ? "*** Przerwano." : "*** Nie ma czego przerywać.";
}

std::string Chat(const std::string&, const EventJson& e, FrontState&) {
  if (NumberOf(e, "handled")) return {};
  return "!!! Nieznane polecenie: " + TextOf(e, "text") + " (/help)";
}

std::string SearchStarted(const std::string&, const EventJson&, FrontState&) {
  return "*** Szukam w sieci… (/cancel przerywa)";
}

std::string FoundContact(const std::string&, const EventJson& e, FrontState&) {
  std::string name = Plain(TextOf(e, "column6") + " " + TextOf(e, "column7"));
  return "*** Znaleziono: " + TextOf(e, "uid") + " (" + StatusName(NumberOf(e, "status")) + ")" +
         (name.empty() ? "" : " " + name);
}

std::string SearchEnded(const std::string&, const EventJson& e, FrontState&) {
  const long long count = NumberOf(e, "results");
  return "*** Szukanie zakończone: wyników " + std::to_string(count) + "." +
         (count ? " /results pokazuje tabelę, /add NAZWA dodaje." : "");
}

std::string Results(const std::string&, const EventJson& e, FrontState&) {
  std::vector<std::vector<std::string>> rows;
  for (const EventJson& c : ListOf(e, "contacts")) {
    rows.push_back({TextOf(c, "uid"), StatusName(NumberOf(c, "status")), TextOf(c, "column6"),
                    TextOf(c, "column7"), TextOf(c, "column9"), TextOf(c, "column11"),
                    TextOf(c, "column17")});
  }
  if (rows.empty()) return "*** Wyniki szukania: brak.";
  return "*** Wyniki szukania (" + std::to_string(rows.size()) + "; /add NAZWA dodaje):\n" +
         TextTable({ColumnLabel(kColumnId), "Stan", ColumnLabel(kColumnFirstName),
                    ColumnLabel(kColumnLastName), ColumnLabel(kColumnCity),
                    ColumnLabel(kColumnEmail), ColumnLabel(kColumnDescription)},
                   rows);
}

// A column's value as a person reads it: the year of the birth column
// (kept in its upper bits), the gender as a word.
std::string ColumnWords(int column, const std::string& value) {
  if (column == kColumnBirth) {
    const long long year = std::strtoll(value.c_str(), nullptr, 10) >> kBirthYearShift;
    return year ? std::to_string(year) : "";
  }
  if (column == kColumnGender) {
    const long long gender = std::strtoll(value.c_str(), nullptr, 10);
    if (gender == kGenderFemale) return "kobieta";
    if (gender == kGenderMale) return "mężczyzna";
    return "";
  }
  return value;
}

// A details window's columns as label and value, the empty ones left out.
std::string DetailsTable(const EventJson& window) {
  std::vector<std::vector<std::string>> rows;
  for (const ContactColumn& c : ContactColumns()) {
    if (c.label == nullptr) continue;
    const std::string value = ColumnWords(c.column, TextOf(window, std::to_string(c.column)));
    if (!value.empty() && value != "0") rows.push_back({c.label, value});
  }
  if (rows.empty()) return "    (brak danych)";
  return TextTable({"Pole", "Wartość"}, rows, 60);
}

std::string Details(const std::string& event, const EventJson& e, FrontState& state) {
  const auto window = e.find("window");
  if (window == e.end()) {  // the window opened or closed by hand
    const std::string name = ContactName(NumberOf(e, "contact"), state);
    return TextOf(e, "state") == "close" ? "*** Zamknięto okno danych " + name + "."
                                         : "*** Otwarto okno danych " + name + ".";
  }
  const std::string name = event == "details-updated" ? TextOf(e, "computer")
                                                      : ContactName(NumberOf(e, "contact"), state);
  if (event == "details") {
    return "*** Pobieram dane " + name + "; na razie:\n" + DetailsTable(*window);
  }
  return "*** Dane kontaktu " + name + ":\n" + DetailsTable(*window);
}

std::string DetailsUnanswered(const std::string&, const EventJson& e, FrontState&) {
  return "*** " + TextOf(e, "computer") + " nie odpowiada: po " +
         std::to_string(NumberOf(e, "seconds")) +
         " s nie ma nowych danych (komputer jest wyłączony albo nie ma go w sieci).";
}

std::string OwnDetails(const std::string&, const EventJson& e, FrontState&) {
  const auto window = e.find("columns");
  return "*** Twoje dane (/own imię=… miasto=… zmienia):\n" +
         (window != e.end() ? DetailsTable(*window) : std::string("    (brak danych)"));
}

std::string Own(const std::string&, const EventJson& e, FrontState&) {
  const int column = static_cast<int>(NumberOf(e, "column"));
  return "*** Twoje dane: " + ColumnLabel(column) + " = " + ColumnWords(column, TextOf(e, "value"));
}

// Answers worth a line: the own details announced, and a host message sent
// by hand ("!msg 30013"). A status change and a send show their outcome in
// their own events.
std::string Answer(const std::string&, const EventJson& e, FrontState&) {
  const long long id = NumberOf(e, "id");
  if (id == kMsgPublishDetails) return "*** Twoje dane ogłoszone w sieci.";
  if (id == kMsgSetStatus || id == kMsgSendMessage) return {};
  std::string out =
      "*** Odpowiedź na " + std::to_string(id) + ": " + std::to_string(NumberOf(e, "answer"));
  if (e.contains("text")) out += " („" + TextOf(e, "text") + "”)";
  return out;
}

std::string PagePressed(const std::string&, const EventJson& e, FrontState&) {
  if (NumberOf(e, "action") == kItemHelp) return "*** Otwieram pomoc wtyczki.";
  return "*** Naciśnięto przycisk " + std::to_string(NumberOf(e, "action")) + ".";
}

std::string HelpDocument(const std::string&, const EventJson& e, FrontState&) {
  if (e.value("opened", false)) return "*** Otwieram pomoc wtyczki: " + TextOf(e, "path");
  return "*** Nie udało się otworzyć pomocy: " + TextOf(e, "reason") +
         ". Dokument: " + TextOf(e, "path");
}

std::string Web(const std::string&, const EventJson& e, FrontState&) {
  return "*** Strona w przeglądarce: " + TextOf(e, "url");
}

std::string ClockTurned(const std::string&, const EventJson& e, FrontState&) {
  return "*** Zegar przestawiony o " + std::to_string(NumberOf(e, "seconds")) + " s.";
}

std::string ActionDone(const std::string& event, const EventJson&, FrontState&) {
  return event == "action-done" ? "*** Wykonano." : "*** Ta akcja nie jest teraz dostępna.";
}

// Anything else: its fields as they stand.
std::string Fields(const std::string& event, const EventJson& e) {
  std::string out = "*** " + event + ":";
  for (const auto& [key, value] : e.items()) {
    if (key == "event") continue;
    if (value.is_string()) {
      out += " " + key + "=" + value.get<std::string>();
    } else if (value.is_number() || value.is_boolean()) {
      out += " " + key + "=" + value.dump();
    }
  }
  return out;
}

struct EventView {
  const char* event;
  Renderer render;  // null: machinery a person need not see
};

constexpr EventView kViews[] = {
    {"started", Started},
    {"message", Message},
    {"sending", Sending},
    {"send-result", SendResult},
    {"contact-status", ContactStatus},
    {"own-status", OwnStatus},
    {"message-box", Box},
    {"notice-opened", Box},
    {"notice-closed", NoticeClosed},
    {"contact-added", ContactAdded},
    {"contact-removed", ContactRemoved},
    {"menu", RenderStatusMenu},
    {"page", RenderSettingsPage},
    {"menu-chosen", RenderMenuChosen},
    {"setting", RenderSetting},
    {"contacts", Contacts},
    {"history", History},
    {"error", Error},
    {"ignored", Ignored},
    {"unignored", Ignored},
    {"ignored-list", IgnoredList},
    {"cancel", Cancel},
    {"chat", Chat},
    {"search-started", SearchStarted},
    {"found-contact", FoundContact},
    {"search-ended", SearchEnded},
    {"results", Results},
    {"details", Details},
    {"details-updated", Details},
    {"details-unanswered", DetailsUnanswered},
    {"help-document", HelpDocument},
    {"own-details", OwnDetails},
    {"own", Own},
    {"answer", Answer},
    {"page-pressed", PagePressed},
    {"web", Web},
    {"action-done", ActionDone},
    {"action-withdrawn", ActionDone},
    {"clock", ClockTurned},
    {"icons", nullptr},
    {"actions", nullptr},
    {"host-message", nullptr},
    {"to-plugin", nullptr},
    {"service", nullptr},
    {"waited", nullptr},
    {"quit", nullptr},
    {"help", nullptr},
};

}  // namespace

std::string StatusName(int status) {
  switch (status) {
    case kStatusAvailable:
      return "Dostępny";
    case kStatusBrb:
      return "Zaraz wracam";
    case kStatusDnd:
      return "Nie przeszkadzać";
    case kStatusOffline:
      return "Niedostępny";
    case kStatusAway:
      return "Nieobecny (automatycznie)";
    default:
      return "stan " + std::to_string(status);
  }
}

bool CallsForAttention(const EventJson& e, const FrontState& state) {
  return state.ownStatus != kStatusDnd && TextOf(e, "event") == "message" &&
         NumberOf(e, "type", kMessageTypeChat) == kMessageTypeChat && !TextOf(e, "from").empty();
}

std::string RenderEvent(const EventJson& e, FrontState& state) {
  const std::string event = TextOf(e, "event");
  for (const EventView& view : kViews) {
    if (event != view.event) continue;
    return view.render ? view.render(event, e, state) : std::string();
  }
  return Fields(event, e);
}

}  // namespace vask::host
