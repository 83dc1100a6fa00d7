// The words of a command line, as every command of both faces reads them:
// blank-separated words, "key=value" pairs and numbers.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace vask::host {

// Splits a command line at blanks; `limit` > 0 keeps the rest of the line
// (blanks included) as the last word.
std::vector<std::string> SplitWords(const std::string& line, size_t limit = 0);
// "key=value ..." from words[from] on; a word without "=" continues the
// previous value after a blank, so values may hold blanks. False when the
// first word is no pair.
bool ParsePairs(const std::vector<std::string>& words, size_t from,
                std::vector<std::pair<std::string, std::string>>* pairs);
// A whole word as a number: decimal, 0x hexadecimal or 0 octal, with an
// optional sign. False (and `value` untouched) for an empty word, trailing
// characters, or a number out of the type's range.
bool ParseNumber(const std::string& text, long long* value);
bool ParseNumber(const std::string& text, int* value);

}  // namespace vask::host
