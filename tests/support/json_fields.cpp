#include "tests/support/json_fields.h"

#include <cerrno>
#include <cstdlib>

namespace vask::test {

std::optional<std::string> JsonField(const std::string& json, const std::string& key, size_t from) {
  const std::string needle = "\"" + key + "\":";
  size_t at = json.find(needle, from);
  if (at == std::string::npos) return std::nullopt;
  at += needle.size();
  if (at < json.size() && json[at] == '"') {
    std::string value;
    for (size_t i = at + 1; i < json.size(); ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) {
        value.push_back(json[++i]);
      } else if (json[i] == '"') {
        return value;
      } else {
        value.push_back(json[i]);
      }
    }
    return std::nullopt;
  }
  const size_t end = json.find_first_of(",}]", at);
  return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::optional<int64_t> JsonInt(const std::string& json, const std::string& key, size_t from) {
  const auto text = JsonField(json, key, from);
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text->c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

std::optional<std::string> ContactEntry(const std::string& contactsEvent,
                                        const std::string& computer) {
  const size_t at = contactsEvent.find("\"computer\":\"" + computer + "\"");
  if (at == std::string::npos) return std::nullopt;
  const size_t begin = contactsEvent.rfind('{', at);
  const size_t end = contactsEvent.find('}', at);
  if (begin == std::string::npos || end == std::string::npos) return std::nullopt;
  return contactsEvent.substr(begin, end - begin + 1);
}

}  // namespace vask::test
