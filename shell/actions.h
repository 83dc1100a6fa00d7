// Interface actions (kMsgAction) and the cloak chat command (kMsgChatCommand).
#pragma once

#include "abi/host_records.h"

namespace vask {

int HandleAction(const ActionEvent* event);
int HandleCloak(const MessageRecord* message);

}  // namespace vask
