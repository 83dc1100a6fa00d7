// vask-host's terminal front end, the shown side: each event of the scripted
// mode as the text a person reads ("[HH:MM] NAME: text", contacts with their
// status names, notices). An event is rendered by the one renderer its name
// selects; machinery a person need not see renders as nothing, and an event
// without a renderer shows its fields as they stand.
#pragma once

#include <string>

#include "host/events/host_event.h"
#include "host/terminal/front_state.h"

namespace vask::host {

// The status name a person reads for a host status number.
std::string StatusName(int status);

// An incoming chat message, unless the person asked not to be disturbed:
// the terminal rings and the desktop notifies.
bool CallsForAttention(const EventJson& event, const FrontState& state);

// One event as text; empty when a person need not see it.
std::string RenderEvent(const EventJson& event, FrontState& state);

}  // namespace vask::host
