// Text at the host's user-facing edge: the terminal and the JSON events are
// UTF-8, the plug-in's side is Windows-1250.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vask::host {

// nullopt when the text holds a character Windows-1250 cannot hold (or is
// not valid UTF-8); *bad then names the offending part. Nothing is dropped.
std::optional<std::string> Utf8ToCp1250(std::string_view utf8, std::string* bad = nullptr);
// The five bytes Windows-1250 leaves undefined become U+FFFD, visibly.
std::string Cp1250ToUtf8(std::string_view bytes);

// Upper case of Windows-1250 text: ASCII and the Polish letters (as computer
// names are written, and compared without regard to case).
std::string UpperCp1250(std::string_view bytes);

// ASCII lower case (commands, keys, Host headers); other bytes stay.
std::string Lower(std::string text);

}  // namespace vask::host
