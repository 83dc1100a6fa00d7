// The own status: mapping, set-status with the host's kMsgAnnounceStatus
// round trip, auto-away and the list-only refresh.
#pragma once

namespace vask {

// Keeps 0, 34, 64, 65, 68; others at or below 64 become 34, above 64 64.
int MapStatus(int status);
// -1 keeps the current status; text may be null. Starts or stops the engine.
void SetOwnStatus(int requested, const char* text);
void AutoAwayBegin();
void AutoAwayEnd();
void RefreshOnlyListed();

}  // namespace vask
