// One JSON object on one line, built field by field (values are UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace vask::host {

std::string JsonQuote(std::string_view utf8);

class JsonLine {
 public:
  JsonLine& Str(std::string_view key, std::string_view utf8);
  JsonLine& Int(std::string_view key, long long value);
  JsonLine& Bool(std::string_view key, bool value);
  JsonLine& Null(std::string_view key);
  // An already encoded JSON value (an array or object).
  JsonLine& Raw(std::string_view key, std::string_view json);
  // The object, without a newline.
  std::string Finish() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
};

}  // namespace vask::host
