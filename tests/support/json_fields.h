// Reads the one-line JSON events that vask-host prints in its scripted mode:
// flat objects, and the list of the "contacts" event. Enough for those
// events, not a JSON parser.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vask::test {

// The text of the first string or number field named `key` at or after
// `from`; nullopt when there is none. String escapes are undone (the
// character after a backslash stands for itself).
std::optional<std::string> JsonField(const std::string& json, const std::string& key,
                                     size_t from = 0);

// The same field as a whole number; nullopt when absent or not a number.
std::optional<int64_t> JsonInt(const std::string& json, const std::string& key, size_t from = 0);

// The object of the "contacts" event's list that holds this computer, as
// text; nullopt when it is not in the list.
std::optional<std::string> ContactEntry(const std::string& contactsEvent,
                                        const std::string& computer);

}  // namespace vask::test
