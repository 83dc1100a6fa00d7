#include "host/text/computer_name.h"

#include "host/text/text_codec.h"
#include "win32.h"

namespace vask::host {

std::optional<std::string> ComputerNameFromUtf8(std::string_view utf8) {
  std::optional<std::string> name = Utf8ToCp1250(utf8);
  // The length is counted in Windows-1250 bytes: "ŻÓŁW" is four, as in a
  // NetBIOS name.
  if (!name || name->empty() || name->size() > MAX_COMPUTERNAME_LENGTH ||
      name->find_first_of("\\/*? \t") != std::string::npos) {
    return std::nullopt;
  }
  return UpperCp1250(*name);
}

std::string NotAComputerName(std::string_view utf8) {
  return "To nie jest nazwa komputera: " + std::string(utf8) +
         " (najwyżej 15 znaków, bez spacji i \\/*?, tylko litery, które zna Windows-1250)";
}

}  // namespace vask::host
