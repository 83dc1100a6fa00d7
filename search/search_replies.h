// Search replies and contact details.
#pragma once

#include <string>

#include "shell/host_records.h"

namespace vask {

void SendSearchReply(const std::string& target, const std::string& firstField);
void HandleSearchReply(int row, const DatagramFields& fields);
// Host message 34001; answers 0.
int RequestContactDetails(int contact, bool fromWindow);
// Host message 34000; answers 0.
int PublishOwnDetails(int contact);

}  // namespace vask
