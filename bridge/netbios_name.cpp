#include "bridge/netbios_name.h"

#include <cstdio>

namespace vask::bridge {
namespace {

constexpr size_t kMaxScopeLabel = 63;
constexpr size_t kMaxWireName = 255;  // RFC 1002: the whole encoded name with its labels

bool IsWildcard(const std::string& name) { return name == "*"; }

// Reads labels from `at` until the root label, filling the first-level
// label and the scope. Returns the offset after the labels or 0 on error
// (a name never ends at offset 0).
struct Labels {
  std::string first;
  std::string scope;
};

Status ReadLabels(const uint8_t* packet, size_t size, size_t at, bool allowPointer,
                  size_t limitForPointer, Labels* labels, size_t* end) {
  size_t wire = 0;
  bool jumped = false;
  bool first = labels->first.empty();
  while (true) {
    if (at >= size) return Status::Fail("name runs past the packet");
    uint8_t length = packet[at];
    if ((length & 0xC0) == 0xC0) {
      if (!allowPointer) return Status::Fail("compressed name where none is allowed");
      if (at + 1 >= size) return Status::Fail("name pointer runs past the packet");
      size_t target = static_cast<size_t>(length & 0x3F) << 8 | packet[at + 1];
      if (target >= limitForPointer) return Status::Fail("name pointer does not point back");
      if (!jumped) *end = at + 2;
      jumped = true;
      allowPointer = false;  // one jump only: no loops
      at = target;
      continue;
    }
    if ((length & 0xC0) != 0) return Status::Fail("bad label length in a name");
    wire += 1 + length;
    if (wire > kMaxWireName) return Status::Fail("name too long");
    if (length == 0) {
      if (!jumped) *end = at + 1;
      if (first) return Status::Fail("empty name");
      return Status::Ok();
    }
    if (at + 1 + length > size) return Status::Fail("name runs past the packet");
    const char* text = reinterpret_cast<const char*>(packet + at + 1);
    if (first) {
      labels->first.assign(text, length);
      first = false;
    } else {
      if (!labels->scope.empty()) labels->scope += '.';
      labels->scope.append(text, length);
    }
    at += 1 + length;
  }
}

}  // namespace

std::string CanonicalName(const std::string& name) {
  std::string out = name.substr(0, kNameLength);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

NetbiosName MakeName(const std::string& name, uint8_t suffix) {
  return NetbiosName{CanonicalName(name), suffix, {}};
}

bool NamesMatch(const NetbiosName& a, const NetbiosName& b) {
  return a.suffix == b.suffix && CanonicalName(a.name) == CanonicalName(b.name) &&
         CanonicalName(a.scope) == CanonicalName(b.scope);
}

std::string DescribeName(const NetbiosName& name) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "<%02X>", name.suffix);
  std::string out;
  for (char c : name.name) {
    out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
  }
  return out + suffix;
}

Status EncodeName(const NetbiosName& name, std::vector<uint8_t>* out) {
  std::string canonical = CanonicalName(name.name);
  if (canonical.empty()) return Status::Fail("empty name");
  if (canonical.find('\0') != std::string::npos) return Status::Fail("NUL in a name");
  if (name.scope.size() > kMaxWireName - 34) return Status::Fail("scope too long");
  uint8_t raw[16];
  char pad = IsWildcard(canonical) ? '\0' : ' ';
  for (size_t i = 0; i < kNameLength; ++i) {
    raw[i] = static_cast<uint8_t>(i < canonical.size() ? canonical[i] : pad);
  }
  raw[15] = name.suffix;
  size_t start = out->size();
  out->push_back(0x20);
  for (uint8_t b : raw) {
    out->push_back(static_cast<uint8_t>('A' + (b >> 4)));
    out->push_back(static_cast<uint8_t>('A' + (b & 0x0F)));
  }
  size_t label = 0;
  while (label < name.scope.size()) {
    size_t dot = name.scope.find('.', label);
    if (dot == std::string::npos) dot = name.scope.size();
    size_t length = dot - label;
    if (length == 0 || length > kMaxScopeLabel) {
      out->resize(start);
      return Status::Fail("bad scope label");
    }
    out->push_back(static_cast<uint8_t>(length));
    out->insert(out->end(), name.scope.begin() + label, name.scope.begin() + dot);
    label = dot + 1;
  }
  out->push_back(0);
  return Status::Ok();
}

Status DecodeName(const uint8_t* packet, size_t size, size_t offset, bool allowPointer,
                  NetbiosName* name, size_t* end) {
  Labels labels;
  size_t after = 0;
  Status status = ReadLabels(packet, size, offset, allowPointer, offset, &labels, &after);
  if (!status) return status;
  if (labels.first.size() != 32) return Status::Fail("first-level name is not 32 letters");
  uint8_t raw[16];
  for (size_t i = 0; i < 16; ++i) {
    uint8_t hi = static_cast<uint8_t>(labels.first[2 * i]);
    uint8_t lo = static_cast<uint8_t>(labels.first[2 * i + 1]);
    if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P') {
      return Status::Fail("letter outside A-P in a name");
    }
    raw[i] = static_cast<uint8_t>((hi - 'A') << 4 | (lo - 'A'));
  }
  std::string text(reinterpret_cast<const char*>(raw), kNameLength);
  bool wildcard = text[0] == '*' && text.find_first_not_of('\0', 1) == std::string::npos;
  if (wildcard) {
    text = "*";
  } else {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) return Status::Fail("empty name");
    if (text.find('\0') != std::string::npos) return Status::Fail("NUL in a name");
  }
  name->name = text;
  name->suffix = raw[15];
  name->scope = labels.scope;
  *end = after;
  return Status::Ok();
}

}  // namespace vask::bridge
