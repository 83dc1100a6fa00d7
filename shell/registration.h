// Settings columns, icons and interface items; the start and the shutdown.
#pragma once

#include <string>

namespace vask {

void RegisterSettings();   // kMsgRegisterSettings
void RegisterInterface();  // kMsgRegisterInterface
void StartPlugin();        // kMsgStart
void ShutdownPlugin();     // kMsgShutdown
// The channel label of item 17 (73 bytes).
std::string ChannelLabel();

}  // namespace vask
