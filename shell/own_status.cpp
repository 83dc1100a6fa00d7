// The own status: mapping, set-status, auto-away and the list-only flag.
#include "shell/own_status.h"

#include "base/host_api.h"
#include "protocol/receive_loop.h"
#include "transport/lan_engine.h"
#include "base/section_guard.h"

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
  const int current = engine.status.load();
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
  engine.status.store(MapStatus(status));
  if (message.p3 != 0) engine.SetStatusInfo(reinterpret_cast<const char*>(message.p3));
  engine.statusDirty = true;

  // Deciding and starting or stopping are one step under the lifecycle
  // lock, with the status read again inside it: an online request that
  // came while another thread's stop was still under way would otherwise
  // find the engine running, do nothing, and leave it stopped once that
  // stop ended. Whoever decides last sees the last status stored.
  SectionGuard lifecycle(engine.lifecycleLock);
  const bool online = engine.status.load() != kStatusOffline;
  if (!engine.running && online) {
    // A failed start has told the user why; the status goes back to
    // offline so that the host does not show it online.
    if (!engine.Start(ReceiveLoop)) SetOwnStatus(kStatusOffline, "");
  } else if (engine.running && !online) {
    engine.Stop(false);
  }
}

// Auto-away changes only the number reported to the host and the network:
// no announcement, no start or stop.
void AutoAwayBegin() {
  LanEngine& engine = Engine();
  if (!engine.running) return;
  const int status = engine.status.load();
  if (status == kStatusAvailable || status == kStatusBrb) engine.status.store(kStatusAway);
}

void AutoAwayEnd() {
  LanEngine& engine = Engine();
  if (!engine.running) return;
  if (engine.status.load() == kStatusAway) engine.status.store(GetIntSetting(kSettingLastStatus));
}

void RefreshOnlyListed() { Engine().onlyListed = GetIntSetting(kSettingOnlyListed) != 0; }

}  // namespace vask
