// Fuzz target for the number texts: ParseNumber on any text in any radix,
// FormatNumber of any value, radix and width, ParseHexTime on any text.
// Input: four bytes of value, a radix byte, a width byte, a flag byte, then
// the text. Checked beyond "no crash":
//  - a hexadecimal text of a value reads back as that value, through both
//    ParseNumber and ParseHexTime; a decimal one of a value >= 0 likewise;
//  - a positive width gives exactly that many characters (up to the area);
//  - every radix outside 2..36 gives "0".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/text.h"
#include "fuzz/fuzz_check.h"
#include "protocol/incoming_messages.h"

namespace {

using vask::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 7) return 0;
  int32_t value;
  std::memcpy(&value, input, sizeof value);
  const int radix = input[4];
  const int width = static_cast<int8_t>(input[5]);
  const bool upper = (input[6] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(input + 7), size - 7);

  // Texts come NUL-terminated from the host and the wire.
  (void)vask::ParseNumber(text.c_str(), radix);
  (void)vask::ParseNumber(text.c_str(), 255);
  (void)vask::ParseHexTime(text);

  const std::string formatted = vask::FormatNumberCopy(value, radix, width, upper);
  Check(!formatted.empty());
  if (radix < 2 || radix > 36)
    Check(width > 0 ? formatted == std::string(width, '0') : formatted == "0");
  if (width > 0) Check(formatted.size() == static_cast<size_t>(width));

  const std::string hex = vask::FormatNumberCopy(value, 16, 0, upper);
  Check(vask::ParseNumber(hex.c_str(), 16) == value);
  Check(vask::ParseNumber(("0x" + hex).c_str(), 255) == value);
  Check(vask::ParseNumber(("#" + hex).c_str(), 255) == value);
  Check(vask::ParseHexTime(hex) == static_cast<int64_t>(static_cast<uint32_t>(value)));
  if (value >= 0) {
    const std::string decimal = vask::FormatNumberCopy(value, 10);
    Check(vask::ParseNumber(decimal.c_str(), 10) == value);
    Check(vask::ParseNumber(decimal.c_str(), 255) == value);
  }
  return 0;
}
