#include "host/terminal/line_editing.h"

#include <langinfo.h>
#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host/terminal/desktop_alert.h"
#include "host/terminal/event_rendering.h"
#include "host/terminal/front_state.h"
#include "host/terminal/idle_watch.h"
#include "host/terminal/terminal_commands.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

// The terminal thread's own state: readline calls back without a context.
struct Terminal {
  FrontState state;
  const std::function<void(const std::string&)>* submit = nullptr;
  bool inputEnded = false;
  bool inHandler = false;  // inside OnLine: the typed line is already on its own row
  std::string prompt;
  std::string historyFile;
};
// Owned by the terminal thread, as is everything readline keeps.
Terminal* gTerminal = nullptr;
int gWordStart = 0;  // where the word being completed begins

// The prompt names whom a plain line goes to.
void UpdatePrompt() {
  const std::string& partner = gTerminal->state.partner;
  std::string prompt = partner.empty() ? "> " : partner + "> ";
  if (prompt == gTerminal->prompt) return;
  gTerminal->prompt = prompt;
  rl_set_prompt(gTerminal->prompt.c_str());
}

// Text above the line being edited. Inside the line handler readline has
// already left the typed line's row and draws the prompt afresh when the
// handler returns; redrawing it here would leave a stale prompt and line.
void Show(const std::string& text) {
  if (text.empty()) return;
  bool prompting = RL_ISSTATE(RL_STATE_CALLBACK) && !gTerminal->inputEnded && !gTerminal->inHandler;
  if (prompting) rl_clear_visible_line();
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  UpdatePrompt();
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
  gTerminal->inHandler = true;
  Translation t = TranslateLine(line, gTerminal->state);
  Show(t.reply);
  UpdatePrompt();
  gTerminal->inHandler = false;
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
      for (const std::string& c : CommandWords()) {
        if (c.compare(0, prefix.size(), prefix) == 0) matches.push_back(c);
      }
    } else {
      for (const auto& [id, name] : gTerminal->state.contacts) {
        if (Lower(name).compare(0, prefix.size(), Lower(prefix)) == 0) matches.push_back(name);
      }
      for (const std::string& word : ArgumentWords()) {
        if (word.compare(0, prefix.size(), prefix) == 0) matches.push_back(word);
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

void RunTerminal(EventQueue& events, const std::function<void(const std::string&)>& submit,
                 const TerminalOptions& options) {
  UseUtf8();
  Terminal terminal;
  terminal.submit = &submit;
  gTerminal = &terminal;
  if (const char* home = std::getenv("HOME"); home && *home) {
    terminal.historyFile = std::string(home) + "/.vask_host_history";
    read_history(terminal.historyFile.c_str());
  }
  rl_readline_name = "vask-host";
  // Readline would put LINES and COLUMNS into the environment from this
  // thread, and adding a variable moves the environment's array (freeing
  // the old one) while the plug-in's threads read it. The terminal's size
  // is asked of the terminal; nobody here needs it in the environment.
  rl_change_environment = 0;
  rl_attempted_completion_function = Complete;
  rl_completer_word_break_characters = const_cast<char*>(" \t");
  terminal.prompt = "> ";
  rl_callback_handler_install(terminal.prompt.c_str(), OnLine);
  IdleWatch idle(std::chrono::seconds(options.awaySeconds), IdleWatch::Clock::now());
  while (!events.Closed()) {
    pollfd fds[2] = {{events.waitFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    int n = poll(fds, terminal.inputEnded ? 1 : 2,
                 terminal.inputEnded ? -1 : idle.TimeoutMs(IdleWatch::Clock::now()));
    if (n < 0) continue;
    if (fds[0].revents) {
      while (auto event = events.Pop()) {
        Show(RenderEvent(*event, terminal.state));
        if (CallsForAttention(*event, terminal.state))
          AlertIncoming(TextOf(*event, "from"), TextOf(*event, "body"));
      }
    }
    const auto now = IdleWatch::Clock::now();
    if (!terminal.inputEnded && fds[1].revents && idle.Input(now)) {
      submit("back");
    } else if (!terminal.inputEnded && idle.Check(now)) {
      const int seconds = options.awaySeconds;
      Show("*** Nic nie piszesz od " +
           (seconds % 60 ? std::to_string(seconds) + " s" : std::to_string(seconds / 60) + " min") +
           ": wtyczka ustawi stan nieobecny, jeśli byłeś dostępny; klawisz go cofa.");
      submit("away");
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

}  // namespace vask::host
