// Reading and writing fixed-width integers in a byte buffer. NetBIOS fields
// are big-endian, SMB fields little-endian. Readers never look past the end
// they are given: callers check the length first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vask::bridge {

inline uint16_t Get16Be(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Get32Be(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline uint16_t Get16Le(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
inline uint32_t Get32Le(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

inline void Put16Be(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}
inline void Put32Be(std::vector<uint8_t>* out, uint32_t v) {
  Put16Be(out, static_cast<uint16_t>(v >> 16));
  Put16Be(out, static_cast<uint16_t>(v));
}
inline void Put16Le(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32Le(std::vector<uint8_t>* out, uint32_t v) {
  Put16Le(out, static_cast<uint16_t>(v));
  Put16Le(out, static_cast<uint16_t>(v >> 16));
}
inline void Set16Be(std::vector<uint8_t>* out, size_t at, uint16_t v) {
  (*out)[at] = static_cast<uint8_t>(v >> 8);
  (*out)[at + 1] = static_cast<uint8_t>(v);
}

}  // namespace vask::bridge
