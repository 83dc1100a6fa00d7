#include "host/interactive.h"

#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <memory>
#include <optional>

#include "host/text_codec.h"

namespace vask::host {

namespace {

// The event lines' JSON: objects, arrays, texts, integers, true, false, null.
struct Json {
  enum Kind { kNull, kBool, kNumber, kText, kArray, kObject } kind = kNull;
  long long number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Get(const std::string& key) const {
    for (const auto& [k, v] : members) {
      if (k == key) return &v;
    }
    return nullptr;
  }
  std::string Text(const std::string& key) const {
    const Json* v = Get(key);
    return v && v->kind == kText ? v->text : std::string();
  }
  long long Number(const std::string& key, long long otherwise = 0) const {
    const Json* v = Get(key);
    if (!v) return otherwise;
    if (v->kind == kBool) return v->number;
    return v->kind == kNumber ? v->number : otherwise;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : s_(s) {}
  std::optional<Json> Read() {
    Json v;
    if (!Value(v, 0)) return std::nullopt;
    Blank();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Blank() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Literal(const char* word) {
    size_t n = std::strlen(word);
    if (s_.compare(i_, n, word) != 0) return false;
    i_ += n;
    return true;
  }
  static void PutUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool String(std::string& out) {
    if (i_ >= s_.size() || s_[i_] != '"') return false;
    ++i_;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          unsigned code = static_cast<unsigned>(std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16));
          i_ += 4;
          PutUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  bool Value(Json& v, int depth) {
    if (depth > 16) return false;
    Blank();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '"') {
      v.kind = Json::kText;
      return String(v.text);
    }
    if (c == '{' || c == '[') {
      bool object = c == '{';
      v.kind = object ? Json::kObject : Json::kArray;
      ++i_;
      Blank();
      if (i_ < s_.size() && s_[i_] == (object ? '}' : ']')) {
        ++i_;
        return true;
      }
      for (;;) {
        Blank();
        std::string key;
        if (object) {
          if (!String(key)) return false;
          Blank();
          if (i_ >= s_.size() || s_[i_++] != ':') return false;
        }
        Json item;
        if (!Value(item, depth + 1)) return false;
        if (object) {
          v.members.emplace_back(std::move(key), std::move(item));
        } else {
          v.items.push_back(std::move(item));
        }
        Blank();
        if (i_ >= s_.size()) return false;
        char next = s_[i_++];
        if (next == ',') continue;
        return next == (object ? '}' : ']');
      }
    }
    if (Literal("true")) {
      v.kind = Json::kBool;
      v.number = 1;
      return true;
    }
    if (Literal("false")) {
      v.kind = Json::kBool;
      return true;
    }
    if (Literal("null")) return true;
    char* end = nullptr;
    v.number = std::strtoll(s_.c_str() + i_, &end, 10);
    if (end == s_.c_str() + i_) return false;
    v.kind = Json::kNumber;
    i_ = static_cast<size_t>(end - s_.c_str());
    return true;
  }

  const std::string& s_;
  size_t i_ = 0;
};

std::string Clock(long long seconds) {
  std::time_t t = seconds > 0 ? static_cast<std::time_t>(seconds) : std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "[%H:%M]", &local);
  return buffer;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Status words a person may type: the names without their Polish letters,
// short forms and English ones; a number is taken as it stands.
std::optional<int> ParseStatus(const std::string& word) {
  static const std::pair<const char*, int> kWords[] = {
      {"dostępny", 64}, {"dostepny", 64}, {"available", 64}, {"online", 64},
      {"zw", 65}, {"zaraz", 65}, {"brb", 65},
      {"np", 34}, {"nie", 34}, {"dnd", 34}, {"zajęty", 34}, {"zajety", 34},
      {"niedostępny", 0}, {"niedostepny", 0}, {"offline", 0},
      {"away", 68}};
  std::string w = Lower(word);
  for (const auto& [name, status] : kWords) {
    if (w == name) return status;
  }
  char* end = nullptr;
  long value = std::strtol(word.c_str(), &end, 10);
  if (!word.empty() && *end == '\0') return static_cast<int>(value);
  return std::nullopt;
}

constexpr const char* kHelp =
    "  /msg NAZWA tekst        wiadomość do NAZWA (kolejne wiersze bez / idą do niego)\n"
    "  /status STAN [opis]     dostępny | zw | np | niedostępny (albo numer)\n"
    "  /add NAZWA, /remove NAZWA, /contacts, /ignore NAZWA, /unignore NAZWA\n"
    "  /search [kryteria]      szukanie w sieci; /cancel przerywa\n"
    "  /details NAZWA          okno szczegółów kontaktu (/details close NAZWA)\n"
    "  /history [NAZWA]        historia wiadomości\n"
    "  /menu [N|NAZWA]         menu stanu wtyczki; z pozycją: wybiera ją\n"
    "  /page [KOLUMNA WARTOŚĆ] strona ustawień wtyczki; z kolumną: zmienia ją\n"
    "  /action ID NAZWA|me     akcja kontaktu wtyczki\n"    "  /quit                   koniec (także Ctrl-D)\n"
    "  inne /polecenie idzie do wtyczki, np. /vask cloak\n"
    "  polecenia trybu skryptowego po !, np. !msg 30013";

const char* const kCommands[] = {"/msg", "/status", "/add", "/remove", "/contacts", "/search",
                                 "/cancel", "/details", "/ignore", "/unignore", "/history",
                                 "/menu", "/page", "/action", "/help", "/quit", "/vask cloak"};

}  // namespace

std::string StatusName(int status) {
  switch (status) {
    case 64: return "Dostępny";
    case 65: return "Zaraz wracam";
    case 34: return "Nie przeszkadzać";
    case 0: return "Niedostępny";
    case 68: return "away";
    default: return "status " + std::to_string(status);
  }
}

Translation TranslateLine(const std::string& typed, FrontState& state) {
  Translation t;
  std::string line = typed;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
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
  } else if (command == "/add" || command == "/remove" || command == "/ignore" || command == "/unignore") {
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

std::string RenderEvent(const std::string& jsonLine, FrontState& state) {
  auto parsed = JsonReader(jsonLine).Read();
  if (!parsed || parsed->kind != Json::kObject) return jsonLine;  // shown as it came
  const Json& e = *parsed;
  const std::string event = e.Text("event");
  auto described = [](const std::string& status, const std::string& text) {
    return text.empty() ? status : status + " (" + text + ")";
  };
  if (event == "started") {
    state.computer = e.Text("computer");
    return "*** " + e.Text("computer") + " w grupie " + e.Text("workgroup") + ", sieć " + e.Text("lanDir") +
           ". /help: polecenia";
  }
  if (event == "message") {
    std::string from = e.Text("from");
    if (from.empty()) from = "Vask";
    if (state.partner.empty() && e.Number("type", 1) == 1 && from != "Vask") state.partner = from;
    return Clock(e.Number("time")) + " " + from + ": " + e.Text("body");
  }
  if (event == "sending") {
    return Clock(0) + " " + (state.computer.empty() ? "ja" : state.computer) + " -> " + e.Text("to") + ": " +
           e.Text("body");
  }
  if (event == "send-result") {
    return e.Number("sent") ? std::string() : "!!! Wiadomość " + std::to_string(e.Number("messageId")) +
                                                  " nie została wysłana.";
  }
  if (event == "contact-status") {
    long long contact = e.Number("contact", -1);
    auto found = state.contacts.find(contact);
    std::string name = found != state.contacts.end() ? found->second : "kontakt " + std::to_string(contact);
    return "*** " + name + ": " + described(StatusName(static_cast<int>(e.Number("status"))), e.Text("text"));
  }
  if (event == "own-status") {
    return "*** Twój status: " +
           described(StatusName(static_cast<int>(e.Number("ownStatus"))), e.Text("ownText"));
  }
  if (event == "message-box" || event == "notice-opened") {
    std::string title = e.Text("title").empty() ? "Vask" : e.Text("title");
    return "[" + title + "] " + e.Text("text") + (event == "notice-opened" ? "  (/cancel przerywa)" : "");
  }
  if (event == "notice-closed") {
    return "[" + (e.Text("title").empty() ? std::string("Vask") : e.Text("title")) + "] zamknięte" +
           (e.Number("cancelled") ? " (przerwane)" : "");
  }
  if (event == "contact-added") {
    state.contacts[e.Number("contact")] = e.Text("computer");
    return "*** Dodano kontakt " + e.Text("computer") + ".";
  }
  if (event == "contact-removed") {
    state.contacts.erase(e.Number("contact"));
    return "*** Usunięto kontakt " + e.Text("computer") + ".";
  }
  if (event == "menu") {
    std::string out = "*** Menu stanu " + e.Text("title") + " (/menu N wybiera):";
    if (const Json* list = e.Get("items"); list && list->kind == Json::kArray) {
      for (const Json& item : list->items) {
        out += "\n    " + std::to_string(item.Number("index")) + ". " + item.Text("text");
      }
    }
    return out;
  }
  if (event == "page") {
    std::string out = "*** Ustawienia " + e.Text("title") + " (/page KOLUMNA WARTOŚĆ zmienia):";
    if (const Json* list = e.Get("controls"); list && list->kind == Json::kArray) {
      for (const Json& control : list->items) {
        std::string text = control.Text("text");
        // Control bytes of the host's markup (0x01, 0x03) and line breaks
        // are shown as blanks.
        for (char& c : text) {
          if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        }
        if (text.find_first_not_of(' ') == std::string::npos) continue;
        out += "\n    " + text;
        if (control.Get("column")) {
          out += "  [" + std::to_string(control.Number("column")) + " = " + control.Text("value") + "]";
        }
      }
    }
    return out;
  }
  if (event == "menu-chosen") return "*** Wybrano: " + e.Text("text");
  if (event == "contacts") {
    std::string out = "*** Kontakty (ty: " +
                      described(StatusName(static_cast<int>(e.Number("ownStatus"))), e.Text("ownText")) + "):";
    const Json* list = e.Get("contacts");
    size_t count = 0;
    if (list && list->kind == Json::kArray) {
      for (const Json& c : list->items) {
        state.contacts[c.Number("contact")] = c.Text("computer");
        out += "\n    " + c.Text("computer") + "  " +
               described(StatusName(static_cast<int>(c.Number("status"))), c.Text("text")) +
               (c.Number("ignored") ? "  [ignorowany]" : "");
        ++count;
      }
    }
    return count ? out : out + " brak; /add NAZWA dodaje";
  }
  if (event == "history") {
    std::string out = "*** Historia:";
    const Json* list = e.Get("messages");
    if (list && list->kind == Json::kArray) {
      for (const Json& m : list->items) {
        std::string who = m.Text("from").empty() ? "-> " + m.Text("to") : m.Text("from");
        out += "\n    " + Clock(m.Number("time")) + " " + who + ": " + m.Text("body");
      }
    }
    return out;
  }
  if (event == "error") return "!!! " + e.Text("message");
  if (event == "ignored" || event == "unignored") {
    return "*** " + e.Text("computer") + (event == "ignored" ? " ignorowany." : " już nie ignorowany.");
  }
  if (event == "cancel") return "*** Przerwano okien: " + std::to_string(e.Number("notices")) + ".";
  if (event == "chat") {
    return e.Number("handled") ? std::string() : "!!! Nieznane polecenie: " + e.Text("text") + " (/help)";
  }
  // Machinery a person need not see.
  if (event == "host-message" || event == "to-plugin" || event == "service" || event == "answer" ||
      event == "waited" || event == "quit" || event == "details" || event == "help") {
    return {};
  }
  // Anything else (search results, settings, details): its fields as they stand.
  std::string out = "*** " + event + ":";
  for (const auto& [key, value] : e.members) {
    if (key == "event") continue;
    if (value.kind == Json::kText) {
      out += " " + key + "=" + value.text;
    } else if (value.kind == Json::kNumber || value.kind == Json::kBool) {
      out += " " + key + "=" + std::to_string(value.number);
    }
  }
  return out;
}

namespace {

// The terminal thread's own state: readline calls back without a context.
struct Terminal {
  FrontState state;
  const std::function<void(const std::string&)>* submit = nullptr;
  bool inputEnded = false;
  std::string historyFile;
};
Terminal* gTerminal = nullptr;
int gWordStart = 0;  // where the word being completed begins

void Show(const std::string& text) {
  if (text.empty()) return;
  bool prompting = RL_ISSTATE(RL_STATE_CALLBACK) && !gTerminal->inputEnded;
  if (prompting) rl_clear_visible_line();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (prompting) rl_forced_update_display();
}

void OnLine(char* raw) {
  if (raw == nullptr) {  // Ctrl-D
    gTerminal->inputEnded = true;
    rl_callback_handler_remove();
    (*gTerminal->submit)("quit");
    return;
  }
  std::unique_ptr<char, decltype(&std::free)> owned(raw, &std::free);
  std::string line = raw;
  if (!line.empty()) add_history(raw);
  Translation t = TranslateLine(line, gTerminal->state);
  Show(t.reply);
  for (const std::string& command : t.commands) {
    (*gTerminal->submit)(command);
    if (command == "quit") {
      gTerminal->inputEnded = true;
      rl_callback_handler_remove();
    }
  }
}

char* CompleteWord(const char* text, int state) {
  static std::vector<std::string> matches;
  static size_t next = 0;
  if (state == 0) {
    matches.clear();
    next = 0;
    std::string prefix = text;
    if (gWordStart == 0) {
      for (const char* c : kCommands) {
        if (std::strncmp(c, text, prefix.size()) == 0) matches.emplace_back(c);
      }
    } else {
      for (const auto& [id, name] : gTerminal->state.contacts) {
        if (Lower(name).compare(0, prefix.size(), Lower(prefix)) == 0) matches.push_back(name);
      }
      static const char* const kStatuses[] = {"dostępny", "zw", "np", "niedostępny", "close"};
      for (const char* s : kStatuses) {
        if (std::strncmp(s, text, prefix.size()) == 0) matches.emplace_back(s);
      }
    }
  }
  if (next >= matches.size()) return nullptr;
  return strdup(matches[next++].c_str());
}

char** Complete(const char* text, int start, int) {
  gWordStart = start;
  rl_attempted_completion_over = 1;  // no file names
  return rl_completion_matches(text, CompleteWord);
}

// Readline edits multibyte text only in a UTF-8 locale; the terminal's own
// when it is one, else C.UTF-8.
void UseUtf8() {
  std::setlocale(LC_ALL, "");
  const char* codeset = nl_langinfo(CODESET);
  if (!codeset || std::strcmp(codeset, "UTF-8") != 0) std::setlocale(LC_ALL, "C.UTF-8");
}

}  // namespace

void RunTerminal(int eventsFd, const std::function<void(const std::string&)>& submit) {
  UseUtf8();
  Terminal terminal;
  terminal.submit = &submit;
  gTerminal = &terminal;
  if (const char* home = std::getenv("HOME"); home && *home) {
    terminal.historyFile = std::string(home) + "/.vask_host_history";
    read_history(terminal.historyFile.c_str());
  }
  rl_readline_name = "vask-host";
  rl_attempted_completion_function = Complete;
  rl_completer_word_break_characters = const_cast<char*>(" \t");
  rl_callback_handler_install("> ", OnLine);
  std::string pending;
  bool eventsOpen = true;
  while (eventsOpen) {
    pollfd fds[2] = {{eventsFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    int n = poll(fds, terminal.inputEnded ? 1 : 2, -1);
    if (n < 0) continue;
    if (fds[0].revents) {
      char buffer[4096];
      ssize_t got = read(eventsFd, buffer, sizeof buffer);
      if (got <= 0) {
        eventsOpen = false;
      } else {
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
          Show(RenderEvent(pending.substr(0, end), terminal.state));
          pending.erase(0, end + 1);
        }
      }
    }
    if (!terminal.inputEnded && fds[1].revents) {
      if (fds[1].revents & (POLLHUP | POLLERR)) {
        OnLine(nullptr);
      } else {
        rl_callback_read_char();
      }
    }
  }
  if (!terminal.inputEnded) rl_callback_handler_remove();
  if (!terminal.historyFile.empty()) {
    stifle_history(500);
    write_history(terminal.historyFile.c_str());
  }
  gTerminal = nullptr;
}

bool RunChatCommand(ScriptHost& host, HostCore& core, int plugin, const std::string& line) {
  if (line.compare(0, 5, "chat ") != 0) return false;
  const std::string utf8 = line.substr(5);
  std::string bad;
  auto body = Utf8ToCp1250(utf8, &bad);
  if (!body) {
    host.Error("chat", "the text holds a character Windows-1250 cannot hold: " + bad);
    return true;
  }
  std::string empty;
  MessageRecord record{};
  record.size = sizeof record;
  record.net = NET_LAN;
  record.type = 1;
  record.from = empty.data();
  record.to = empty.data();
  record.body = body->data();
  record.ext = empty.data();
  record.flags = 2;  // typed in the chat window as a command
  record.time = static_cast<int64_t>(std::time(nullptr));
  intptr_t answer = core.Call(plugin, 20100, reinterpret_cast<intptr_t>(&record));
  // 2: the plug-in took the command as its own.
  host.Write(JsonLine().Str("event", "chat").Str("text", utf8).Int("answer", answer).Bool("handled", answer == 2));
  return true;
}

}  // namespace vask::host
