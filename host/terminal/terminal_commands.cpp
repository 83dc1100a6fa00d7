#include "host/terminal/terminal_commands.h"

#include <cstdlib>

#include "abi/host_ids.h"
#include "host/commands/command_line.h"
#include "host/commands/command_table.h"
#include "host/commands/contact_columns.h"
#include "host/commands/script_host.h"
#include "host/commands/sent_messages.h"
#include "host/terminal/event_rendering.h"
#include "host/terminal/page_rendering.h"
#include "host/text/computer_name.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

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
    // "own miasto" fills the column a search's city is matched against too.
    t->commands.push_back("own " + key + " " + value);
  }
  if (!pairs.empty()) t->commands.push_back("publish");
  t->commands.push_back("own-details");
}

// A typed command line: its words (the third holds the rest), the line,
// what the terminal remembers, and the translation being made.
struct TypedLine {
  std::vector<std::string> words;
  const std::string& line;
  FrontState& state;
  Translation& t;
  // The line after the command and one blank.
  std::string Rest() const {
    return line.size() > words[0].size() ? line.substr(words[0].size() + 1) : "";
  }
};

// The typed commands that are more than their scripted command with the
// rest of the line; their rows (names, usage, help) are in the command
// table.
using Translate = void (*)(const TypedLine& typed, const CommandRow& row);

void Msg(const TypedLine& typed, const CommandRow&) {
  const auto& w = typed.words;
  typed.state.partner = ComputerOf(w[1]);
  if (w.size() == 3) {
    typed.t.commands.push_back("send " + typed.state.partner + " " + w[2]);
  } else {
    typed.t.reply = "Rozmowa z " + typed.state.partner + ".";
  }
}

void Reply(const TypedLine& typed, const CommandRow&) {
  FrontState& state = typed.state;
  if (state.lastSender.empty()) {
    typed.t.reply = "Nikt jeszcze do ciebie nie pisał.";
    return;
  }
  state.partner = state.lastSender;
  const std::string rest = typed.Rest();
  if (!rest.empty()) {
    typed.t.commands.push_back("send " + state.partner + " " + rest);
  } else {
    typed.t.reply = "Rozmowa z " + state.partner + ".";
  }
}

void Status(const TypedLine& typed, const CommandRow& row) {
  const auto& w = typed.words;
  if (w.size() < 2) {  // the status as it stands
    const FrontState& state = typed.state;
    typed.t.reply = "Twój status: " + StatusName(state.ownStatus) +
                    (state.ownText.empty() ? "" : " (" + state.ownText + ")") +
                    ". Zmiana: " + row.typedUsage;
    return;
  }
  auto status = ParseStatus(w[1]);
  if (!status) {
    typed.t.reply = "Nieznany stan: " + w[1] + " (dostępny, zw, np, niedostępny)";
    return;
  }
  typed.t.commands.push_back(std::string(row.name) + " " + std::to_string(*status) +
                             (w.size() == 3 ? " " + w[2] : ""));
}

void Details(const TypedLine& typed, const CommandRow& row) {
  const auto& w = typed.words;
  if (Lower(w[1]) == "close" && w.size() == 3) {
    typed.t.commands.push_back(std::string(row.name) + " close " + w[2]);
  } else {
    typed.t.commands.push_back(std::string(row.name) + " " + w[1]);
  }
}

void OwnTyped(const TypedLine& typed, const CommandRow&) { Own(typed.Rest(), &typed.t); }

// A message to every computer of the workgroup; the partner stays.
void ToEverybody(const TypedLine& typed, const CommandRow&) {
  typed.t.commands.push_back(std::string("send ") + kEverybody + " " + typed.Rest());
}

// "/page kanału Biuro": a setting named by a word of its label, a check
// box set with tak or nie. A column number and "press" go as they are.
void Page(const TypedLine& typed, const CommandRow& row) {
  const auto& w = typed.words;
  long long number = 0;
  if (w.size() < 2 || Lower(w[1]) == "press" || ParseNumber(w[1], &number)) {
    typed.t.commands.push_back(std::string(row.name) + typed.line.substr(w[0].size()));
    return;
  }
  const FrontState& state = typed.state;
  if (state.settingLabels.empty()) {
    typed.t.reply = "Nie znam jeszcze ustawień wtyczki: /page je pokaże, z ich nazwami.";
    typed.t.commands.push_back(row.name);
    return;
  }
  const auto column = SettingNamed(state, w[1]);
  if (!column) {
    typed.t.reply = "Żadne ustawienie (albo więcej niż jedno) nie nazywa się „" + w[1] +
                    "”: /page pokazuje ustawienia z ich nazwami.";
    return;
  }
  const std::string& label = state.settingLabels.at(*column);
  if (w.size() < 3) {
    typed.t.reply = "Podaj wartość: /page " + SettingWord(state, *column) +
                    (state.checkBoxes.count(*column) ? " tak|nie" : " TEKST") + " („" + label +
                    "”).";
    return;
  }
  std::string value = w[2];
  if (state.checkBoxes.count(*column)) {
    const auto on = CheckBoxValue(w[2]);
    if (!on) {
      typed.t.reply = "„" + label + "” to pole wyboru: tak albo nie.";
      return;
    }
    value = *on ? "1" : "0";
  }
  typed.t.commands.push_back(std::string(row.name) + " " + std::to_string(*column) + " " + value);
}

void Help(const TypedLine& typed, const CommandRow&) { typed.t.reply = TypedCommandsHelp(); }

const std::pair<const char*, Translate> kTranslations[] = {
    {"/msg", Msg},      {"/r", Reply},   {"/status", Status},   {"/details", Details},
    {"/own", OwnTyped}, {"/help", Help}, {"/all", ToEverybody}, {"/page", Page}};

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
  static const std::vector<std::string> kCommands = [] {
    std::vector<std::string> words;
    for (const CommandRow& row : CommandTable()) {
      for (const std::string& typed : SplitWords(row.typed)) words.push_back(typed);
    }
    words.push_back("/vask cloak");
    return words;
  }();
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
  const TypedLine typedLine{SplitWords(line, 3), line, state, t};
  const std::string command = Lower(typedLine.words[0]);
  const CommandRow* row = FindTypedCommand(command);
  if (row == nullptr) {  // the plug-in's own chat commands
    t.commands.push_back("chat " + line);
    return t;
  }
  if (typedLine.words.size() < row->typedArguments + 1) {
    t.reply = std::string("Użycie: ") + row->typedUsage;
    return t;
  }
  for (const auto& [name, translate] : kTranslations) {
    if (command == name) {
      translate(typedLine, *row);
      return t;
    }
  }
  // The scripted command, with the rest of the line as it was typed.
  t.commands.push_back(row->name + line.substr(typedLine.words[0].size()));
  return t;
}

}  // namespace vask::host
