// The Wine test host's second half: two copies of vask.dll in one process,
// joined by the relay of lan_relay.h.
#pragma once

#include <string>

namespace wine {

void RunTwoComputers(const std::string& dll);

}  // namespace wine
