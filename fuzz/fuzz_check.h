// The checks of the fuzz targets beyond "no crash": a failed one aborts, and
// libFuzzer keeps the input that made it fail.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vask::fuzz {

inline void Check(bool condition) {
  if (!condition) std::abort();
}

// The length of a NUL-terminated text handed over (0 for null); AddressSanitizer
// stops the run when the text runs past its bounds.
inline size_t CheckedText(intptr_t text) {
  if (text == 0) return 0;
  return std::strlen(reinterpret_cast<const char*>(text));
}

}  // namespace vask::fuzz
