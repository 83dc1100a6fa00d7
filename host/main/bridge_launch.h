// The real LAN: one vask-bridge per machine owns the NetBIOS ports and
// listens on <LAN>/.bridge.
#pragma once

namespace vask::host {

// Starts a bridge (beside vask-host, else from PATH) when none answers on
// <LAN>/.bridge, with its log at <LAN>/.bridge.log, and waits until it
// does; it outlives this host. False, said on standard error, when it does
// not come up.
bool EnsureBridge();

}  // namespace vask::host
