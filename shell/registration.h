// Settings columns, icons and interface items; the start and the shutdown.
#pragma once

#include <string>

namespace vask {

void RegisterSettings();   // 21001
void RegisterInterface();  // 22000
void StartPlugin();        // 22100
void ShutdownPlugin();     // 22101
// The channel label of item 17 (73 bytes).
std::string ChannelLabel();

}  // namespace vask
