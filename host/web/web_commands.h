// The web face's requests: one small JSON object, {"command": name, ...},
// turned into one command line of the scripted mode, which the main thread
// then runs as a typed line. Only these commands are offered to a page, and
// every field is checked so that a value can never become another word of
// the line (a computer name with a blank, a search value with "=").
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace vask::host {

// True with the command line in `line`; false with the reason, in Polish,
// in `error`.
bool WebCommandLine(const nlohmann::json& request, std::string* line, std::string* error);

}  // namespace vask::host
