#include "transport/extension_bus.h"

#include <map>
#include <utility>
#include <vector>

#include "base/host_api.h"
#include "base/log.h"
#include "base/section_guard.h"
#include "transport/lan_engine.h"

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
  // into us (kMsgBusSubscribe, kMsgBusSend) or be notified from several
  // threads at once, so no lock may be held across SendToPlugin.
  std::vector<std::pair<int32_t, int32_t>> snapshot;
  {
    Guard guard(listenersLock_);
    snapshot.assign(listeners_.begin(), listeners_.end());
  }
  int32_t result = 0;
  for (const auto& [pluginId, mask] : snapshot) {
    if ((mask & flag) != 0) {
      result |=
          static_cast<int32_t>(host->SendToPlugin(pluginId, static_cast<HostMessage*>(record)));
    }
  }
  return result;
}

int LanEngine::Subscribe(int32_t pluginId, int32_t mask) {
  Guard guard(listenersLock_);
  listeners_[pluginId] = mask;
  return static_cast<int>(listeners_.size());
}

namespace {

// A bus record shorter than its layout: another plug-in's mistake, which
// must not make us read past its end. A size of 0 is a sender that leaves
// the field unset (other plug-ins need not fill it in): such a record is
// read by its layout. Only a size that is stated and short is refused.
bool Covers(const HostMessage* message, size_t layout) {
  if (message->size == 0 || message->size >= layout) return true;
  Log("- Odrzucony rekord %d: rozmiar %d, a powinien miec %d", message->id,
      static_cast<int>(message->size), static_cast<int>(layout));
  return false;
}

// A text longer than any datagram a slot takes cannot be sent: a record
// that claims one is refused before a copy of that length is tried (which
// would throw, past what a string can hold).
bool Sendable(const RuntimeString& text, int id) {
  if (text.length <= kSlotMaxMessage) return true;
  Log("- Odrzucony rekord %d: tekst o dlugosci %lu", id, static_cast<unsigned long>(text.length));
  return false;
}

}  // namespace

int HandleBusSubscribe(const HostMessage* message) {
  if (message == nullptr || !Covers(message, sizeof(BusSubscribeRecord))) return 0;
  const auto* record = reinterpret_cast<const BusSubscribeRecord*>(message);
  return Engine().Subscribe(record->sender, record->mask);
}

int HandleBusSend(const HostMessage* message) {
  if (message == nullptr || !Covers(message, sizeof(BusSendRecord))) return 0;
  const auto* record = reinterpret_cast<const BusSendRecord*>(message);
  if (!Sendable(record->target, message->id) || !Sendable(record->command, message->id) ||
      !Sendable(record->body, message->id)) {
    return 0;
  }
  return Engine().SendPacket(ReadRuntimeString(record->target), ReadRuntimeString(record->command),
                             ReadRuntimeString(record->body))
             ? 1
             : 0;
}

}  // namespace vask
