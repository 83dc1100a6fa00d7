// The table of unacknowledged messages as one settings text, so that it
// outlives the process: a host killed before the answers came still tells
// its user at the next start which messages may not have arrived.
//
// One line per message: its number, its send time in hexadecimal, its
// target and its text, separated by blanks; in the target and the text
// every byte up to the blank, '%' and DEL is written as %XX. A line that
// does not read back is skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "transport/lan_engine.h"

namespace vask {

std::string EncodePending(const std::map<int32_t, PendingMessage>& pending);
std::map<int32_t, PendingMessage> DecodePending(const std::string& text);

}  // namespace vask
