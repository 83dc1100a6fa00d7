// One event of vask-host: a JSON object whose "event" field names it, with
// texts in UTF-8. The scripted mode writes each as one line; the terminal and
// web faces read its fields as they stand, without writing and parsing it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace vask::host {

// Keeps the fields in the order they were set, so that a line reads
// "event" first.
using EventJson = nlohmann::ordered_json;

// Builds an event field by field.
class Event {
 public:
  Event() : json_(EventJson::object()) {}
  explicit Event(std::string_view name) : Event() { Str("event", name); }

  Event& Str(std::string_view key, std::string_view utf8);
  Event& Int(std::string_view key, long long value);
  Event& Bool(std::string_view key, bool value);
  Event& Null(std::string_view key);
  // A list or an object built apart.
  Event& Set(std::string_view key, EventJson value);

  const EventJson& json() const { return json_; }

 private:
  EventJson json_;
};

// One line of the scripted mode, without the newline. A text that is not
// valid UTF-8 (a typed line may be anything) has its bad bytes replaced
// rather than failing the line.
std::string EventLine(const EventJson& event);

// A field read for showing: the text, or "" when it is missing or no text.
std::string TextOf(const EventJson& event, std::string_view key);
// A field read for showing: the number (true is 1), or `fallback`.
long long NumberOf(const EventJson& event, std::string_view key, long long fallback = 0);
// A list field, or an empty list.
const EventJson& ListOf(const EventJson& event, const char* key);

}  // namespace vask::host
