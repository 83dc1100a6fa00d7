#include "host/web/web_commands.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "abi/host_ids.h"
#include "host/text/text_codec.h"

namespace vask::host {

namespace {

using Json = nlohmann::json;

// A message may hold line breaks and tabs, nothing else below a blank; it
// is at most the plug-in's limit.
constexpr size_t kMaxText = kAnswerMessageLimit;
// Computer names are at most 15 characters of Windows-1250; UTF-8 takes up
// to two bytes for each of those.
constexpr size_t kMaxComputer = 30;
constexpr size_t kMaxField = 255;  // not a host number: a field's length

class Builder {
 public:
  explicit Builder(const Json& request) : request_(request) {}

  bool Fail(std::string reason) {
    error_ = std::move(reason);
    return false;
  }
  const std::string& error() const { return error_; }

  // A string field; `required` fails when it is missing or empty.
  bool Text(const char* key, bool required, std::string* out) {
    auto found = request_.find(key);
    if (found == request_.end() || found->is_null()) {
      if (required) return Fail(std::string("brak pola ") + key);
      out->clear();
      return true;
    }
    if (!found->is_string()) return Fail(std::string("pole ") + key + " ma być tekstem");
    *out = found->get<std::string>();
    if (required && out->empty()) return Fail(std::string("pole ") + key + " jest puste");
    // Refused here, while the page still holds the text, rather than by the
    // command once the page has let it go.
    std::string bad;
    if (!Utf8ToCp1250(*out, &bad)) {
      return Fail("Nie wysłano: znaku „" + bad +
                  "” nie da się przesłać w sieci (Windows-1250 go nie zna). Usuń go albo "
                  "zastąp, np. emotikonę znakami :-)");
    }
    return true;
  }

  bool Number(const char* key, bool required, long long low, long long high, long long* out) {
    auto found = request_.find(key);
    if (found == request_.end() || found->is_null()) {
      if (required) return Fail(std::string("brak pola ") + key);
      *out = 0;
      return true;
    }
    if (!found->is_number_integer()) return Fail(std::string("pole ") + key + " ma być liczbą");
    long long value = found->get<long long>();
    if (value < low || value > high) return Fail(std::string("pole ") + key + " poza zakresem");
    *out = value;
    return true;
  }

  // One word of a command: no blanks, no control characters.
  bool Word(const char* key, size_t max, std::string* out) {
    if (!Text(key, true, out)) return false;
    if (out->size() > max) return Fail(std::string("pole ") + key + " jest za długie");
    for (unsigned char c : *out) {
      if (c <= ' ' || c == 0x7F) return Fail(std::string("pole ") + key + " ma niedozwolony znak");
    }
    return true;
  }

  // The rest of a line: any text without control characters, or with line
  // breaks and tabs too when `lines`.
  bool Line(const char* key, bool required, bool lines, size_t max, std::string* out) {
    if (!Text(key, required, out)) return false;
    if (out->size() > max) return Fail(std::string("pole ") + key + " jest za długie");
    for (unsigned char c : *out) {
      const bool allowed = c >= ' ' || (lines && (c == '\n' || c == '\t'));
      if (!allowed || c == 0x7F) return Fail(std::string("pole ") + key + " ma niedozwolony znak");
    }
    return true;
  }

  bool Computer(const char* key, std::string* out) { return Word(key, kMaxComputer, out); }

 private:
  const Json& request_;
  std::string error_;
};

// search's "key=value" words: a value is cut at blanks into words, and a
// word with "=" would start another key, so no value may hold one.
bool SearchLine(Builder& b, const Json& request, std::string* line) {
  long long status = kSearchQuery;
  if (!b.Number("status", false, kSearchWalk, kSearchQuery, &status)) return false;
  if (request.find("status") == request.end()) status = kSearchQuery;
  *line = "search status=" + std::to_string(status);
  static constexpr std::array<const char*, 6> kTexts = {"uid",      "column6", "column7",
                                                        "column17", "column9", "column11"};
  for (const char* key : kTexts) {
    std::string value;
    if (!b.Line(key, false, false, kMaxField, &value)) return false;
    if (value.find('=') != std::string::npos) {
      return b.Fail(std::string("znak = nie może wystąpić w polu ") + key);
    }
    if (value.find_first_not_of(' ') == std::string::npos) continue;
    *line += std::string(" ") + key + "=" + value;
  }
  static constexpr std::array<const char*, 3> kNumbers = {"gender", "lower", "upper"};
  for (const char* key : kNumbers) {
    long long value = 0;
    if (!b.Number(key, false, 0, 65535, &value)) return false;
    if (value != 0) *line += std::string(" ") + key + "=" + std::to_string(value);
  }
  return true;
}

}  // namespace

bool WebCommandLine(const Json& request, std::string* line, std::string* error) {
  Builder b(request);
  auto fail = [&] {
    *error = b.error();
    return false;
  };
  if (!request.is_object()) {
    *error = "żądanie ma być obiektem JSON";
    return false;
  }
  std::string command;
  if (!b.Text("command", true, &command)) return fail();

  // Commands without fields.
  static constexpr std::array<std::string_view, 12> kBare = {
      "contacts", "page",    "icons",       "actions", "ignored", "results",
      "cancel",   "publish", "own-details", "help",    "away",    "back"};
  for (std::string_view bare : kBare) {
    if (command == bare) {
      *line = command;
      return true;
    }
  }
  std::string a, text;
  long long n = 0, m = 0;
  if (command == "menu") {
    if (!b.Number("item", false, 0, 1000, &n)) return fail();
    *line = n ? "menu " + std::to_string(n) : "menu";
    return true;
  }
  if (command == "status") {
    if (!b.Number("status", true, 0, kStatusNumberMask, &n) ||
        !b.Line("text", false, false, kMaxField, &text)) {
      return fail();
    }
    *line = "status " + std::to_string(n);
    if (text.find_first_not_of(' ') != std::string::npos) *line += " " + text;
    return true;
  }
  if (command == "add" || command == "remove" || command == "ignore" || command == "unignore" ||
      command == "details" || command == "details-close") {
    if (!b.Computer("computer", &a)) return fail();
    *line = (command == "details-close" ? std::string("details close") : command) + " " + a;
    return true;
  }
  if (command == "history") {
    if (request.contains("computer")) {
      if (!b.Computer("computer", &a)) return fail();
      *line = "history " + a;
    } else {
      *line = "history";
    }
    return true;
  }
  if (command == "send") {
    if (!b.Computer("to", &a) || !b.Line("text", true, true, kMaxText, &text)) return fail();
    if (text.find_first_not_of(" \t\n") == std::string::npos) {
      *error = "wiadomość jest pusta";
      return false;
    }
    *line = "send " + a + " " + text;
    return true;
  }
  if (command == "chat") {
    // A line typed in a chat window that starts with "/": the plug-in may
    // take it as its own command.
    if (!b.Line("text", true, false, kMaxField, &text)) return fail();
    *line = "chat " + text;
    return true;
  }
  if (command == "page-set") {
    if (!b.Number("column", true, 1, INT32_MAX, &n)) return fail();
    auto value = request.find("value");
    if (value != request.end() && value->is_boolean()) {
      text = value->get<bool>() ? "1" : "0";
    } else if (value != request.end() && value->is_number_integer()) {
      text = std::to_string(value->get<long long>());
    } else if (!b.Line("value", true, false, kMaxField, &text)) {
      return fail();
    }
    if (text.find_first_not_of(' ') == std::string::npos) {
      *error = "wartość jest pusta";
      return false;
    }
    *line = "page " + std::to_string(n) + " " + text;
    return true;
  }
  if (command == "page-press") {
    if (!b.Number("action", true, 1, INT32_MAX, &n)) return fail();
    *line = "page press " + std::to_string(n);
    return true;
  }
  if (command == "action") {
    if (!b.Number("action", true, 1, INT32_MAX, &n) || !b.Computer("computer", &a)) return fail();
    *line = "action " + std::to_string(n) + " " + a;
    return true;
  }
  if (command == "own") {
    if (!b.Number("column", true, 0, 1000, &m) ||
        !b.Line("value", false, false, kMaxField, &text)) {
      return fail();
    }
    *line = "own " + std::to_string(m);
    if (text.find_first_not_of(' ') != std::string::npos) *line += " " + text;
    return true;
  }
  if (command == "get") {
    if (!b.Number("column", true, 0, INT32_MAX, &n)) return fail();
    *line = "get " + std::to_string(n);
    return true;
  }
  if (command == "search") {
    if (!SearchLine(b, request, line)) return fail();
    return true;
  }
  *error = "nieznane polecenie: " + command;
  return false;
}

}  // namespace vask::host
