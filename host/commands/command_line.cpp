#include "host/commands/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vask::host {

std::vector<std::string> SplitWords(const std::string& line, size_t limit) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    if (limit && words.size() + 1 == limit) {
      words.push_back(line.substr(i));
      break;
    }
    size_t end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  return words;
}

bool ParsePairs(const std::vector<std::string>& words, size_t from,
                std::vector<std::pair<std::string, std::string>>* pairs) {
  for (size_t i = from; i < words.size(); ++i) {
    size_t eq = words[i].find('=');
    if (eq == std::string::npos || eq == 0) {
      if (pairs->empty()) return false;
      pairs->back().second += " " + words[i];
    } else {
      pairs->emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
    }
  }
  return true;
}

bool ParseNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno || *end) return false;
  *value = v;
  return true;
}

bool ParseNumber(const std::string& text, int* value) {
  long long v = 0;
  if (!ParseNumber(text, &v) || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace vask::host
