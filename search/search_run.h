// The search run started from the host's search form, and the answering of
// queries from other computers.
#pragma once

#include "abi/host_records.h"
#include "win32.h"

namespace vask {

// Host message kMsgSearch: runs RunSearch on a host thread and waits for it while
// pumping; answers 0.
int StartSearch(FoundContact* request);
unsigned WINAPI RunSearch(void* request);
// The query body of 13 fields (without its final NUL) for a request.
std::string BuildQueryBody(const FoundContact& request);
void HandleSearch(const DatagramFields& fields);

}  // namespace vask
