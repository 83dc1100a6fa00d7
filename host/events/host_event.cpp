#include "host/events/host_event.h"

namespace vask::host {

Event& Event::Str(std::string_view key, std::string_view utf8) {
  json_[std::string(key)] = std::string(utf8);
  return *this;
}

Event& Event::Int(std::string_view key, long long value) {
  json_[std::string(key)] = value;
  return *this;
}

Event& Event::Bool(std::string_view key, bool value) {
  json_[std::string(key)] = value;
  return *this;
}

Event& Event::Null(std::string_view key) {
  json_[std::string(key)] = nullptr;
  return *this;
}

Event& Event::Set(std::string_view key, EventJson value) {
  json_[std::string(key)] = std::move(value);
  return *this;
}

std::string EventLine(const EventJson& event) {
  return event.dump(-1, ' ', false, EventJson::error_handler_t::replace);
}

std::string TextOf(const EventJson& event, std::string_view key) {
  if (!event.is_object()) return {};
  auto found = event.find(std::string(key));
  if (found == event.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

long long NumberOf(const EventJson& event, std::string_view key, long long fallback) {
  if (!event.is_object()) return fallback;
  auto found = event.find(std::string(key));
  if (found == event.end()) return fallback;
  if (found->is_number_integer()) return found->get<long long>();
  if (found->is_number_float()) return static_cast<long long>(found->get<double>());
  if (found->is_boolean()) return found->get<bool>() ? 1 : 0;
  return fallback;
}

const EventJson& ListOf(const EventJson& event, const char* key) {
  static const EventJson kNone = EventJson::array();
  auto found = event.find(key);
  return found != event.end() && found->is_array() ? *found : kNone;
}

}  // namespace vask::host
