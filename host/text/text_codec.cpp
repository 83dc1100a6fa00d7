#include "host/text/text_codec.h"

#include <errno.h>
#include <iconv.h>

#include <vector>

namespace vask::host {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

namespace {

// One conversion descriptor per call: cheap next to a terminal line, and
// free of shared state between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts as much as it can; returns false at an unconvertible or
  // invalid sequence, with *in left pointing at it.
  bool Run(const char*& in, size_t& inLeft, std::string& out) {
    std::vector<char> buffer(inLeft * 4 + 16);
    while (inLeft > 0) {
      char* inPtr = const_cast<char*>(in);
      char* outPtr = buffer.data();
      size_t outLeft = buffer.size();
      size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer.data(), buffer.size() - outLeft);
      in = inPtr;
      if (rc == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;  // not a host number: ASCII ends below it
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::optional<std::string> Utf8ToCp1250(std::string_view utf8, std::string* bad) {
  Converter converter("CP1250", "UTF-8");
  if (!converter.ok()) {
    if (bad) *bad = "(no converter)";
    return std::nullopt;
  }
  std::string out;
  const char* in = utf8.data();
  size_t left = utf8.size();
  if (!converter.Run(in, left, out)) {
    if (bad) *bad = std::string(in, std::min(left, Utf8Length(static_cast<unsigned char>(*in))));
    return std::nullopt;
  }
  return out;
}

std::string Cp1250ToUtf8(std::string_view bytes) {
  Converter converter("UTF-8", "CP1250");
  std::string out;
  if (!converter.ok()) return std::string(bytes);
  const char* in = bytes.data();
  size_t left = bytes.size();
  while (!converter.Run(in, left, out)) {
    out += "\xEF\xBF\xBD";
    ++in;
    --left;
  }
  return out;
}

std::string UpperCp1250(std::string_view bytes) {
  // Lower-case Polish letters and their capitals in Windows-1250 (bytes,
  // not a host number).
  static constexpr unsigned char kLower[] = {0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
  static constexpr unsigned char kUpper[] = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF};
  std::string out(bytes);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') {
      c = static_cast<char>(b - 'a' + 'A');
      continue;
    }
    for (size_t i = 0; i < sizeof kLower; ++i) {
      if (b == kLower[i]) c = static_cast<char>(kUpper[i]);
    }
  }
  return out;
}

}  // namespace vask::host
