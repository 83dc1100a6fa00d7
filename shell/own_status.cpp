// The own status: mapping, set-status, auto-away and the list-only flag.
#include "shell/own_status.h"

#include "base/host_api.h"
#include "protocol/receive_loop.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr int kUnchanged = -1;

}  // namespace

int MapStatus(int status) {
  switch (status) {
    case kStatusOffline:
    case kStatusDnd:
    case kStatusAvailable:
    case kStatusBrb:
    case kStatusAway:
      return status;
    default:
      return status <= kStatusAvailable ? kStatusDnd : kStatusAvailable;
  }
}

void SetOwnStatus(int requested, const char* text) {
  LanEngine& engine = Engine();
  const int current = engine.Status();
  const int mapped = MapStatus(requested == kUnchanged ? current : requested);

  // The host may rewrite p2 and p3 before it returns: both are read back.
  HostMessage message{};
  message.size = HostMessageSize(3);
  message.id = kMsgAnnounceStatus;
  message.p2 = mapped == current ? kUnchanged : mapped;
  message.p3 = reinterpret_cast<intptr_t>(text);
  if (HostControl* host = Host()) host->SendToHost(&message);

  int status = current;
  if (message.p2 != kUnchanged) status = static_cast<int>(message.p2);
  engine.SetStatus(MapStatus(status));
  if (message.p3 != 0) engine.SetStatusInfo(reinterpret_cast<const char*>(message.p3));
  engine.MarkStatusDirty();

  // Starts or stops the engine to match, the decision and the start or stop
  // in one step. A failed start has told the user why; the status goes back
  // to offline (still inside that step) so that the host does not show it
  // online.
  engine.FollowStatus(ReceiveLoop, [] { SetOwnStatus(kStatusOffline, ""); });
}

// Auto-away changes only the number reported to the host and the network:
// no announcement, no start or stop. Its decision (is the engine running, is
// the status still the one to replace) is one step under the engine's
// lifecycle lock; a status the user set meanwhile is never overwritten.
void AutoAwayBegin() {
  LanEngine& engine = Engine();
  if (!engine.ReplaceRunningStatus(kStatusAvailable, kStatusAway)) {
    engine.ReplaceRunningStatus(kStatusBrb, kStatusAway);
  }
}

void AutoAwayEnd() {
  LanEngine& engine = Engine();
  // A host call: made before the lock is taken, never under it.
  const int back = static_cast<int>(GetIntSetting(kSettingLastStatus));
  engine.ReplaceRunningStatus(kStatusAway, back);
}

void RefreshOnlyListed() { Engine().SetOnlyListed(GetIntSetting(kSettingOnlyListed) != 0); }

}  // namespace vask
