// Calls the person back to the terminal when a message arrives: the
// terminal's bell, and a desktop notification (libnotify's notify-send) when
// a desktop session exists. Never waits for the notification.
#pragma once

#include <string>

namespace vask::host {

void AlertIncoming(const std::string& from, const std::string& text);

}  // namespace vask::host
