// Presence: "STATUS", "GETSTATUS", "PING"/"PONG", and host message kMsgContactReported.
#pragma once

#include <string>

#include "abi/host_records.h"

namespace vask {

// "STATUS" with the own status to a computer or "*".
void SendStatus(std::string target);
void HandleGetStatus(const DatagramFields& fields);
// The sender is a contact (row >= 1) with at least 6 fields.
void HandleStatus(const DatagramFields& fields, int row);
// Shows the contact in `row` offline, as its "STATUS" 0 would (the watch,
// for a contact that stopped answering). Host threads or the worker.
void ShowOffline(int row);
void HandlePing(const DatagramFields& fields);
// Host message kMsgContactReported; answers 0.
int OnContactReported(int row);

}  // namespace vask
