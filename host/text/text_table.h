// A table of text for the terminal: a heading row and rows, each column as
// wide as its widest cell (counted in characters, so Polish letters line up),
// a cell cut with "…" past `maxWidth` characters.
#pragma once

#include <string>
#include <vector>

namespace vask::host {

std::string TextTable(const std::vector<std::string>& heading,
                      const std::vector<std::vector<std::string>>& rows, size_t maxWidth = 30,
                      const std::string& indent = "    ");

// The characters of a UTF-8 text (continuation bytes not counted).
size_t TextWidth(const std::string& utf8);

}  // namespace vask::host
