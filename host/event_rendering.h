// vask-host's terminal front end, the shown side: each JSON event line of the
// scripted mode as the text a person reads ("[HH:MM] NAME: text", contacts
// with their status names, notices). A line is read once into a record and
// rendered by the one renderer its event name selects; machinery a person
// need not see renders as nothing, and an event without a renderer shows its
// fields as they stand.
#pragma once

#include <string>

#include "host/front_state.h"

namespace vask::host {

// The status name a person reads for a host status number.
std::string StatusName(int status);

// One event line as text; empty when a person need not see it. A line that
// is not a JSON object is shown as it came.
std::string RenderEvent(const std::string& json, FrontState& state);

}  // namespace vask::host
