#include "protocol/outgoing_messages.h"

namespace vask {

int32_t SendChatMessage(const std::string&, const std::string&, bool) { return 0; }
unsigned WINAPI SendMessageThread(void*) { return 0; }
int StartSendMessage(const MessageRecord*) { return 8; }
void HandleMessageAck(const DatagramFields&) {}
void ExpirePendingMessages(int32_t) {}
void QueueNotice(const std::string&, const std::string&) {}

}  // namespace vask
