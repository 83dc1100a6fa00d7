// The JSON of vask-host's event lines, read back by the terminal front end:
// objects, arrays, texts, integers, true, false and null, nested to a
// bounded depth. Numbers are integers (the events carry no others); a line
// that is not one whole value reads as nothing.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vask::host {

struct Json {
  enum Kind { kNull, kBool, kNumber, kText, kArray, kObject } kind = kNull;
  long long number = 0;  // kNumber; kBool: 1 or 0
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in their order

  // The member of this object, or null.
  const Json* Get(const std::string& key) const;
  // The member's text; "" when it is missing or not a text.
  std::string Text(const std::string& key) const;
  // The member's number (true 1, false 0); `otherwise` when it is missing or
  // not a number.
  long long Number(const std::string& key, long long otherwise = 0) const;
};

std::optional<Json> ParseJson(const std::string& line);

}  // namespace vask::host
