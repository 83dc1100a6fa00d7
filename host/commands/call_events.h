// What a plug-in's call into the host becomes as an event: every host
// message and every record sent to another plug-in is forwarded to the
// outputs with its decoded fields, so a script sees what the plug-in did.
#pragma once

#include <optional>
#include <string>

#include "host/core/call_log.h"
#include "host/events/host_event.h"

namespace vask::host {

// Adds a recorded call's decoded fields to an event (texts as UTF-8).
void AddFields(Event& line, const RecordedCall& call);
// "host-message" or "to-plugin" for such a call; "service" for any other
// service call when verbose; nothing otherwise.
std::optional<Event> CallEvent(const RecordedCall& call, bool verbose);
// The host event (`name`) that follows a host message, with its fields.
Event HostEventOf(const std::string& name, const RecordedCall& call);

}  // namespace vask::host
