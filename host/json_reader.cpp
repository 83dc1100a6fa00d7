#include "host/json_reader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace vask::host {

const Json* Json::Get(const std::string& key) const {
  for (const auto& [k, v] : members) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string Json::Text(const std::string& key) const {
  const Json* v = Get(key);
  return v && v->kind == kText ? v->text : std::string();
}

long long Json::Number(const std::string& key, long long otherwise) const {
  const Json* v = Get(key);
  if (!v) return otherwise;
  if (v->kind == kBool) return v->number;
  return v->kind == kNumber ? v->number : otherwise;
}

namespace {

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : s_(s) {}
  std::optional<Json> Read() {
    Json v;
    if (!Value(v, 0)) return std::nullopt;
    Blank();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void Blank() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool Literal(const char* word) {
    size_t n = std::strlen(word);
    if (s_.compare(i_, n, word) != 0) return false;
    i_ += n;
    return true;
  }
  static void PutUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool String(std::string& out) {
    if (i_ >= s_.size() || s_[i_] != '"') return false;
    ++i_;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          unsigned code =
              static_cast<unsigned>(std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16));
          i_ += 4;
          PutUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  bool Value(Json& v, int depth) {
    if (depth > 16) return false;
    Blank();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '"') {
      v.kind = Json::kText;
      return String(v.text);
    }
    if (c == '{' || c == '[') {
      bool object = c == '{';
      v.kind = object ? Json::kObject : Json::kArray;
      ++i_;
      Blank();
      if (i_ < s_.size() && s_[i_] == (object ? '}' : ']')) {
        ++i_;
        return true;
      }
      for (;;) {
        Blank();
        std::string key;
        if (object) {
          if (!String(key)) return false;
          Blank();
          if (i_ >= s_.size() || s_[i_++] != ':') return false;
        }
        Json item;
        if (!Value(item, depth + 1)) return false;
        if (object) {
          v.members.emplace_back(std::move(key), std::move(item));
        } else {
          v.items.push_back(std::move(item));
        }
        Blank();
        if (i_ >= s_.size()) return false;
        char next = s_[i_++];
        if (next == ',') continue;
        return next == (object ? '}' : ']');
      }
    }
    if (Literal("true")) {
      v.kind = Json::kBool;
      v.number = 1;
      return true;
    }
    if (Literal("false")) {
      v.kind = Json::kBool;
      return true;
    }
    if (Literal("null")) return true;
    char* end = nullptr;
    v.number = std::strtoll(s_.c_str() + i_, &end, 10);
    if (end == s_.c_str() + i_) return false;
    v.kind = Json::kNumber;
    i_ = static_cast<size_t>(end - s_.c_str());
    return true;
  }

  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace

std::optional<Json> ParseJson(const std::string& line) { return JsonReader(line).Read(); }

}  // namespace vask::host
