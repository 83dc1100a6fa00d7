#include "host/terminal_commands.h"

#include <cctype>
#include <cstdlib>

#include "abi/host_ids.h"
#include "host/script_host.h"

namespace vask::host {

namespace {

constexpr const char* kHelp =
    "  /msg NAZWA tekst        wiadomość do NAZWA (kolejne wiersze bez / idą do niego)\n"
    "  /status STAN [opis]     dostępny | zw | np | niedostępny (albo numer)\n"
    "  /add NAZWA, /remove NAZWA, /contacts, /ignore NAZWA, /unignore NAZWA\n"
    "  /search [kryteria]      szukanie w sieci; /cancel przerywa\n"
    "  /details NAZWA          okno szczegółów kontaktu (/details close NAZWA)\n"
    "  /history [NAZWA]        historia wiadomości\n"
    "  /menu [N|NAZWA]         menu stanu wtyczki; z pozycją: wybiera ją\n"
    "  /page [KOLUMNA WARTOŚĆ] strona ustawień wtyczki; z kolumną: zmienia ją\n"
    "  /action ID NAZWA|me     akcja kontaktu wtyczki\n"
    "  /quit                   koniec (także Ctrl-D)\n"
    "  inne /polecenie idzie do wtyczki, np. /vask cloak\n"
    "  polecenia trybu skryptowego po !, np. !msg 30013";

}  // namespace

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<int> ParseStatus(const std::string& word) {
  static const std::pair<const char*, int> kWords[] = {
      {"dostępny", kStatusAvailable}, {"dostepny", kStatusAvailable},
      {"available", kStatusAvailable}, {"online", kStatusAvailable},
      {"zw", kStatusBrb}, {"zaraz", kStatusBrb}, {"brb", kStatusBrb},
      {"np", kStatusDnd}, {"nie", kStatusDnd}, {"dnd", kStatusDnd},
      {"zajęty", kStatusDnd}, {"zajety", kStatusDnd},
      {"niedostępny", kStatusOffline}, {"niedostepny", kStatusOffline},
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
      "/msg",     "/status", "/add",     "/remove", "/contacts", "/search",
      "/cancel",  "/details", "/ignore", "/unignore", "/history", "/menu",
      "/page",    "/action", "/help",    "/quit",   "/vask cloak"};
  return kCommands;
}

const std::vector<std::string>& ArgumentWords() {
  static const std::vector<std::string> kWords = {"dostępny", "zw", "np", "niedostępny", "close"};
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
      t.reply = "Do kogo? Zacznij od /msg NAZWA tekst.";
    } else {
      t.commands.push_back("send " + state.partner + " " + line);
    }
    return t;
  }
  std::vector<std::string> w = SplitWords(line, 3);
  const std::string command = Lower(w[0]);
  auto need = [&](size_t words, const char* usage) {
    if (w.size() >= words) return true;
    t.reply = std::string("Użycie: ") + usage;
    return false;
  };
  if (command == "/msg") {
    if (!need(2, "/msg NAZWA [tekst]")) return t;
    state.partner = w[1];
    if (w.size() == 3) {
      t.commands.push_back("send " + w[1] + " " + w[2]);
    } else {
      t.reply = "Rozmowa z " + w[1] + ".";
    }
  } else if (command == "/status") {
    if (!need(2, "/status dostępny|zw|np|niedostępny [opis]")) return t;
    auto status = ParseStatus(w[1]);
    if (!status) {
      t.reply = "Nieznany stan: " + w[1] + " (dostępny, zw, np, niedostępny)";
      return t;
    }
    t.commands.push_back("status " + std::to_string(*status) + (w.size() == 3 ? " " + w[2] : ""));
  } else if (command == "/add" || command == "/remove" || command == "/ignore" ||
             command == "/unignore") {
    if (!need(2, (command + " NAZWA").c_str())) return t;
    t.commands.push_back(command.substr(1) + " " + w[1]);
  } else if (command == "/contacts" || command == "/cancel" || command == "/quit") {
    t.commands.push_back(command.substr(1));
  } else if (command == "/search" || command == "/history" || command == "/menu" ||
             command == "/page" || command == "/action") {
    t.commands.push_back(command.substr(1) + line.substr(w[0].size()));
  } else if (command == "/details") {
    if (!need(2, "/details NAZWA | /details close NAZWA")) return t;
    if (Lower(w[1]) == "close" && w.size() == 3) {
      t.commands.push_back("details close " + w[2]);
    } else {
      t.commands.push_back("details open " + w[1]);
    }
  } else if (command == "/help") {
    t.reply = kHelp;
  } else {
    t.commands.push_back("chat " + line);
  }
  return t;
}

}  // namespace vask::host
