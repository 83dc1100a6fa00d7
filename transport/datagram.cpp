#include "transport/datagram.h"

#include <charconv>
#include <cstdlib>

namespace vask {

void SplitFields(std::string_view text, char separator, DatagramFields& fields) {
  // Room for every field at once: growing the list field by field would
  // move the strings already split at each step. (find is memchr: a
  // plain count of the bytes is slower on a long text.)
  size_t separators = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, at + 1)) {
    ++separators;
  }
  fields.reserve(fields.size() + separators + 1);
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
  char number[16];
  const std::to_chars_result written = std::to_chars(number, number + sizeof number, sequence);
  const std::string_view digits(number, static_cast<size_t>(written.ptr - number));
  // Built in one buffer of its final size.
  std::string datagram;
  datagram.reserve(digits.size() + sender.size() + target.size() + command.size() + body.size() +
                   5);
  datagram.append(digits);
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
