// Number parsing and text helpers of the plug-in: pure functions over
// 8-bit texts (TextOrResource also reads the program's string table).
// Callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vask {

// Radix 255 lets the text decide ("#" hex, "0x" hex, else decimal). The
// longest run of 0-9, a-f, A-F; each digit times radix^position; no sign.
int32_t ParseNumber(const char* text, int radix);

// A 64-bit digest of the bytes (FNV-1a), to tell a datagram's copy from
// another datagram without keeping its bytes; compare the sizes as well.
uint64_t BytesDigest(std::string_view bytes);

// The letters A to Z as a to z, every other byte as it is: the plug-in's
// one case folding, the same whatever locale the host process has set.
char FoldCase(char c);
// The same with a to z as A to Z, in place; returns `text`.
char* UpperCaseAscii(char* text);

// Case-insensitive find that folds only A to Z: a pointer into `text`, or
// null.
const char* FindNoCase(const char* text, const char* pattern);
bool ContainsNoCase(const char* text, const char* pattern);

// The plug-in's string type built from a pointer-sized value: a text above
// 0xFFFF is copied; 1 to 0xFFFF is a string resource id loaded from the
// running program's module; 0 stays empty.
std::string TextOrResource(uintptr_t value);

}  // namespace vask
