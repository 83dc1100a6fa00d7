// Incoming messages: "MESSAGE" and WinPopup datagrams, their filters, and
// their delivery to the host.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_records.h"

namespace vask {

// May throw Rejection{"Ignored"}; sets messageDelivered at its end.
void HandleMessage(const DatagramFields& fields, int row, bool& messageDelivered);
void DeliverIncoming(const std::string& sender, const std::string& text, int64_t time);
// The leading run of hexadecimal digits of `text` in base 16; 0 for none.
int64_t ParseHexTime(const std::string& text);

}  // namespace vask
