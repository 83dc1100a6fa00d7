#include "protocol/receive_loop.h"

#include <algorithm>
#include <new>

#include "base/clock.h"
#include "base/host_api.h"
#include "base/log.h"
#include "protocol/incoming_messages.h"
#include "protocol/outgoing_messages.h"
#include "protocol/presence.h"
#include "protocol/presence_watch.h"
#include "search/search_replies.h"
#include "search/search_run.h"
#include "transport/datagram.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

constexpr DWORD kPollMs = 250;

// What a handler gets: the datagram, the sender's contact row, and the
// drain's delivery flag.
struct Received {
  const DatagramFields& fields;
  int row;
  bool& messageDelivered;
};

struct Command {
  const char* word;
  size_t minFields;
  // "STATUS" only from a contact; tested before the field count.
  bool contactOnly;
  Rejection (*handle)(const Received&);
};

// Handlers that take every datagram the checks let through.
template <void (*Handle)(const DatagramFields&)>
Rejection Takes(const Received& r) {
  Handle(r.fields);
  return kAccepted;
}

const Command kCommands[] = {
    {"MESSAGE", 6, false,
     [](const Received& r) { return HandleMessage(r.fields, r.row, r.messageDelivered); }},
    {"MESSAGEACK", 5, false, Takes<HandleMessageAck>},
    {"PING", 4, false, Takes<HandlePing>},
    {"GETSTATUS", 4, false, Takes<HandleGetStatus>},
    {"STATUS", 6, true,
     [](const Received& r) {
       HandleStatus(r.fields, r.row);
       return kAccepted;
     }},
    {"SEARCH", 4, false, Takes<HandleSearch>},
    {"SEARCHREPLY", 11, false,
     [](const Received& r) {
       HandleSearchReply(r.row, r.fields);
       return kAccepted;
     }},
};

[[nodiscard]] Rejection Dispatch(const Received& received, int32_t claimed) {
  const std::string& word = received.fields[3];
  for (const Command& command : kCommands) {
    if (word != command.word) continue;
    if (command.contactOnly && received.row < 1) return kNotOnList;
    if (received.fields.size() < command.minFields) return kTooShort;
    return command.handle(received);
  }
  // A command of another plug-in: fine when a bus subscriber took it.
  return claimed == 0 ? kUnsupported : kAccepted;
}

bool IsSingleSender(const std::string& sender) {
  return !sender.empty() && sender != "*" && sender != "^";
}

// A repeat of the sender's last number that comes seconds after the first
// is no copy the network made (those come within milliseconds): its sender
// wrote the message again because our answer did not arrive, and nothing
// else of its went in between, so it has nothing but this repeat to hear
// an answer to. A "MESSAGE" with its time field is answered again; the
// window of shown messages keeps it from being shown twice. Nothing else
// of a repeat is handled, and it is not offered to the bus again.
void AnswerMessageSentAgain(LanEngine& engine, const DatagramFields& fields) {
  if (fields.size() <= 6 || fields[3] != "MESSAGE") return;
  const int row = static_cast<int>(SendHost(kMsgFindContact, NET_LAN, fields[1].c_str()));
  // The first copy met the same rules: one banned then is banned now.
  if (engine.OnlyListed() && row == -1) return;
  bool delivered = false;
  (void)HandleMessage(fields, row, delivered);
}

[[nodiscard]] Rejection Check(LanEngine& engine, const std::string& bytes, bool fromChannel,
                              bool& messageDelivered, DeliveryPath path) {
  DatagramFields fields;
  SplitFields(bytes, '\0', fields);
  if (fields.size() < (fromChannel ? 4u : 3u)) return kTooShort;
  if (!fromChannel) {
    HandleWinPopup(fields, bytes, UnixNow());
    return kAccepted;
  }
  // Every answer goes to the sender field: one that names nobody, or
  // everybody ("*", "^"), would turn one forged datagram into a broadcast
  // from every copy that hears it.
  if (!IsSingleSender(fields[1])) return kBadSender;
  // A broadcast comes by mailslot and by UDP: the second copy of the very
  // same datagram is dropped as a repeat, whatever came in between.
  if (engine.Mode() != TransportMode::kMailslots && engine.IsPathCopy(fields[1], bytes, path)) {
    return kAccepted;
  }
  // Only the last number of each sender counts: a repeat of it is dropped
  // without a trace, an older one is taken again.
  const int64_t now = UnixNow();
  int64_t takenAt = 0;
  if (engine.RepeatsLastNumber(fields[1], AtoiField(fields[0]), now, &takenAt)) {
    if (takenAt > 0 && now - takenAt >= kLateRepeatSeconds) AnswerMessageSentAgain(engine, fields);
    return kAccepted;
  }

  const int row = static_cast<int>(SendHost(kMsgFindContact, NET_LAN, fields[1].c_str()));
  if (engine.OnlyListed() && row == -1) return kBanned;
  if (row >= 1) NoteHeardFrom(fields[1], now);

  // The fields as a list of the host runtime's string objects.
  const RuntimeTextList list(fields);
  BusReceivedRecord offered{};
  offered.size = sizeof offered;
  offered.id = kMsgBusReceived;
  offered.receiver = kReceiverAny;
  offered.fields = list.list();
  offered.contact = row;
  const int32_t claimed = engine.Notify(EVENT_RECEIVED, &offered);
  return Dispatch(Received{fields, row, messageDelivered}, claimed);
}

// Reads until both slots are empty or a stop was asked for (a steady stream
// of datagrams must not keep the worker from seeing the stop), in rounds:
// each takes what the slots held when it began (the WinPopup slot's first),
// then the UDP port's frames, and another round follows while the last one
// read from the slots. A datagram's network copy, which comes a moment after
// it, is so read in the same pass as the datagram, and the slots are asked
// for their counts once a round, not once a datagram.
void Drain(LanEngine& engine, LanEngine::WaitingCounts waiting, bool& messageDelivered) {
  std::string buffer;
  std::string bytes;
  bool slotsRead = false;  // in this round
  while (engine.Running()) {
    DeliveryPath path = DeliveryPath::kMailslot;
    const DatagramSource source = engine.ReadNextDatagram(buffer, bytes, waiting, path);
    if (source == DatagramSource::kNone) {
      if (!slotsRead) return;
      waiting = engine.CountWaiting();
      slotsRead = false;
      continue;
    }
    if (path == DeliveryPath::kMailslot) slotsRead = true;
    if (bytes.empty()) continue;
    // A rejection has been logged; the drain goes on either way.
    HandleDatagram(engine, bytes, source == DatagramSource::kChannel, messageDelivered, path);
  }
}

void AskHostForMessages() {
  MessageQuery query = kLanMessageQuery;
  SendHost(kMsgQueryMessages, &query);
}

}  // namespace

Rejection HandleDatagram(LanEngine& engine, const std::string& bytes, bool fromChannel,
                         bool& messageDelivered, DeliveryPath path) {
  Rejection rejection = kAccepted;
  try {
    rejection = Check(engine, bytes, fromChannel, messageDelivered, path);
    if (!rejection) return kAccepted;
    // The line is cut at kLogMax characters: no more of the datagram can
    // show, so only that much is copied (on the stack, NULs as '|').
    char shown[kLogMax + 1];
    const size_t length = std::min<size_t>(bytes.size(), kLogMax);
    std::replace_copy(bytes.data(), bytes.data() + length, shown, '\0', '|');
    shown[length] = '\0';
    Log("Dotarl nieprawidlowy pakiet cmd=%d body=\"%s\" e=\"%s\"", fromChannel ? 1 : 0, shown,
        rejection.reason);
  } catch (const std::bad_alloc&) {
    // Only the allocator throws here, when memory is exhausted: one
    // datagram too large to handle is dropped; the loop goes on.
  }
  return rejection;
}

void DrainSlots(LanEngine& engine) {
  const LanEngine::WaitingCounts waiting = engine.CountWaiting();
  if (waiting.total() == 0 && !engine.ListensOnUdp()) return;
  bool messageDelivered = false;
  Drain(engine, waiting, messageDelivered);
  if (messageDelivered) AskHostForMessages();
}

namespace {

void RunLoop(LanEngine& engine) {
  BusEngineRecord started{};
  started.size = sizeof started;
  started.id = kMsgBusEngine;
  started.event = EVENT_STARTED;
  engine.Notify(EVENT_STARTED, &started);
  engine.SendPacket("*", "GETSTATUS", "");
  engine.MarkStatusDirty();
  ResetPresenceWatch(UnixNow());

  while (engine.Running()) {
    // Cleared before sending, so a change made while the "STATUS" goes out
    // is sent at the next pass rather than lost.
    if (engine.TakeStatusDirty()) SendStatus("*");
    const int64_t now = UnixNow();
    ExpirePendingMessages(now);
    SendUnacknowledgedAgain(now);
    DrainSlots(engine);
    TendPresence(UnixNow());
    engine.SaveSequence();
    engine.StoreTableIfChanged();
    if (engine.Running()) Sleep(kPollMs);
  }

  // A change to offline sets the flag and stops at once: this is how the
  // "STATUS" 0 reaches the LAN.
  if (engine.TakeStatusDirty()) SendStatus("*");
  engine.SaveSequence();
  engine.StoreTableIfChanged();
}

}  // namespace

unsigned WINAPI ReceiveLoop(void* argument) {
  LanEngine& engine = *static_cast<LanEngine*>(argument);
  // Only memory exhaustion throws here, and it must not reach the host's
  // thread start, which would end the host: the worker ends as if stopped.
  try {
    RunLoop(engine);
  } catch (...) {
    engine.WorkerAborted();
    LogThreadAborted("Vask");
  }
  // Released while the library is surely still loaded: a stop that waits
  // for this thread goes on once WorkerEnded clears the worker mark.
  ReleaseThreadBuffers();
  engine.WorkerEnded();
  return 0;
}

}  // namespace vask
