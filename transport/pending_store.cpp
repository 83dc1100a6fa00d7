#include "transport/pending_store.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace vask {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool NeedsEscape(unsigned char c) { return c <= ' ' || c == '%' || c == 0x7F; }

// Plain runs are appended whole: the table is written again on every
// message sent, so this is on the send path.
void Escape(const std::string& text, std::string& out) {
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(c)) continue;
    out.append(text, run, i - run);
    const char escaped[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out.append(escaped, 3);
    run = i + 1;
  }
  out.append(text, run, std::string::npos);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// Splits `line` at its blanks into exactly four parts.
bool FourParts(const std::string& line, std::string parts[4]) {
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t blank = line.find(' ', start);
    if (blank == std::string::npos) return false;
    parts[i] = line.substr(start, blank - start);
    start = blank + 1;
  }
  parts[3] = line.substr(start);
  return parts[3].find(' ') == std::string::npos;
}

bool ParseNumber(const std::string& text, int base, int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, base);
  return end != nullptr && *end == '\0';
}

}  // namespace

std::string EncodePending(const std::map<int32_t, PendingMessage>& pending) {
  std::string out;
  out.reserve(pending.size() * 64);
  for (const auto& [number, message] : pending) {
    char head[48];
    std::snprintf(head, sizeof head, "%d %llX ", static_cast<int>(number),
                  static_cast<unsigned long long>(message.sendTime));
    out += head;
    Escape(message.target, out);
    out += ' ';
    Escape(message.text, out);
    out += '\n';
  }
  return out;
}

std::map<int32_t, PendingMessage> DecodePending(const std::string& text) {
  std::map<int32_t, PendingMessage> pending;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    std::string parts[4];
    int64_t number = 0;
    int64_t time = 0;
    PendingMessage message{};
    if (!FourParts(line, parts) || !ParseNumber(parts[0], 10, number) ||
        !ParseNumber(parts[1], 16, time) || !Unescape(parts[2], message.target) ||
        !Unescape(parts[3], message.text) || number <= 0 || number > INT32_MAX) {
      continue;
    }
    message.sendTime = time;
    pending[static_cast<int32_t>(number)] = std::move(message);
  }
  return pending;
}

}  // namespace vask
