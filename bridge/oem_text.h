// Text between the program's code page (Windows-1250, as every text of
// the plug-in) and the OEM code page that NetBIOS peers read in the
// fields meant for people (code page 852, the Polish one): one byte for
// one byte, ASCII unchanged.
#pragma once

#include <string>

namespace vask::bridge {

// A letter that 852 lacks becomes an ASCII look-alike where there is one
// (typographic quotes, dashes, the ellipsis), else '?'.
std::string ToOem(const std::string& text);
// A character that Windows-1250 lacks (the box drawing of 852) becomes '?'.
std::string FromOem(const std::string& text);

}  // namespace vask::bridge
