#include "host/terminal/terminal_commands.h"

#include <cstdlib>

#include "abi/host_ids.h"
#include "host/commands/command_line.h"
#include "host/commands/contact_columns.h"
#include "host/commands/script_host.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

constexpr const char* kHelp =
    "Rozmowa\n"
    "  zwykły wiersz            wiadomość do rozmówcy, którego podaje znak zachęty (BOB> )\n"
    "  /msg NAZWA [tekst]       rozmowa z NAZWA; odtąd zwykłe wiersze idą do niego\n"
    "  /r [tekst]               odpowiedź temu, kto pisał ostatni (staje się rozmówcą)\n"
    "  /history [NAZWA]         historia wiadomości z datami\n"
    "Stan\n"
    "  /status STAN [opis]      dostępny | zw | np | niedostępny (albo numer)\n"
    "  /opis [tekst]            nowy opis stanu; bez tekstu czyści opis\n"
    "  /menu [N]                menu stanu wtyczki; z numerem wybiera pozycję\n"
    "Kontakty\n"
    "  /contacts                kontakty i ich stany\n"
    "  /add NAZWA, /remove NAZWA\n"
    "  /ignore NAZWA, /unignore NAZWA, /ignored   (ta ostatnia: lista ignorowanych)\n"
    "  /details NAZWA           pobiera i pokazuje dane kontaktu\n"
    "  /action ID NAZWA|me      akcja kontaktu zadeklarowana przez wtyczkę\n"
    "Szukanie\n"
    "  /search [klucz=wartość ...]  klucze: komputer, imię, nazwisko, miasto, email, opis,\n"
    "                           stan, płeć (1 kobieta, 2 mężczyzna), od, do (rok urodzenia)\n"
    "  /results                 wyniki ostatniego szukania; /cancel przerywa szukanie\n"
    "Twoje dane\n"
    "  /own                     pokazuje twoje dane\n"
    "  /own imię=Ala miasto=Kraków   zmienia je i ogłasza w sieci (klucze jak w /search)\n"
    "Ustawienia i pomoc\n"
    "  /page                    strona ustawień wtyczki\n"
    "  /page KOLUMNA WARTOŚĆ    zmienia ustawienie, np. /page 15003 0\n"
    "  /pomoc                   dokument pomocy wtyczki\n"
    "  /help                    ten tekst\n"
    "Inne\n"
    "  /quit                    koniec (także Ctrl-D); peers widzą, że wychodzisz\n"
    "  inne /polecenie idzie do wtyczki, np. /vask cloak\n"
    "  !polecenie               polecenie trybu skryptowego, np. !msg 30013";

// A computer name as the network knows it: in capitals ("bob" is BOB). A
// name that cannot be one stays as typed; the send then says why.
std::string ComputerOf(const std::string& typed) {
  auto name = ComputerNameFromUtf8(typed);
  return name ? Cp1250ToUtf8(*name) : typed;
}

// "/own imię=Ala miasto=Nowy Sącz": one scripted "own" a pair, then the
// details go out to everybody and are shown.
void Own(const std::string& rest, Translation* t) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!ParsePairs(SplitWords(rest), 0, &pairs)) {
    t->reply = "Użycie: /own [klucz=wartość ...], np. /own imię=Ala miasto=Kraków";
    return;
  }
  for (const auto& [key, value] : pairs) {
    if (!ColumnForKey(key)) {
      t->reply =
          "Nieznane pole: " + key + " (imię, nazwisko, pseudonim, miasto, email, opis, rok, płeć)";
      t->commands.clear();
      return;
    }
    t->commands.push_back("own " + key + " " + value);
    // A search's city is matched against its own column: one city answers both.
    if (ColumnForKey(key) == kColumnCity) {
      t->commands.push_back("own " + std::to_string(kColumnQueryCity) + " " + value);
    }
  }
  if (!pairs.empty()) t->commands.push_back("publish");
  t->commands.push_back("own-details");
}

}  // namespace

std::optional<int> ParseStatus(const std::string& word) {
  static const std::pair<const char*, int> kWords[] = {{"dostępny", kStatusAvailable},
                                                       {"dostepny", kStatusAvailable},
                                                       {"available", kStatusAvailable},
                                                       {"online", kStatusAvailable},
                                                       {"zw", kStatusBrb},
                                                       {"zaraz", kStatusBrb},
                                                       {"brb", kStatusBrb},
                                                       {"np", kStatusDnd},
                                                       {"nie", kStatusDnd},
                                                       {"dnd", kStatusDnd},
                                                       {"zajęty", kStatusDnd},
                                                       {"zajety", kStatusDnd},
                                                       {"niedostępny", kStatusOffline},
                                                       {"niedostepny", kStatusOffline},
                                                       {"offline", kStatusOffline},
                                                       {"away", kStatusAway}};
  std::string w = Lower(word);
  for (const auto& [name, status] : kWords) {
    if (w == name) return status;
  }
  char* end = nullptr;
  long value = std::strtol(word.c_str(), &end, 10);
  if (!word.empty() && *end == '\0') return static_cast<int>(value);
  return std::nullopt;
}

const std::vector<std::string>& CommandWords() {
  static const std::vector<std::string> kCommands = {
      "/msg",      "/r",       "/status",  "/opis",   "/add",       "/remove",
      "/contacts", "/search",  "/results", "/cancel", "/details",   "/ignore",
      "/unignore", "/ignored", "/history", "/menu",   "/page",      "/pomoc",
      "/own",      "/action",  "/help",    "/quit",   "/vask cloak"};
  return kCommands;
}

const std::vector<std::string>& ArgumentWords() {
  static const std::vector<std::string> kWords = {
      "dostępny", "zw",     "np",         "niedostępny", "close",     "imię=", "nazwisko=",
      "miasto=",  "email=", "pseudonim=", "opis=",       "komputer=", "stan=", "płeć="};
  return kWords;
}

Translation TranslateLine(const std::string& typed, FrontState& state) {
  Translation t;
  std::string line = typed;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
    line.pop_back();
  }
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return t;
  line = line.substr(start);
  if (line[0] == '!') {  // a scripted command as it stands
    t.commands.push_back(line.substr(1));
    return t;
  }
  if (line[0] != '/') {
    if (state.partner.empty()) {
      t.reply = "Do kogo? Zacznij od /msg NAZWA" +
                (state.lastSender.empty() ? std::string(".")
                                          : " albo /r (odpowiedź dla " + state.lastSender + ").");
    } else {
      t.commands.push_back("send " + state.partner + " " + line);
    }
    return t;
  }
  std::vector<std::string> w = SplitWords(line, 3);
  const std::string command = Lower(w[0]);
  const std::string rest = line.size() > w[0].size() ? line.substr(w[0].size() + 1) : "";
  auto need = [&](size_t words, const char* usage) {
    if (w.size() >= words) return true;
    t.reply = std::string("Użycie: ") + usage;
    return false;
  };
  if (command == "/msg") {
    if (!need(2, "/msg NAZWA [tekst]")) return t;
    state.partner = ComputerOf(w[1]);
    if (w.size() == 3) {
      t.commands.push_back("send " + state.partner + " " + w[2]);
    } else {
      t.reply = "Rozmowa z " + state.partner + ".";
    }
  } else if (command == "/r") {
    if (state.lastSender.empty()) {
      t.reply = "Nikt jeszcze do ciebie nie pisał.";
      return t;
    }
    state.partner = state.lastSender;
    if (!rest.empty()) {
      t.commands.push_back("send " + state.partner + " " + rest);
    } else {
      t.reply = "Rozmowa z " + state.partner + ".";
    }
  } else if (command == "/status") {
    if (!need(2, "/status dostępny|zw|np|niedostępny [opis]")) return t;
    auto status = ParseStatus(w[1]);
    if (!status) {
      t.reply = "Nieznany stan: " + w[1] + " (dostępny, zw, np, niedostępny)";
      return t;
    }
    t.commands.push_back("status " + std::to_string(*status) + (w.size() == 3 ? " " + w[2] : ""));
  } else if (command == "/opis") {
    t.commands.push_back(rest.empty() ? "describe" : "describe " + rest);
  } else if (command == "/add" || command == "/remove" || command == "/ignore" ||
             command == "/unignore") {
    if (!need(2, (command + " NAZWA").c_str())) return t;
    t.commands.push_back(command.substr(1) + " " + w[1]);
  } else if (command == "/contacts" || command == "/cancel" || command == "/quit" ||
             command == "/results" || command == "/ignored") {
    t.commands.push_back(command.substr(1));
  } else if (command == "/search" || command == "/history" || command == "/menu" ||
             command == "/page" || command == "/action") {
    t.commands.push_back(command.substr(1) + line.substr(w[0].size()));
  } else if (command == "/details") {
    if (!need(2, "/details NAZWA | /details close NAZWA")) return t;
    if (Lower(w[1]) == "close" && w.size() == 3) {
      t.commands.push_back("details close " + w[2]);
    } else {
      t.commands.push_back("details " + w[1]);
    }
  } else if (command == "/own") {
    Own(rest, &t);
  } else if (command == "/pomoc") {
    t.commands.push_back("page press " + std::to_string(kItemHelp));
  } else if (command == "/help") {
    t.reply = kHelp;
  } else {
    t.commands.push_back("chat " + line);
  }
  return t;
}

}  // namespace vask::host
