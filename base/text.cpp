// Number parsing, the case-insensitive find and the text-or-resource string.
#include "base/text.h"

#include <cstring>

#include "win32.h"

namespace vask {

namespace {

constexpr int kRadixFromText = 255;  // not a host number: ParseNumber's own

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t ParseNumber(const char* text, int radix) {
  if (text == nullptr) return 0;
  if (radix == kRadixFromText) {
    if (text[0] == '#') {
      radix = 16;
      text += 1;
    } else if (text[0] == '0' && text[1] == 'x') {
      radix = 16;
      text += 2;
    } else {
      radix = 10;
    }
  }
  // Unsigned arithmetic: a long run wraps instead of overflowing.
  uint32_t value = 0;
  for (int digit = DigitValue(*text); digit >= 0; digit = DigitValue(*++text)) {
    value = value * static_cast<uint32_t>(radix) + static_cast<uint32_t>(digit);
  }
  return static_cast<int32_t>(value);
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

char* UpperCaseAscii(char* text) {
  for (char* c = text; c != nullptr && *c != '\0'; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  return text;
}

// By hand rather than through the runtime's _strlwr: that one folds by the
// process-wide locale, and once the host sets a Polish one "\xB3ucja" would
// match "\xA3UCJA", where only A to Z may fold.
const char* FindNoCase(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  for (const char* start = text;; ++start) {
    const char* t = start;
    const char* p = pattern;
    while (*p != '\0' && FoldCase(*t) == FoldCase(*p)) {
      ++t;
      ++p;
    }
    if (*p == '\0') return start;
    if (*start == '\0') return nullptr;
  }
}

bool ContainsNoCase(const char* text, const char* pattern) {
  return FindNoCase(text, pattern) != nullptr;
}

std::string TextOrResource(uintptr_t value) {
  if (value > 0xFFFF) return std::string(reinterpret_cast<const char*>(value));
  if (value == 0) return std::string();
  // The running program's module, as the host keeps the string table.
  static const HMODULE program = GetModuleHandleA(nullptr);
  const UINT id = static_cast<UINT>(value);
  HRSRC block = FindResourceA(program, MAKEINTRESOURCEA(id / 16 + 1), RT_STRING);
  if (block == nullptr) return std::string();
  const DWORD size = SizeofResource(program, block);
  if (size == 0) return std::string();
  std::string text(size, '\0');
  const int loaded = LoadStringA(program, id, text.data(), static_cast<int>(size));
  if (loaded <= 0) return std::string();
  text.resize(static_cast<size_t>(loaded) < text.size() ? static_cast<size_t>(loaded)
                                                        : text.size());
  return text;
}

uint64_t BytesDigest(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace vask
