// Computer names as Windows keeps them, and as the plug-in and its peers
// read them: Windows-1250 capitals, 1 to 15 bytes, without blanks or \/*?.
// One rule for the own name (--computer) and for the contacts the user adds.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vask::host {

// The name typed in UTF-8 as the computer name it stands for ("żółw" is
// "ŻÓŁW" in Windows-1250); nullopt when it cannot be one.
std::optional<std::string> ComputerNameFromUtf8(std::string_view utf8);

// Why a name was refused, in Polish, naming it: "To nie jest nazwa komputera: ...".
std::string NotAComputerName(std::string_view utf8);

}  // namespace vask::host
