// Search replies and contact details.
#pragma once

#include <string>

#include "abi/host_records.h"

namespace vask {

void SendSearchReply(const std::string& target, const std::string& firstField);
void HandleSearchReply(int row, const DatagramFields& fields);
// Host message kMsgFetchDetails; answers 0. A request it cannot serve (the
// own entry, another network) sets the host error code kErrorRefused
// itself, as the dispatch's default path would.
int RequestContactDetails(int contact, bool fromWindow);
// Host message kMsgPublishDetails; answers 0. Sets the host error code
// kErrorRefused first, and again when the contact is not the own entry.
int PublishOwnDetails(int contact);

}  // namespace vask
