// Incoming messages: "MESSAGE" and WinPopup datagrams, their filters, and
// their delivery to the host.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_records.h"
#include "protocol/rejection.h"

namespace vask {

// kIgnored for a sender the user ignores, kTooShort below six fields;
// otherwise delivers, acknowledges, sets messageDelivered and accepts.
[[nodiscard]] Rejection HandleMessage(const DatagramFields& fields, int row,
                                      bool& messageDelivered);
void DeliverIncoming(const std::string& sender, const std::string& text, int64_t time);
// The leading run of hexadecimal digits of `text` in base 16; 0 for none.
int64_t ParseHexTime(const std::string& text);

}  // namespace vask
