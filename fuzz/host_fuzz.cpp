// Fuzz target for what the host hands the plug-in: a run of host messages
// through the export, each with its record filled from the input. Texts
// are NUL-terminated (the host's promise) but hold any bytes; the fixed
// text arrays of a search request hold any bytes, a missing NUL included;
// numbers, action ids and masks are anything; contact rows are rows the
// host has. The host of fuzz_host.h checks every call the plug-in makes
// back into it, and starts no threads, so a send or a search ends on its
// "could not start" path after the plug-in has copied the host's record.
//
// Input: a run of operations, each one byte choosing the message, then the
// bytes that message reads (numbers as 4 little-endian bytes, texts as a
// length byte, 255 for a null pointer, then the bytes). A short input
// reads as zeros.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "abi/plugin_export.h"
#include "fuzz/fuzz_host.h"
#include "transport/lan_engine.h"

namespace {

using namespace vask;
using vask::fuzz::FuzzHost;

FuzzHost gHost;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(v);
  }
  // A text kept alive in `keep` until the operation ends; null for 255.
  char* Text(std::deque<std::string>& keep) {
    const uint8_t length = Byte();
    if (length == 255) return nullptr;
    std::string text;
    for (uint8_t i = 0; i < length && !empty(); ++i) text.push_back(static_cast<char>(Byte()));
    keep.push_back(text);
    return keep.back().data();
  }
  void Bytes(char* to, size_t n) {
    for (size_t i = 0; i < n; ++i) to[i] = static_cast<char>(Byte());
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

intptr_t Send(int id, intptr_t p1 = 0, intptr_t p2 = 0) {
  HostMessage m{};
  m.size = HostMessageSize(2);
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  return IMessageProc(&m);
}

// A contact row as the host hands them out: one of its own rows.
int32_t Row(Input& in) { return in.Byte() % fuzz::kRows; }

void FillMessage(Input& in, std::deque<std::string>& keep, MessageRecord& record) {
  record.size = sizeof record;
  record.id = in.Int();
  record.net = in.Byte() & 1 ? NET_LAN : in.Int();
  record.type = in.Int();
  record.from = in.Text(keep);
  record.to = in.Text(keep);
  record.body = in.Text(keep);
  record.ext = in.Text(keep);
  record.flags = in.Int();
  record.field42 = in.Int();
  record.time = in.Int();
}

// One host message; the texts and records it points at live until it ends.
void RunOne(Input& in) {
  std::deque<std::string> keep;
  switch (in.Byte() % 16) {
    case 0: {  // a chat message the user typed: the cloak command
      MessageRecord record{};
      FillMessage(in, keep, record);
      Send(kMsgChatCommand, reinterpret_cast<intptr_t>(&record));
      break;
    }
    case 1: {  // a message to send: copied, then its thread cannot start
      MessageRecord record{};
      FillMessage(in, keep, record);
      Send(kMsgSendMessage, reinterpret_cast<intptr_t>(&record));
      break;
    }
    case 2: {  // an interface action on any item
      ActionEvent event{};
      event.size = sizeof event;
      event.ref.id = in.Int();
      event.ref.parent = in.Int();
      event.ref.contact = in.Byte() & 1 ? -2 : Row(in);
      event.code = in.Byte() & 1 ? kActionActivated : in.Int();
      Send(kMsgAction, reinterpret_cast<intptr_t>(&event));
      break;
    }
    case 3: {  // a search request, its text arrays not necessarily ended
      FoundContact request;
      in.Bytes(reinterpret_cast<char*>(&request), sizeof request);
      request.size = sizeof request;
      Send(kMsgSearch, reinterpret_cast<intptr_t>(&request));
      break;
    }
    case 4: {
      const int32_t status = in.Int();
      Send(kMsgSetStatus, status, reinterpret_cast<intptr_t>(in.Text(keep)));
      break;
    }
    case 5:
      Send(kMsgPublishDetails, Row(in));
      break;
    case 6: {
      const int32_t contact = Row(in);
      Send(kMsgFetchDetails, contact, in.Byte());
      break;
    }
    case 7:
      Send(kMsgContactReported, Row(in));
      break;
    case 8: {
      BusSubscribeRecord record{};
      record.size = sizeof record;
      record.id = kMsgBusSubscribe;
      record.sender = in.Int();
      record.mask = in.Int();
      IMessageProc(reinterpret_cast<HostMessage*>(&record));
      break;
    }
    case 9: {
      BusSendRecord record{};
      record.head.size = sizeof record;
      record.head.id = kMsgBusSend;
      const char* target = in.Text(keep);
      const char* command = in.Text(keep);
      const char* body = in.Text(keep);
      const std::string t = target ? target : "", c = command ? command : "", b = body ? body : "";
      record.target = RuntimeStringOver(t);
      record.command = RuntimeStringOver(c);
      record.body = RuntimeStringOver(b);
      IMessageProc(reinterpret_cast<HostMessage*>(&record));
      break;
    }
    case 10:
      Send(kMsgStart);
      break;  // start: the worker cannot start, so it ends offline
    case 11:
      Send(kMsgShutdown);
      break;
    case 12:
      Send(in.Byte() & 1 ? kMsgAutoAwayBegin : kMsgAutoAwayEnd);
      break;
    case 13:
      Send(kMsgRegisterSettings);
      Send(kMsgRegisterInterface);
      break;
    case 14:
      Send(kMsgSettingsChanged);
      break;
    default: {  // the answers of constants and texts, and an unknown id
      // kMsgLog is a message to the host: the plug-in does not know it.
      static const int kIds[] = {kMsgOwnStatus, kMsgOwnStatusInfo, kMsgOwnId,
                                 kMsgShortName, kMsgMessageLimit,  kMsgLog};
      const uint8_t pick = in.Byte();
      const char* text = reinterpret_cast<const char*>(Send(kIds[pick % 6]));
      if (pick % 6 == 1 || pick % 6 == 2) fuzz::CheckedText(reinterpret_cast<intptr_t>(text));
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* lan = fuzz::UseEmptyLan();
  if (lan == nullptr) return 1;
  // An action may open the guide: with no opener on the path it fails at
  // once instead of starting a program per input.
  setenv("PATH", lan, 1);
  Send(kMsgSetControl, reinterpret_cast<intptr_t>(gHost.control()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gHost.Reset();
  Input in(data, size);
  for (int i = 0; i < 16 && !in.empty(); ++i) RunOne(in);
  Send(kMsgShutdown);  // every run ends stopped, as the next one begins
  return 0;
}
