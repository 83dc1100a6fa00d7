#include "transport/datagram.h"

#include <cstdlib>

namespace vask {

void SplitFields(std::string_view text, char separator, DatagramFields& fields) {
  size_t position = 0;
  while (position < text.size()) {
    size_t end = text.find(separator, position);
    if (end == std::string_view::npos) {
      fields.emplace_back(text.substr(position));
      return;
    }
    fields.emplace_back(text.substr(position, end - position));
    position = end + 1;
  }
}

std::string BuildDatagram(int sequence, std::string_view sender, std::string_view target,
                          std::string_view command, std::string_view body) {
  std::string datagram = std::to_string(sequence);
  datagram.push_back('\0');
  datagram.append(sender);
  datagram.push_back('\0');
  datagram.append(target);
  datagram.push_back('\0');
  datagram.append(command);
  datagram.push_back('\0');
  if (!body.empty()) {
    datagram.append(body);
    datagram.push_back('\0');
  }
  return datagram;
}

int32_t AtoiField(const std::string& text) {
  // atoi itself: its result on overflow is undefined, so the digits are
  // gathered here with wrap-around in unsigned arithmetic.
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace vask
