#include "protocol/outgoing_messages.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/host_api.h"
#include "base/log.h"
#include "protocol/presence_watch.h"
#include "protocol/send_queue.h"
#include "transport/datagram.h"
#include "transport/datagram_room.h"
#include "transport/lan_engine.h"
#include "transport/mailslot_handle.h"

namespace vask {

namespace {

constexpr size_t kPendingTextLength = 30;
constexpr int32_t kExpirySeconds = 10;
// An unanswered message is written again about 2 and 4 seconds after it
// was sent (the clock counts whole seconds), both before it counts as lost.
// An answer comes within half a second unless something went wrong, and
// the sooner the copy goes, the likelier it is that nothing else went to
// the receiver since, which is when a copy may go at all.
constexpr int64_t kResendSeconds = 2;
constexpr int kResendCopies = 2;
constexpr const char* kSendFailedFormat = "Wystąpił błąd podczas dostarczania wiadomości! [%d]";
constexpr const char* kLostBefore = "Wiadomość \"";
constexpr const char* kLostAfter = "\" prawdopodobnie nie została dostarczona.";
constexpr const char* kLateDelivery = "Wiadomość jednak została dostarczona :)";
constexpr const char* kCommandMessage = "MESSAGE";

std::string UpperHex(int64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(value));
  return buffer;
}

// The hexadecimal Unix time at the end of a "MESSAGE": 32 bits.
constexpr size_t kTimeDigits = 8;

// The parts a text goes in, each within `room` bytes; the whole text as one
// part when not even a byte fits (the write then fails as a network refuses
// it, rather than a text being sent a byte at a time).
std::vector<std::string> Parts(const std::string& text, size_t room) {
  if (room == 0) return {text};
  return SplitText(text, room);
}

// A long message goes as several "MESSAGE" datagrams, each within what one
// write between computers carries, so that it arrives (in parts) rather than
// not at all; a copy that knows nothing of parts shows each as a message.
// Each part has a number of its own, is remembered and acknowledged on its
// own, and its likely-lost notice quotes it. The result is the last part's
// number when every part was written, else 0 with the first failure's error.
int32_t SendByLan(const std::string& target, const std::string& text) {
  LanEngine& engine = Engine();
  const int64_t now = UnixNow();
  const std::string time = UpperHex(now);
  // number NUL text NUL time, the number sized for the widest.
  const size_t room = BodyRoom(target, kCommandMessage);
  const size_t fixed = kMaxNumberDigits + 1 + 1 + kTimeDigits;
  const bool resend = GetIntSetting(kSettingResend) != 0;
  int32_t last = 0;
  DWORD failure = ERROR_SUCCESS;
  for (const std::string& part : Parts(text, room > fixed ? room - fixed : 0)) {
    // The engine takes the number and remembers the part in one step, so
    // its acknowledgement can never arrive before its entry.
    const int32_t number = engine.RememberPending(now, part.substr(0, kPendingTextLength), target);
    std::string body = std::to_string(number);
    body += '\0';
    body += part;
    body += '\0';
    body += time;
    // A failed send leaves the entry pending: it expires as likely lost,
    // which is what the user would see had the datagram been lost on the way.
    MessageCopy written;
    if (engine.SendPacket(target, kCommandMessage, body, &written)) {
      last = number;
      // The engine writes it again only while it is the last datagram that
      // went to the receiver.
      if (resend) engine.KeepDatagram(number, std::move(written));
    } else if (failure == ERROR_SUCCESS) {
      failure = GetLastError();
      if (failure == ERROR_SUCCESS) failure = ERROR_GEN_FAILURE;
    }
  }
  if (failure != ERROR_SUCCESS) {
    SetLastError(failure);
    return 0;
  }
  return last;
}

// The WinPopup format splits the same way: its datagram is the sender's
// name, the addressee and the text, each ended by a NUL.
int32_t SendByWinPopup(const std::string& target, const std::string& text) {
  MailslotHandle slot;
  if (!slot.OpenClient(target.c_str(), kWinPopupSlotName, nullptr)) {
    Engine().NoteSendFailure(GetLastError());
    return 0;
  }
  // The name is a copy taken under the engine's text guard: the cloak
  // command may replace it on a host thread while we build this datagram.
  std::string head = Engine().CloakName();
  head += '\0';
  head += target;
  head += '\0';
  const size_t fixed = head.size() + 1;
  bool sent = true;
  for (const std::string& part :
       Parts(text, kMaxRemoteDatagram > fixed ? kMaxRemoteDatagram - fixed : 0)) {
    std::string datagram = head + part;
    datagram += '\0';
    DWORD written = 0;
    slot.Write(datagram.data(), static_cast<uint32_t>(datagram.size()), &written);
    if (written == 0) {
      // Error 3025 (remote mailslots switched off) is told once per start.
      Engine().NoteSendFailure(GetLastError());
      sent = false;
      break;
    }
  }
  const DWORD error = GetLastError();
  slot.Close();
  SetLastError(error);
  return sent ? -1 : 0;
}

bool NoticesWanted() { return GetIntSetting(kSettingNotices) != 0; }

std::string OrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

int32_t SendChatMessage(const std::string& target, const std::string& text, bool viaLan) {
  return viaLan ? SendByLan(target, text) : SendByWinPopup(target, text);
}

namespace {

void SendOne(const MessageRecord* record) {
  const std::string to = OrEmpty(record->to);
  const std::string body = OrEmpty(record->body);
  const int row = static_cast<int>(SendHost(kMsgFindContact, record->net, to.c_str()));
  // With WinPopup emulation on, only a contact known to be present speaks
  // our protocol for sure; everybody else may be a plain WinPopup client.
  bool viaLan = true;
  if (GetIntSetting(kSettingWinPopup) != 0) {
    viaLan = row != -1 && (GetContactInt(row, kColumnStatus) & kStatusNumberMask) != kStatusOffline;
  }
  const int32_t result = SendChatMessage(to, body, viaLan);
  if (result != 0) {
    SendHost(kMsgSendResult, record->id, 1);
  } else {
    const DWORD error = GetLastError();
    QueueNotice(to, FormatText(kSendFailedFormat, static_cast<int>(error)));
    SendHost(kMsgSendResult, record->id, 0);
    AskWhetherPresent(to);
  }
}

}  // namespace

namespace {

// One message, owned and freed here. Only memory exhaustion throws in
// SendOne; the host's thread start must not see it, and the host still
// learns that the message did not go.
void SendAndFree(MessageRecord* record) {
  try {
    SendOne(record);
  } catch (...) {
    LogThreadAborted("wysylania");
    try {
      SendHost(kMsgSendResult, record->id, 0);
    } catch (...) {
    }
  }
  FreeMessageCopy(record);
}

void FailAndFree(MessageRecord* record) {
  SendHost(kMsgSendResult, record->id, 0);
  FreeMessageCopy(record);
}

}  // namespace

unsigned WINAPI SendMessageThread(void* argument) {
  auto* record = static_cast<MessageRecord*>(argument);
  if (record == nullptr) {
    return 0;
  }
  // This thread is the computer's sender: it goes on with the messages to
  // the same computer handed over meanwhile, in their order.
  std::string computer;
  try {
    computer = OrEmpty(record->to);
  } catch (...) {
  }
  SendAndFree(record);
  while (MessageRecord* next = OutgoingQueue().Next(computer)) SendAndFree(next);
  // Each message had a thread of its own: its text buffers go with it.
  ReleaseThreadBuffers();
  return 0;
}

int StartSendMessage(const MessageRecord* record) {
  HostControl* host = Host();
  if (record == nullptr || host == nullptr) {
    return kAnswerSendMessage;
  }
  MessageRecord* copy = CopyMessageRecord(record);
  if (copy == nullptr) {
    Log("Nie mozna skopiowac wiadomosci do wyslania");
    SendHost(kMsgSendResult, record->id, 0);
    return kAnswerSendMessage;
  }
  const std::string computer = OrEmpty(copy->to);
  if (OutgoingQueue().QueueBehind(computer, copy)) return kAnswerSendMessage;
  HANDLE thread = host->BeginThread(nullptr, 0, SendMessageThread, copy, 0, nullptr);
  if (thread == nullptr || thread == INVALID_HANDLE_VALUE) {
    // The thread never ran, so nobody else will free the copy, or those
    // queued behind it meanwhile, or tell the host that they did not go.
    Log("Nie mozna uruchomic watku wysylajacego wiadomosc");
    FailAndFree(copy);
    for (MessageRecord* left : OutgoingQueue().Abandon(computer)) FailAndFree(left);
    return kAnswerSendMessage;
  }
  // Nobody waits for a sending thread; its handle is ours to release.
  CloseHandle(thread);
  return kAnswerSendMessage;
}

void HandleMessageAck(const DatagramFields& fields) {
  if (fields.size() < 5) {
    return;
  }
  const int32_t number = AtoiField(fields[4]);
  // A repeated answer (the network's copy, or the answer to a message we
  // sent again) settles nothing new and tells nothing. Only the computer
  // the message went to settles it.
  if (Engine().TakeAcknowledged(number, fields[1]) == AckOutcome::kLate && NoticesWanted()) {
    QueueNotice(fields[1], kLateDelivery);
  }
}

void ExpirePendingMessages(int64_t now) {
  const std::vector<PendingMessage> expired = Engine().ExpirePending(now, kExpirySeconds);
  for (const PendingMessage& message : expired) AskWhetherPresent(message.target);
  // Host calls happen outside the lock so that a sending thread is never
  // held up by the host's handling of a notice.
  if (expired.empty() || !NoticesWanted()) {
    return;
  }
  for (const PendingMessage& message : expired) {
    QueueNotice(message.target, kLostBefore + message.text + kLostAfter);
  }
}

void SendUnacknowledgedAgain(int64_t now) {
  LanEngine& engine = Engine();
  for (const MessageCopy& copy : engine.TakeCopiesDue(now, kResendSeconds, kResendCopies)) {
    // A copy that cannot be written, or may not be (something else went to
    // that computer since), is one chance fewer; the expiry still tells the
    // user if no answer comes.
    engine.WriteAgain(copy);
  }
}

void ReportUnansweredFromLastRun() {
  const std::vector<PendingMessage> left = Engine().ResumeFromStore();
  if (left.empty() || !NoticesWanted()) return;
  // The last process ended before their answers came: they may not have
  // arrived, as an expired message may not have.
  for (const PendingMessage& message : left) {
    QueueNotice(message.target, kLostBefore + message.text + kLostAfter);
  }
}

void QueueNotice(const std::string& from, const std::string& text) {
  MessageRecord notice = LanMessageRecord(kMessageTypeNotice, from, text, 0, 0);
  SendHost(kMsgShowMessage, &notice);
}

}  // namespace vask
