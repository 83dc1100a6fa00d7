// The local link between this library and vask-bridge, the one program of
// a machine that owns the NetBIOS ports when the real LAN is selected.
// The bridge listens on a SOCK_SEQPACKET socket at <LAN>/.bridge; each
// request is one record and gets one 4-byte reply, the GetLastError code
// (little-endian, 0 for success). A connection carries one request at a
// time. Shared by both sides; depends on nothing but the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vask::bridge_link {

inline constexpr char kSocketName[] = ".bridge";
// Computers the bridge has heard of, one per line, fields separated by one
// blank: "WORKGROUP COMPUTER a.b.c.d COMMENT". The comment (possibly empty)
// is written with EscapeField; names never hold a blank or a control
// character (IsListableName), so a line always splits the same way.
inline constexpr char kNeighboursName[] = ".bridge-neighbours";

// 'R' target NUL: does the computer (or "*", or a workgroup) answer on the network?
inline constexpr char kOpResolve = 'R';
// 'W' sender NUL target NUL slot NUL data: one remote mailslot write.
inline constexpr char kOpWrite = 'W';
// 'C' workgroup NUL computer NUL: a computer of this machine opened a server
// slot. The bridge registers its names when it serves it and replies once
// the registration has finished: 0 when the names are this machine's,
// kErrorNameInConflict when another machine holds one of them.
inline constexpr char kOpClaim = 'C';
// 'S': stop the bridge (it releases its names and exits); replies 0 first.
inline constexpr char kOpStop = 'S';

// The reply to a write from, or a claim of, a computer whose name another
// machine on the network owns: Win32's ERROR_DUP_NAME ("a duplicate name
// exists on the network"). The send fails with this code; a failed claim
// fails the CreateMailslotA that made it.
inline constexpr uint32_t kErrorNameInConflict = 52;
// The reply to a write whose sender the bridge does not speak for (not a
// running computer of its workgroup, or not among its --computer names):
// Win32's ERROR_NETWORK_ACCESS_DENIED.
inline constexpr uint32_t kErrorNotServed = 65;

inline constexpr size_t kReplySize = 4;
// Longest request: the three names and more data than a remote write may
// carry, so that the bridge itself refuses an oversized write.
inline constexpr size_t kMaxRequest = 4096;
// How long a client waits for a reply: a name query or a registration takes
// under a second.
inline constexpr int kReplyTimeoutMs = 5000;

// A computer or workgroup name the neighbours file may hold: 1 to 15 bytes,
// none of them a blank, a control character, '/' or '\', and not "." or "..".
inline bool IsListableName(const std::string& name) {
  if (name.empty() || name.size() > 15 || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

// A field with every blank, control character and '%' written as %XX, so
// that it holds no separator and no line break; UnescapeField reverses it.
inline std::string EscapeField(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

inline std::string UnescapeField(const std::string& text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 &&
        digit(text[i + 2]) >= 0) {
      out += static_cast<char>(digit(text[i + 1]) << 4 | digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace vask::bridge_link
