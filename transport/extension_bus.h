// The extension bus: other plug-ins of the host subscribe to the engine's
// traffic (host message kMsgBusSubscribe) and send datagrams of their own
// through it (kMsgBusSend). The notifications themselves leave through
// LanEngine::Notify.
#pragma once

#include "abi/host_records.h"

namespace vask {

// Host message kMsgBusSubscribe: stores the record's mask under its sender's
// plug-in id; answers the number of subscribers afterwards, inactive ones
// included.
int HandleBusSubscribe(const BusSubscribeRecord* record);
// Host message kMsgBusSend: sends the record's datagram whether or not the
// engine runs; 1 when at least one datagram was written, else 0 (also for a
// null record).
int HandleBusSend(const BusSendRecord* record);

}  // namespace vask
