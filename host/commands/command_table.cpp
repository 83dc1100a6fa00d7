#include "host/commands/command_table.h"

#include "host/commands/basic_commands.h"
#include "host/commands/declared_ui.h"
#include "host/commands/face_commands.h"
#include "host/commands/help_document.h"
#include "host/commands/search_commands.h"
#include "host/text/text_table.h"

namespace vask::host {

namespace {

// The /help headings.
constexpr const char* kTalk = "Rozmowa";
constexpr const char* kStatus = "Stan";
constexpr const char* kContacts = "Kontakty";
constexpr const char* kSearch = "Szukanie";
constexpr const char* kOwn = "Twoje dane";
constexpr const char* kSettings = "Ustawienia i pomoc";
constexpr const char* kOther = "Inne";

// The width of the typed form's column in /help.
constexpr size_t kTypedColumn = 24;

// name, typed, usage, typed usage, typed help, heading, words, typed
// arguments, handler. Rows without a name are the terminal's alone (its
// translation is in terminal_commands.cpp); rows without a typed usage are
// the scripted mode's (the terminal reaches them with "!").
const std::vector<CommandRow> kCommands = {
    {"", "", "", "zwykły wiersz", "wiadomość do rozmówcy, którego podaje znak zachęty (BOB> )",
     kTalk, 0, 0, nullptr},
    {"", "/msg", "", "/msg NAZWA [tekst]", "rozmowa z NAZWA; odtąd zwykłe wiersze idą do niego",
     kTalk, 0, 1, nullptr},
    {"", "/r", "", "/r [tekst]", "odpowiedź temu, kto pisał ostatni (staje się rozmówcą)", kTalk, 0,
     0, nullptr},
    {"", "/all", "", "/all TEKST",
     "wiadomość do wszystkich komputerów grupy roboczej\n(adresat *; do ciebie nie wraca)", kTalk,
     0, 1, nullptr},
    {"send", "", "<computer> <text>", "", "", "", 3, 0, RunSend},
    {"history", "/history", "[computer]", "/history [NAZWA]", "historia wiadomości z datami", kTalk,
     0, 0, RunHistory},
    {"status", "/status", "<n> [text]", "/status dostępny|zw|np|niedostępny [opis]",
     "stan (albo jego numer) i opis; bez nich pokazuje obecny", kStatus, 3, 0, RunStatus},
    {"describe", "/opis", "[text]", "/opis [tekst]", "nowy opis stanu; bez tekstu czyści opis",
     kStatus, 2, 0, RunDescribe},
    {"away", "", "", "", "", "", 0, 0, RunAwayOrBack},
    {"back", "", "", "", "", "", 0, 0, RunAwayOrBack},
    {"menu", "/menu", "[<n>|<text>]", "/menu [N]", "menu stanu wtyczki; z numerem wybiera pozycję",
     kStatus, 2, 0, RunMenu},
    {"contacts", "/contacts", "", "/contacts", "kontakty i ich stany", kContacts, 0, 0,
     RunContacts},
    {"add", "/add", "<computer>", "/add NAZWA", "dodaje kontakt", kContacts, 0, 1,
     RunContactCommand},
    {"remove", "/remove", "<computer>", "/remove NAZWA", "usuwa kontakt", kContacts, 0, 1,
     RunContactCommand},
    {"ignore", "/ignore", "<computer>", "/ignore NAZWA", "odtąd pomija jego wiadomości", kContacts,
     0, 1, RunContactCommand},
    {"unignore", "/unignore", "<computer>", "/unignore NAZWA", "znów przyjmuje jego wiadomości",
     kContacts, 0, 1, RunContactCommand},
    {"ignored", "/ignored", "", "/ignored", "lista ignorowanych", kContacts, 0, 0, RunIgnoredList},
    {"details", "/details", "[open|close] <computer>", "/details NAZWA | /details close NAZWA",
     "pobiera i pokazuje dane kontaktu; close zamyka", kContacts, 0, 1, RunDetails},
    {"action", "/action", "<id> <computer>|me", "/action ID NAZWA|me",
     "akcja kontaktu zadeklarowana przez wtyczkę", kContacts, 3, 0, RunAction},
    {"search", "/search",
     "[komputer=..] [imie=..] [nazwisko=..] [opis=..] [miasto=..] [email=..] [stan=n] [plec=n] "
     "[od=rok] [do=rok]",
     "/search [klucz=wartość ...]",
     "klucze: komputer, imię, nazwisko, miasto, email, opis,\n"
     "płeć (kobieta albo mężczyzna), od, do (rok urodzenia)",
     kSearch, 0, 0, RunSearch},
    {"results", "/results", "", "/results", "wyniki ostatniego szukania", kSearch, 0, 0,
     RunResults},
    {"cancel", "/cancel", "", "/cancel", "przerywa szukanie", kSearch, 0, 0, RunCancel},
    {"", "/own", "", "/own [klucz=wartość ...]",
     "bez kluczy pokazuje twoje dane; z nimi zmienia je i ogłasza\n"
     "w sieci, np. /own imię=Ala miasto=Kraków (klucze jak w /search)",
     kOwn, 0, 0, nullptr},
    {"own", "", "[<column> [value]]", "", "", "", 3, 0, RunOwn},
    {"own-details", "", "", "", "", "", 0, 0, RunOwnDetails},
    {"publish", "", "", "", "", "", 0, 0, RunPublish},
    {"page", "/page", "[<column> <value> | press <action>]", "/page [NAZWA WARTOŚĆ]",
     "strona ustawień wtyczki; z nazwą ustawienia (słowem z jego\nopisu na stronie) zmienia je, "
     "np. /page kanału Biuro,\n/page winpopup nie",
     kSettings, 3, 0, RunPage},
    {"help-document", "/pomoc", "", "/pomoc", "dokument pomocy wtyczki", kSettings, 0, 0,
     RunHelpDocument},
    {"help", "/help", "", "/help", "ten tekst", kSettings, 0, 0, RunHelp},
    {"msg", "", "<id> [p1 [p2 [p3 [p4]]]]", "", "", "", 0, 0, RunMsg},
    {"set", "", "<column> <value>", "", "", "", 3, 0, RunSetting},
    {"get", "", "<column>", "", "", "", 3, 0, RunSetting},
    {"icons", "", "", "", "", "", 0, 0, RunIcons},
    {"actions", "", "", "", "", "", 0, 0, RunActions},
    {"wait", "", "<ms>", "", "", "", 0, 0, RunWait},
    {"clock", "", "+<seconds>", "", "", "", 0, 0, RunClock, true},
    {"quit", "/quit", "", "/quit", "koniec (także Ctrl-D); inni widzą, że wychodzisz", kOther, 0, 0,
     RunQuit},
    {"chat", "", "<text>", "inne /polecenie", "idzie do wtyczki, np. /vask cloak", kOther, 2, 0,
     RunChat},
    {"", "", "", "!polecenie", "polecenie trybu skryptowego (vask-host --help je wypisuje)", kOther,
     0, 0, nullptr},
};

// Whether `typed`, one of a row's blank-separated typed commands, is `word`.
bool NamesTyped(std::string_view typed, std::string_view word) {
  while (!typed.empty()) {
    const size_t end = typed.find(' ');
    if (typed.substr(0, end) == word) return true;
    if (end == std::string_view::npos) break;
    typed.remove_prefix(end + 1);
  }
  return false;
}

std::string WithUsage(const CommandRow& row) {
  return *row.usage ? std::string(row.name) + " " + row.usage : std::string(row.name);
}

}  // namespace

const std::vector<CommandRow>& CommandTable() { return kCommands; }

const CommandRow* FindCommand(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const CommandRow& row : kCommands) {
    if (row.name == name && row.run != nullptr) return &row;
  }
  return nullptr;
}

const CommandRow* FindTypedCommand(std::string_view typed) {
  if (typed.empty()) return nullptr;
  for (const CommandRow& row : kCommands) {
    if (NamesTyped(row.typed, typed)) return &row;
  }
  return nullptr;
}

std::string ScriptedCommandsHelp() {
  std::string help;
  for (const CommandRow& row : kCommands) {
    if (row.run == nullptr || row.automation) continue;
    help += (help.empty() ? "" : " | ") + WithUsage(row);
  }
  return help;
}

std::string ScriptedCommandsUsage() {
  std::string usage;
  for (const CommandRow& row : kCommands) {
    if (row.run == nullptr) continue;
    usage += "  " + WithUsage(row) + (row.automation ? "   (tylko testy i automaty)" : "") + "\n";
  }
  return usage;
}

std::string TypedCommandsHelp() {
  std::string help;
  const char* heading = "";
  const std::string indent(2 + kTypedColumn + 1, ' ');
  for (const CommandRow& row : kCommands) {
    if (*row.typedUsage == '\0' || row.automation) continue;
    if (std::string_view(heading) != row.section) {
      heading = row.section;
      help += std::string(help.empty() ? "" : "\n") + heading;
    }
    std::string line = "  " + std::string(row.typedUsage);
    const size_t width = TextWidth(row.typedUsage);
    line += width < kTypedColumn ? std::string(kTypedColumn - width + 1, ' ') : "  ";
    for (const char c : std::string_view(row.typedHelp)) {
      line += c;
      if (c == '\n') line += indent;
    }
    help += "\n" + line;
  }
  return help;
}

}  // namespace vask::host
