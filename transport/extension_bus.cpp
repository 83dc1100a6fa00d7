#include "transport/extension_bus.h"

#include <map>
#include <utility>
#include <vector>

#include "base/host_api.h"
#include "transport/lan_engine.h"
#include "base/section_guard.h"

namespace vask {

namespace {

using Guard = SectionGuard;

}  // namespace

int32_t LanEngine::Notify(int32_t flag, void* record) {
  HostControl* host = Host();
  if (host == nullptr || record == nullptr) {
    return 0;
  }
  // The walk runs over a snapshot: a subscriber may answer slowly, call back
  // into us (55000, 55001) or be notified from several threads at once, so
  // no lock may be held across SendToPlugin.
  std::vector<std::pair<int32_t, int32_t>> snapshot;
  {
    Guard guard(listenersLock);
    snapshot.assign(listeners.begin(), listeners.end());
  }
  int32_t result = 0;
  for (const auto& [pluginId, mask] : snapshot) {
    if ((mask & flag) != 0) {
      result |= static_cast<int32_t>(host->SendToPlugin(pluginId, static_cast<HostMessage*>(record)));
    }
  }
  return result;
}

int LanEngine::Subscribe(int32_t pluginId, int32_t mask) {
  Guard guard(listenersLock);
  listeners[pluginId] = mask;
  return static_cast<int>(listeners.size());
}

int HandleBusSubscribe(const BusSubscribeRecord* record) {
  if (record == nullptr) {
    return 0;
  }
  return Engine().Subscribe(record->sender, record->mask);
}

int HandleBusSend(const BusSendRecord* record) {
  if (record == nullptr) {
    return 0;
  }
  return Engine().SendPacket(record->target, record->command, record->body) ? 1 : 0;
}

}  // namespace vask
