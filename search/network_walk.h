// The walk of the network neighbourhood, reporting every computer found.
#pragma once

#include <string>

#include "abi/host_records.h"
#include "win32.h"

namespace vask {

enum class WalkStart { OwnContext, Root, Container };

// One level of the walk; containers are entered depth first. `container` is
// used when start is Container. Watches notice.cancelled.
void WalkNetwork(const SearchStatusRecord& notice, WalkStart start, NETRESOURCEA* container,
                 const std::string& filter);

}  // namespace vask
