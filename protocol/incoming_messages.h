// Incoming messages: "MESSAGE" and WinPopup datagrams, their filters, and
// their delivery to the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "protocol/rejection.h"

namespace vask {

// kIgnored for a sender the user ignores, kTooShort below six fields;
// otherwise acknowledges and accepts; delivers and sets messageDelivered
// unless the same message (sender, number and time) was shown in the last
// minutes.
[[nodiscard]] Rejection HandleMessage(const DatagramFields& fields, int row,
                                      bool& messageDelivered);
void DeliverIncoming(const std::string& sender, const std::string& text, int64_t time);
// A WinPopup datagram (`bytes` as read, `fields` split from them): shown
// unless it repeats its sender's last one byte for byte within
// kPopupRepeatSeconds. Worker thread.
void HandleWinPopup(const DatagramFields& fields, const std::string& bytes, int64_t now);
inline constexpr int64_t kPopupRepeatSeconds = 2;
// The leading run of hexadecimal digits of `text` in base 16; 0 for none.
int64_t ParseHexTime(const std::string& text);
// Empties the window of messages shown (worker thread, or fuzz targets and
// benchmarks that run its steps).
void ForgetShownMessages();

}  // namespace vask
