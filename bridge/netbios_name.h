// NetBIOS names: 15 characters and a suffix byte, in the first-level
// encoding of RFC 1001 (each byte as two letters 'A'..'P') with an optional
// scope. Names are kept as we compare them: upper case, trailing spaces
// trimmed; the wildcard "*" is the one name padded with NULs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/codec_status.h"

namespace vask::bridge {

inline constexpr size_t kNameLength = 15;
inline constexpr size_t kEncodedNameSize = 34;  // length byte, 32 letters, the empty root label

inline constexpr uint8_t kSuffixWorkstation = 0x00;
inline constexpr uint8_t kSuffixMessenger = 0x03;

struct NetbiosName {
  std::string name;  // upper case, trailing spaces trimmed, at most 15 bytes
  uint8_t suffix = 0;
  std::string scope;  // dotted scope labels, empty for none

  bool operator==(const NetbiosName&) const = default;
};

// The name as we compare it: ASCII letters upper-cased (other bytes kept as
// they are), cut to 15 bytes, trailing spaces removed.
std::string CanonicalName(const std::string& name);
NetbiosName MakeName(const std::string& name, uint8_t suffix);
// Same name and suffix after canonicalisation; scopes must be equal too.
bool NamesMatch(const NetbiosName& a, const NetbiosName& b);
// For log lines: "FRED<00>".
std::string DescribeName(const NetbiosName& name);

// Appends the wire form (34 bytes without scope). Fails for a name that is
// empty, contains a NUL, or has a scope label that is empty or too long.
Status EncodeName(const NetbiosName& name, std::vector<uint8_t>* out);

// Decodes a name at `offset` of `packet`. `allowPointer` admits the label
// compression of the name service (a pointer to an earlier, uncompressed
// name). On success *end is the offset just past the name in the packet.
Status DecodeName(const uint8_t* packet, size_t size, size_t offset, bool allowPointer,
                  NetbiosName* name, size_t* end);

}  // namespace vask::bridge
