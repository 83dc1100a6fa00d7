// Fuzz target for the datagram codec. The first byte picks the separator
// (NUL for the wire, otherwise that byte), the rest is the text. Checked
// beyond "no crash":
//  - the fields joined back with the separator (plus a final one) give the
//    text, less one final separator;
//  - a datagram built from the first four fields and a fifth splits back to
//    the same fields when none of them holds a NUL;
//  - AtoiField agrees with the C library's atoi wherever atoi is defined.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "transport/datagram.h"

namespace {

using vask::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const char separator = static_cast<char>(input[0]);
  const std::string text(reinterpret_cast<const char*>(input + 1), size - 1);

  vask::DatagramFields fields;
  vask::SplitFields(text, separator, fields);
  std::string joined;
  for (const std::string& field : fields) {
    Check(field.find(separator) == std::string::npos);
    joined += field;
    joined += separator;
  }
  std::string expected = text;
  if (!expected.empty() && expected.back() != separator) expected += separator;
  Check(joined == expected);

  if (!fields.empty()) {
    const int32_t number = vask::AtoiField(fields[0]);
    // atoi is defined only without overflow: nine characters cannot overflow.
    if (separator == '\0' && fields[0].size() < 10) Check(number == std::atoi(fields[0].c_str()));
  }

  if (separator == '\0' && fields.size() >= 5) {
    const std::string built =
        vask::BuildDatagram(vask::AtoiField(fields[0]), fields[1], fields[2], fields[3], fields[4]);
    vask::DatagramFields back;
    vask::SplitFields(built, '\0', back);
    Check(back.size() == (fields[4].empty() ? 4u : 5u));
    Check(back[0] == std::to_string(vask::AtoiField(fields[0])));
    for (size_t i = 1; i < back.size(); ++i) Check(back[i] == fields[i]);
  }
  return 0;
}
