// The real LAN through vask-bridge (bridge_client.cpp). VASK_REAL_LAN set
// (and not "0") selects it; otherwise none of these are reached.
#pragma once

#include <string>
#include <vector>

#include "handles.h"
#include "win32.h"

namespace vask::platform {

bool RealLanSelected();
// A client on a computer that is not in the LAN directory: the bridge must
// resolve it. INVALID_HANDLE_VALUE with ERROR_BAD_NETPATH when it does not
// or no bridge runs.
HANDLE OpenBridgeClient(const std::string& computer, const std::string& slot);
BOOL WriteBridgeClient(Object* client, const void* buffer, DWORD size, LPDWORD written);
// A write to "*" carried to the network; the GetLastError code.
DWORD BridgeBroadcast(const std::string& slot, const void* buffer, DWORD size);
// A server slot of a computer was opened: with a bridge running, it checks
// that the computer's name is this machine's on the network (registering
// it first). ERROR_SUCCESS, or the bridge's refusal (ERROR_DUP_NAME: another
// machine holds the name). No bridge, or one that does not answer, is no
// refusal: the emulated LAN goes on without the network.
DWORD BridgeClaim(const std::string& workgroup, const std::string& computer);
// A computer of a workgroup that the bridge has heard of, with the comment
// it announced (empty when none).
struct BridgeNeighbour {
  std::string name;
  std::string comment;
};
std::vector<BridgeNeighbour> BridgeNeighbours(const std::string& lan, const std::string& workgroup);

}  // namespace vask::platform
