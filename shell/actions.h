// Interface actions (host message 22200) and the cloak chat command (20100).
#pragma once

#include "abi/host_records.h"

namespace vask {

int HandleAction(const ActionEvent* event);
int HandleCloak(const MessageRecord* message);

}  // namespace vask
