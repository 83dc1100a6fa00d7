// Every command of vask-host in one table: the scripted command with its
// arguments and handler, the typed alias(es) the terminal offers for it,
// and the Polish line /help shows. The scripted mode runs a line through
// it, the terminal translates typed lines by it, and the help texts (the
// "help" event, /help, --help) are written from it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vask::host {

class ScriptHost;

// A scripted command's handler: the line's words, split once as the row
// says (words[0] is the command). Called on the main thread.
using CommandHandler = void (*)(ScriptHost& host, const std::vector<std::string>& words);

struct CommandRow {
  // The scripted command; "" for a row the terminal alone has.
  const char* name;
  // The typed command(s), blank-separated ("/opis"); "" when not typed.
  const char* typed;
  // The arguments, as usage and the "help" event show them.
  const char* usage;
  // The typed form and its Polish help line, for /help; "" keeps the row
  // out of /help.
  const char* typedUsage;
  const char* typedHelp;
  // The /help heading the typed line stands under.
  const char* section;
  // How the line is split: 0 every word, n > 0 the rest of the line (blanks
  // included) as the n-th word.
  size_t words;
  // The words a typed line needs after its command before it is handed on
  // as it stands (fewer: the typed usage is the answer).
  size_t typedArguments;
  // nullptr for a row the terminal alone has.
  CommandHandler run;
  // Test and automation only: left out of the typed face's help.
  bool automation = false;
};

// Every command, in the order the help texts list them.
const std::vector<CommandRow>& CommandTable();
// The row of a scripted command, or nullptr.
const CommandRow* FindCommand(std::string_view name);
// The row a typed command (e.g. "/opis") belongs to, or nullptr.
const CommandRow* FindTypedCommand(std::string_view typed);

// "status <n> [text] | describe [text] | ...": the "help" event's list.
std::string ScriptedCommandsHelp();
// The scripted commands a line each, for vask-host --help.
std::string ScriptedCommandsUsage();
// The typed commands under their headings, for /help.
std::string TypedCommandsHelp();

}  // namespace vask::host
