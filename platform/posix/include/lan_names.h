// How the emulated LAN compares the names of workgroups, computers and
// slots: without regard to case, as Windows does, the letters of
// Windows-1250 included (the plug-in passes its names in that code page), so
// "ŁÓDŹ" and "łódź", each in Windows-1250 bytes, are one slot. Shared by the
// Win32 subset and vask-bridge; depends on nothing.
#pragma once

#include <string>

namespace vask::lan_names {

// The lower-case form of one byte of Windows-1250 text: A to Z and the
// code page's upper-case letters map to their lower-case partners; every
// other byte (digits, signs, the multiplication sign 0xD7, sharp s 0xDF,
// which has no capital there) stays as it is.
constexpr char FoldByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + ('a' - 'A'));
  switch (u) {
    case 0x8A:  // S caron
    case 0x8C:  // S acute
    case 0x8D:  // T caron
    case 0x8E:  // Z caron
    case 0x8F:  // Z acute
      return static_cast<char>(u + 0x10);
    case 0xA3:
      return static_cast<char>(0xB3);  // L stroke
    case 0xA5:
      return static_cast<char>(0xB9);  // A ogonek
    case 0xAA:
      return static_cast<char>(0xBA);  // S cedilla
    case 0xAF:
      return static_cast<char>(0xBF);  // Z dot above
    case 0xBC:
      return static_cast<char>(0xBE);  // L caron
    default:
      break;
  }
  // R acute .. T cedilla, less the multiplication sign.
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 0x20);
  return c;
}

// The name in the form the LAN keeps slot names on disk and compares by.
inline std::string Fold(std::string name) {
  for (char& c : name) c = FoldByte(c);
  return name;
}

// Whether two names are one name to the LAN.
inline bool Same(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldByte(a[i]) != FoldByte(b[i])) return false;
  }
  return true;
}

}  // namespace vask::lan_names
