#include "transport/extension_bus.h"

#include "transport/lan_engine.h"

namespace vask {

int32_t LanEngine::Notify(int32_t, void*) { return 0; }

int LanEngine::Subscribe(int32_t, int32_t) { return 0; }

int HandleBusSubscribe(const BusSubscribeRecord*) { return 0; }

int HandleBusSend(const BusSendRecord*) { return 0; }

}  // namespace vask
