// The real LAN: one vask-bridge per machine owns the NetBIOS ports and
// listens on <LAN>/.bridge.
#pragma once

#include <sys/types.h>

#include <string>

namespace vask::host {

// True when a bridge listens on <lan>/.bridge (one too busy to take the
// probe at once counts: it is there).
bool BridgeAnswers(const std::string& lan);
// Starts a bridge for `lan` (beside vask-host, else from PATH) in a session
// of its own, so that it outlives this host, with its log appended to
// <lan>/.bridge.log. The child's pid, or -1 when it could not be forked.
pid_t SpawnBridge(const std::string& lan);
// Starts a bridge when none answers and waits until it does. False, said
// on standard error, when it does not come up. `started` gets the pid of
// the bridge started here, or -1 when one was running already.
bool EnsureBridge(pid_t* started);

}  // namespace vask::host
