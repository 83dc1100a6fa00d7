// The LAN datagram: NUL-terminated 8-bit text fields in one mailslot message:
// sequence, sender, target, command, then the body's fields.
#pragma once

#include <string>
#include <string_view>

#include "abi/host_records.h"

namespace vask {

// Appends the fields of `text`, split at `separator`: an empty text gives no
// field, a final separator no empty last field, two in a row an empty field.
void SplitFields(std::string_view text, char separator, DatagramFields& fields);

// sequence NUL sender NUL target NUL command NUL [body NUL].
std::string BuildDatagram(int sequence, std::string_view sender, std::string_view target,
                          std::string_view command, std::string_view body);

// Reads a number the way atoi does: leading blanks, a sign, digits; 0 for
// text that is no number.
int32_t AtoiField(const std::string& text);

}  // namespace vask
