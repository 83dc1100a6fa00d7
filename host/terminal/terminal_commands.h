// vask-host's terminal front end, the typed side: what a line a person types
// becomes. "/msg", "/status", "/add" and the other slash commands turn into
// the scripted mode's commands, "!" passes a scripted command as it stands,
// another "/..." goes to the plug-in as a chat command, and a plain line is a
// message to the current partner. Usage and help are answered on the spot.
// The typed commands, their usage and /help are rows of the command table
// (host/commands/command_table.h); this file holds the translations that
// are more than the scripted command with the rest of the line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/terminal/front_state.h"

namespace vask::host {

// What one typed line becomes: scripted commands to run, and a text to show
// at once (usage, help).
struct Translation {
  std::vector<std::string> commands;
  std::string reply;
};

Translation TranslateLine(const std::string& typed, FrontState& state);

// A status a person may type: the names with or without their Polish
// letters, short forms and English ones; a number is taken as it stands.
std::optional<int> ParseStatus(const std::string& word);

// The words completion offers: the commands at the start of a line, and
// the words (besides contact names) that may follow one.
const std::vector<std::string>& CommandWords();
const std::vector<std::string>& ArgumentWords();

}  // namespace vask::host
