// The boundary between a host and vask.dll as the host sees it, written
// from the documented layouts rather than from the plug-in's own headers,
// so that the test host catches a plug-in whose headers drifted from them.
//
// Everything here is the documented layout: packed, little-endian, 32-bit
// integers, and fields that hold "a number or a pointer" pointer-sized
// (Word): on 32-bit Windows, the product, every size and offset is the
// documented one, which the asserts prove. (A 64-bit build of the test host
// drives the 64-bit DLL, where those fields widen.) Only the order of the
// control object's
// services comes from the project (abi/control_slots.h): the documents name
// the services but not their positions, and that header is the one place a
// host build's order is kept.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "abi/control_slots.h"
#include "abi/host_ids.h"

namespace wine {

typedef intptr_t Word;  // a number or a pointer
constexpr bool kDocumentedWidths = sizeof(Word) == 4;

// ---- The control object ----------------------------------------------------

// The plug-in calls every service with the control object as the first
// argument on the stack, before the service's own arguments; the callee
// removes them all (32-bit stdcall). The test host declares its services
// with exactly this, and never through the plug-in's headers.
#if defined(__i386__)
#define HOST_SERVICE __attribute__((stdcall))
#else
#define HOST_SERVICE  // x64 has one calling convention: the object is the first argument
#endif

struct ControlObject;
typedef unsigned(__stdcall* ThreadRoutine)(void*);

// The object: its first word points to the table of entry points. The test
// host keeps its own state after that word; the plug-in reads only the word.
struct ControlObject {
  void* const* table;
  void* host;  // the WineHost behind this object
};

// ---- Records ---------------------------------------------------------------

#pragma pack(push, 1)

struct Message {  // the common head and up to four parameters
  uint16_t size;
  int32_t id;
  int32_t net;
  int32_t type;
  int32_t receiver;
  int32_t sender;
  Word p1;
  Word p2;
  Word p3;
  Word p4;
};
// The sizes of the head with 2, 3 and 4 parameters: 30, 34 and 38.
constexpr uint16_t kMessage2 = 22 + 2 * sizeof(Word);
constexpr uint16_t kMessage3 = 22 + 3 * sizeof(Word);
constexpr uint16_t kMessage4 = 22 + 4 * sizeof(Word);
static_assert(offsetof(Message, id) == 2 && offsetof(Message, sender) == 18 &&
              offsetof(Message, p1) == 22);
static_assert(!kDocumentedWidths ||
              (offsetof(Message, p2) == 26 && offsetof(Message, p3) == 30 &&
               offsetof(Message, p4) == 34 && sizeof(Message) == 38 && kMessage2 == 30));

struct ColumnDefinition {
  uint16_t size;
  int32_t id, net, type, receiver, sender;
  uint8_t table;
  int32_t column;
  int32_t columnType;
  Word defaultValue;
  const char* name;
};
static_assert(offsetof(ColumnDefinition, table) == 22 && offsetof(ColumnDefinition, column) == 23);
static_assert(!kDocumentedWidths ||
              (offsetof(ColumnDefinition, name) == 35 && sizeof(ColumnDefinition) == 39));

struct Value {
  uint16_t type;  // 0 integer, 1 text
  Word value;
  int32_t bufferSize;
};
static_assert(!kDocumentedWidths || sizeof(Value) == 10);

struct ChatMessage {
  uint16_t size;
  int32_t id, net, type;
  const char* from;
  const char* to;
  const char* body;
  const char* ext;
  int32_t flags;
  int32_t f34, f38, f42;
  int32_t icon;
  int64_t time;
};
static_assert(offsetof(ChatMessage, from) == 14);
static_assert(!kDocumentedWidths ||
              (offsetof(ChatMessage, flags) == 30 && offsetof(ChatMessage, icon) == 46 &&
               offsetof(ChatMessage, time) == 50 && sizeof(ChatMessage) == 58));

struct ItemRef {
  int32_t action, parent, contact;
};

struct ActionEventRecord {
  uint16_t size;
  ItemRef ref;
  int32_t code;
};
static_assert(offsetof(ActionEventRecord, code) == 14);

struct ItemInfo {
  uint16_t size;
  ItemRef ref;
  int32_t position;
  uint8_t unused18[12];
  int32_t mask;
  int32_t status;
  int32_t statusMask;
  int32_t unused42;
  int32_t zero46;
  const char* text;
  int32_t textSize;
  int32_t last;
  int32_t param;
  int32_t nextToLast;
  uint16_t width, height;
};
static_assert(offsetof(ItemInfo, mask) == 30 && offsetof(ItemInfo, text) == 50);
static_assert(!kDocumentedWidths || (offsetof(ItemInfo, param) == 62 && sizeof(ItemInfo) == 74));

struct FoundContactRecord {
  uint16_t size;
  int32_t status;
  char uid[256];
  char column6[101];
  char column7[101];
  char column17[101];
  char spare51[51];
  char column11[101];
  char column9[51];
  char provider[256];
  int32_t gender, lowerBound, upperBound, net, spare;
  Word ownerWindow;
};
static_assert(offsetof(FoundContactRecord, column6) == 262 &&
              offsetof(FoundContactRecord, column11) == 616 &&
              offsetof(FoundContactRecord, gender) == 1024 &&
              offsetof(FoundContactRecord, ownerWindow) == 1044);
static_assert(!kDocumentedWidths || sizeof(FoundContactRecord) == 1048);

struct NoticeRecord {
  uint16_t size;
  const char* title;
  const char* text;
  int32_t style;
  Word owner;
  int32_t reserved18;
  int32_t reserved22;
  volatile uint8_t cancelled;
  int32_t threadId;
  int32_t reserved31[6];
};
static_assert(!kDocumentedWidths ||
              (offsetof(NoticeRecord, cancelled) == 26 && offsetof(NoticeRecord, threadId) == 27 &&
               sizeof(NoticeRecord) == 55));

#pragma pack(pop)

struct IconRegistration {  // 4-byte aligned, not packed
  uint16_t size;
  uint16_t padding;
  int32_t iconId;
  int32_t kind;
  int32_t zero12;
  int32_t one16;
  HMODULE module;
  int32_t resourceId;
  int32_t zero28;
  int32_t zero32;
};
static_assert(offsetof(IconRegistration, iconId) == 4);
static_assert(!kDocumentedWidths ||
              (offsetof(IconRegistration, module) == 20 && sizeof(IconRegistration) == 36));

// ---- The extension bus in the host runtime's layout ------------------------

// The host's string object, 28 bytes: a word nobody but its owner reads,
// 16 bytes that hold the text itself while the capacity is below 16 (else a
// pointer to it), the length, the capacity. The word, the length and the
// capacity are pointer-sized.
struct RuntimeString {
  uintptr_t owner;
  union {
    char inline_[16];
    char* heap;
  } text;
  uintptr_t length;
  uintptr_t capacity;
};
static_assert(!kDocumentedWidths ||
              (sizeof(RuntimeString) == 28 && offsetof(RuntimeString, length) == 20 &&
               offsetof(RuntimeString, capacity) == 24));

// The runtime's list: a word nobody but its owner reads, a pointer to the
// head node (a sentinel: its next is the first element, its prev the last),
// the count. Each node: next, prev, then the element.
struct RuntimeListNode {
  RuntimeListNode* next;
  RuntimeListNode* prev;
  RuntimeString value;
};
struct RuntimeList {
  uintptr_t owner;
  RuntimeListNode* head;
  uintptr_t count;
};
static_assert(!kDocumentedWidths ||
              (sizeof(RuntimeList) == 12 && offsetof(RuntimeListNode, value) == 8));

// The text of a string object, its length deciding (it may hold NULs).
inline std::string ReadRuntimeString(const RuntimeString& s) {
  const char* text = s.capacity < 16 ? s.text.inline_ : s.text.heap;
  return std::string(text, s.length);
}

// A string object that owns its text (the test host builds them for 55001).
class OwnedRuntimeString {
 public:
  explicit OwnedRuntimeString(const std::string& text) : copy_(text) {
    object_.owner =
        static_cast<uintptr_t>(0xDDDDDDDDDDDDDDDDull);  // the plug-in must neither read nor need it
    object_.length = text.size();
    if (text.size() < 16) {
      object_.capacity = 15;
      std::memset(object_.text.inline_, 0, sizeof object_.text.inline_);
      std::memcpy(object_.text.inline_, text.data(), text.size());
    } else {
      object_.capacity = text.size();
      object_.text.heap = copy_.data();
    }
  }
  OwnedRuntimeString(const OwnedRuntimeString&) = delete;
  OwnedRuntimeString& operator=(const OwnedRuntimeString&) = delete;
  const RuntimeString& object() const { return object_; }

 private:
  std::string copy_;
  RuntimeString object_{};
};

#pragma pack(push, 1)
struct BusHead {
  uint16_t size;
  int32_t id, net, type, receiver, sender;
  uint8_t gap[2];
};
struct BusSubscribe {
  BusHead head;
  int32_t mask;
};
struct BusSend {
  BusHead head;
  RuntimeString target;
  RuntimeString command;
  RuntimeString body;
};
struct BusSent {
  BusHead head;
  const RuntimeString* target;
  const RuntimeString* command;
  const RuntimeString* body;
};
struct BusReceived {
  BusHead head;
  const RuntimeList* fields;
  int32_t contact;
};
struct BusEngine {
  BusHead head;
  int32_t event;
};
#pragma pack(pop)
static_assert(sizeof(BusHead) == 24 && sizeof(BusSubscribe) == 28 &&
              offsetof(BusSend, target) == 24);
static_assert(!kDocumentedWidths ||
              (offsetof(BusSend, command) == 52 && offsetof(BusSend, body) == 80 &&
               sizeof(BusSend) == 108 && sizeof(BusSent) == 36 && sizeof(BusReceived) == 32 &&
               sizeof(BusEngine) == 28));

// ---- Numbers ---------------------------------------------------------------

constexpr int kNetLan = 15;
constexpr int kEventSent = 1, kEventReceived = 2, kEventStarted = 4, kEventStopping = 8;
constexpr int32_t kActionActivated = 1, kActionShowing = 10;  // the codes of an ActionEventRecord

}  // namespace wine
