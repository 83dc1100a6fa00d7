// Outgoing messages: the sending threads, the table of unacknowledged
// messages, "MESSAGEACK" and the notices queued to the host.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_records.h"
#include "win32.h"

namespace vask {

// By the LAN protocol: the message number or 0; in the WinPopup format:
// non-zero (all bits) or 0.
int32_t SendChatMessage(const std::string& target, const std::string& text, bool viaLan);
// Host message kMsgSendMessage's thread; owns and frees the copied record; returns 0.
unsigned WINAPI SendMessageThread(void* record);
// Host message kMsgSendMessage: copy, start the thread; answers
// kAnswerSendMessage whatever became of it.
int StartSendMessage(const MessageRecord* record);
void HandleMessageAck(const DatagramFields& fields);
// Reports and removes every entry older than 10 s; `now` in Unix seconds.
void ExpirePendingMessages(int64_t now);
// Writes again, as they were, the messages still unanswered a few seconds
// after they went, when nothing else was written to their receiver since
// (the worker, once per pass after the expiry); `now` in Unix seconds.
void SendUnacknowledgedAgain(int64_t now);
// At the plug-in's start: the counters go on from the last process's, and
// every message it left unanswered gets the likely-lost notice.
void ReportUnansweredFromLastRun();
// A notice about `from` queued to the host (host message 100).
void QueueNotice(const std::string& from, const std::string& text);

}  // namespace vask
