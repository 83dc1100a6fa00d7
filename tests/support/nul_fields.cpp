#include "tests/support/nul_fields.h"

namespace vask::test {

Fields SplitAtNul(const std::string& bytes) {
  Fields fields;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    fields.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

std::string Join(const Fields& fields) {
  std::string bytes;
  for (const std::string& field : fields) {
    bytes += field;
    bytes += '\0';
  }
  return bytes;
}

std::string Datagram(const std::string& sequence, const std::string& sender,
                     const std::string& target, const std::string& command,
                     const std::string& body) {
  std::string bytes = Join({sequence, sender, target, command});
  if (!body.empty()) {
    bytes += body;
    bytes += '\0';
  }
  return bytes;
}

}  // namespace vask::test
