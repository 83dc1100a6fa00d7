// The extension bus: other plug-ins of the host subscribe to the engine's
// traffic (host message kMsgBusSubscribe) and send datagrams of their own
// through it (kMsgBusSend). The notifications themselves leave through
// LanEngine::Notify.
#pragma once

#include "abi/host_records.h"

namespace vask {

// Host message kMsgBusSubscribe: stores the record's mask under its sender's
// plug-in id; answers the number of subscribers afterwards, inactive ones
// included. A record whose nonzero size does not cover the mask is refused
// with 0 and a log line, unread; a size of 0 is read by the layout.
int HandleBusSubscribe(const HostMessage* message);
// Host message kMsgBusSend: sends the datagram of the record's three string
// objects whether or not the engine runs; 1 when at least one datagram was
// written, else 0 (also for a null record). A record whose nonzero size
// does not cover the three objects, or one of whose texts claims more than
// kSlotMaxMessage bytes, is refused with 0 and a log line, unread; a size
// of 0 is read by the layout.
int HandleBusSend(const HostMessage* message);

}  // namespace vask
