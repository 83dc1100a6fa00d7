// The records that the host and the plug-in exchange in memory.
//
// Rules of the boundary, stated once:
// - Every record is packed and little-endian and keeps its documented field
//   order. Fields that hold "a number or a pointer" are pointer-sized
//   (intptr_t); on 32-bit builds (vask.dll, linux-i386) every size and offset
//   is the documented one, which the static_asserts at the end prove.
// - A record the plug-in sends is built on the caller's stack with its size
//   in the first field and passed by pointer; the host must not keep it.
// - Texts handed to the host are borrowed for the call. Texts the host hands
//   back are borrowed too: the plug-in copies them before its next host call.
// - Only IMessageProc is exported by the plug-in library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "abi/runtime_objects.h"
#include "win32.h"

namespace vask {

// A packed field's value. The fields of a packed record may sit at any
// address, so code that would bind a reference to one (std::map::find,
// std::max, test assertions) takes its value through this first.
template <class T>
constexpr T Unpacked(T value) {
  return value;
}

inline constexpr int NET_LAN = 15;

// The common head of the host records (22 bytes): the record's size, the
// message id, then the net, type, receiver and sender fields. The records
// that carry it start with it, so that each keeps its fields by name.
#define VASK_RECORD_HEAD \
  uint16_t size;         \
  int32_t id;            \
  int32_t net;           \
  int32_t type;          \
  int32_t receiver;      \
  int32_t sender;

// The head of an extension-bus record: the common head and a 2-byte gap,
// so that its own fields start on a 4-byte boundary at offset 24.
#define VASK_BUS_HEAD \
  VASK_RECORD_HEAD    \
  uint8_t gap[2];

#pragma pack(push, 1)

struct RecordHead {
  VASK_RECORD_HEAD
};

// The common head and up to four parameters.
struct HostMessage {
  VASK_RECORD_HEAD
  intptr_t p1;
  intptr_t p2;
  intptr_t p3;
  intptr_t p4;
};

inline constexpr uint16_t kHostMessageHead = sizeof(RecordHead);
// Size of a HostMessage with `params` parameters: 22, 30, 34, 38 on 32-bit.
constexpr uint16_t HostMessageSize(int params) {
  return static_cast<uint16_t>(kHostMessageHead + params * sizeof(intptr_t));
}

// Host message 1102: define a column.
struct ColumnDef {
  VASK_RECORD_HEAD
  uint8_t table;
  int32_t column;
  int32_t columnType;     // 0 integer, 4097 text
  intptr_t defaultValue;  // the integer, or a pointer to the default text
  const char* name;
};

inline constexpr int32_t kColumnInt = 0;
inline constexpr int32_t kColumnText = 0x1001;

// The value of HostControl::GetValue and SetValue.
struct ValueRecord {
  uint16_t type;       // 0 integer, 1 text
  intptr_t value;      // the integer, or the text pointer
  int32_t bufferSize;  // text: the caller's buffer; 0 with null asks for the host's copy
};

inline constexpr uint16_t kValueInt = 0;
inline constexpr uint16_t kValueText = 1;

// A chat message.
struct MessageRecord {
  uint16_t size;
  int32_t id;
  int32_t net;
  int32_t type;
  char* from;
  char* to;
  char* body;
  char* ext;
  int32_t flags;
  int32_t field34;
  int32_t field38;
  int32_t field42;
  int32_t icon;
  int64_t time;
};

// The identity of an interface item.
struct ActionRef {
  int32_t id;
  int32_t parent;
  int32_t contact;  // -2 when not tied to a contact
};

// Host message 22200's p1.
struct ActionEvent {
  uint16_t size;
  ActionRef ref;
  int32_t code;  // 1 activated, 10 about to be shown
};

inline constexpr int32_t kActionActivated = 1;
inline constexpr int32_t kActionShowing = 10;

// An interface item; 74 bytes, 78 with the two trailing fields.
struct ActionInfo {
  uint16_t size;
  ActionRef ref;
  int32_t position;
  uint8_t unused18[12];
  int32_t mask;
  int32_t status;
  int32_t statusMask;
  int32_t unused42;
  int32_t zero46;
  const char* text;
  int32_t textSize;
  int32_t lastParam;
  int32_t param;
  int32_t nextToLastParam;
  uint16_t width;
  uint16_t height;
  uint16_t extra1;  // long form only
  uint16_t extra2;  // long form only
};

inline constexpr int32_t kActionMaskAdd = 863;
inline constexpr int32_t kActionMaskStatus = 1;
inline constexpr int32_t kActionMaskText = 64;
inline constexpr uint16_t kActionInfoShort = static_cast<uint16_t>(offsetof(ActionInfo, extra1));
inline constexpr uint16_t kActionInfoLong = static_cast<uint16_t>(sizeof(ActionInfo));

// Host message 101.
struct MessageQuery {
  uint16_t size;
  int32_t f2;
  int32_t f6;
  int32_t f10;
  int32_t f14;
  int32_t f18;
  int32_t f22;
  int32_t f26;
};

// The one query the plug-in sends (after a drain that delivered a LAN
// "MESSAGE"): the fields at 2, 10 and 18 set, the rest at their defaults.
inline constexpr MessageQuery kLanMessageQuery{sizeof(MessageQuery), NET_LAN, 0, 1, 0, 2, -1, 0};

// A search request (24010, from the host) or a found contact (14000).
struct FoundContact {
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
  int32_t gender;
  int32_t lowerBound;
  int32_t upperBound;
  int32_t net;
  int32_t spare;
  intptr_t ownerWindow;
};

// A notice with a Cancel button (10209 shows it, 10210 removes it). The host
// keeps its address between the two and writes `cancelled`.
struct SearchStatusRecord {
  uint16_t size;
  const char* title;
  const char* text;
  int32_t style;
  intptr_t owner;
  int32_t reserved18;
  int32_t reserved22;
  volatile uint8_t cancelled;
  int32_t threadId;
  int32_t reserved31[6];
};

// Extension-bus records: the 22-byte head, a 2-byte gap, then fields on a
// 4-byte boundary from offset 24.
struct BusSubscribeRecord {
  VASK_BUS_HEAD  // sender: the subscribing plug-in's id
      int32_t mask;
};

struct BusSentRecord {
  VASK_BUS_HEAD
  // String objects of the host's runtime (abi/runtime_objects.h).
  const RuntimeString* target;
  const RuntimeString* command;
  const RuntimeString* body;
};

using DatagramFields = std::vector<std::string>;

struct BusReceivedRecord {
  VASK_BUS_HEAD
  // The datagram's fields, sequence number first, as a list object of the
  // host's runtime whose elements are its string objects.
  const RuntimeList* fields;
  int32_t contact;
};

struct BusEngineRecord {
  VASK_BUS_HEAD
  int32_t event;
};

struct BusHead {
  VASK_BUS_HEAD
};

#pragma pack(pop)

// The notice's `cancelled` byte is written by the host's thread and polled by
// the search thread: both sides go through these, so each access is one
// atomic byte load or store, re-read from the record every time.
inline bool NoticeCancelled(const SearchStatusRecord& notice) {
  return __atomic_load_n(const_cast<const uint8_t*>(&notice.cancelled), __ATOMIC_ACQUIRE) != 0;
}
inline void CancelNotice(SearchStatusRecord& notice) {
  __atomic_store_n(const_cast<uint8_t*>(&notice.cancelled), uint8_t{1}, __ATOMIC_RELEASE);
}

// Host message 10130: register an icon. Its fields are 4-byte aligned
// (two bytes of padding after the size), so it is not packed.
struct IconRecord {
  uint16_t size;
  uint16_t padding;
  int32_t iconId;
  int32_t kind;  // 1 icon, 256 the small 8x8 picture
  int32_t zero12;
  int32_t one16;
  HMODULE module;
  int32_t resourceId;
  int32_t zero28;
  int32_t zero32;
};

// Host message 55001. Its three texts are string objects of the host's
// runtime (abi/runtime_objects.h), as every other plug-in of the host
// builds them: 28 bytes each on 32-bit builds, at offsets 24, 52 and 80.
// The body may hold NULs. A record whose size does not reach the body's
// end is refused unread.
struct BusSendRecord {
  BusHead head;
  RuntimeString target;
  RuntimeString command;
  RuntimeString body;
};

inline constexpr int32_t EVENT_SENT = 1;
inline constexpr int32_t EVENT_RECEIVED = 2;
inline constexpr int32_t EVENT_STARTED = 4;
inline constexpr int32_t EVENT_STOPPING = 8;

#undef VASK_BUS_HEAD
#undef VASK_RECORD_HEAD

static_assert(sizeof(RecordHead) == 22);
static_assert(sizeof(BusHead) == 24);
static_assert(offsetof(BusSendRecord, target) == 24);
static_assert(sizeof(BusSubscribeRecord) == 28);

#if UINTPTR_MAX == 0xFFFFFFFFu
// The documented 32-bit layouts.
static_assert(HostMessageSize(0) == 22 && HostMessageSize(2) == 30 && HostMessageSize(3) == 34 &&
              HostMessageSize(4) == 38);
static_assert(sizeof(HostMessage) == 38);
static_assert(offsetof(HostMessage, id) == 2 && offsetof(HostMessage, net) == 6 &&
              offsetof(HostMessage, type) == 10 && offsetof(HostMessage, receiver) == 14 &&
              offsetof(HostMessage, sender) == 18 && offsetof(HostMessage, p1) == 22 &&
              offsetof(HostMessage, p2) == 26 && offsetof(HostMessage, p3) == 30 &&
              offsetof(HostMessage, p4) == 34);
static_assert(sizeof(ColumnDef) == 39);
static_assert(offsetof(ColumnDef, table) == 22 && offsetof(ColumnDef, column) == 23 &&
              offsetof(ColumnDef, columnType) == 27 && offsetof(ColumnDef, defaultValue) == 31 &&
              offsetof(ColumnDef, name) == 35);
static_assert(sizeof(ValueRecord) == 10 && offsetof(ValueRecord, value) == 2 &&
              offsetof(ValueRecord, bufferSize) == 6);
static_assert(sizeof(MessageRecord) == 58);
static_assert(offsetof(MessageRecord, from) == 14 && offsetof(MessageRecord, to) == 18 &&
              offsetof(MessageRecord, body) == 22 && offsetof(MessageRecord, ext) == 26 &&
              offsetof(MessageRecord, flags) == 30 && offsetof(MessageRecord, field34) == 34 &&
              offsetof(MessageRecord, field42) == 42 && offsetof(MessageRecord, icon) == 46 &&
              offsetof(MessageRecord, time) == 50);
static_assert(sizeof(ActionRef) == 12);
static_assert(offsetof(ActionEvent, ref) == 2 && offsetof(ActionEvent, code) == 14);
static_assert(kActionInfoShort == 74 && kActionInfoLong == 78);
static_assert(offsetof(ActionInfo, position) == 14 && offsetof(ActionInfo, mask) == 30 &&
              offsetof(ActionInfo, status) == 34 && offsetof(ActionInfo, statusMask) == 38 &&
              offsetof(ActionInfo, zero46) == 46 && offsetof(ActionInfo, text) == 50 &&
              offsetof(ActionInfo, textSize) == 54 && offsetof(ActionInfo, lastParam) == 58 &&
              offsetof(ActionInfo, param) == 62 && offsetof(ActionInfo, nextToLastParam) == 66 &&
              offsetof(ActionInfo, width) == 70 && offsetof(ActionInfo, height) == 72 &&
              offsetof(ActionInfo, extra1) == 74 && offsetof(ActionInfo, extra2) == 76);
static_assert(sizeof(IconRecord) == 36 && offsetof(IconRecord, iconId) == 4 &&
              offsetof(IconRecord, kind) == 8 && offsetof(IconRecord, module) == 20 &&
              offsetof(IconRecord, resourceId) == 24 && offsetof(IconRecord, zero32) == 32);
static_assert(sizeof(MessageQuery) == 30 && offsetof(MessageQuery, f26) == 26);
static_assert(sizeof(FoundContact) == 1048);
static_assert(offsetof(FoundContact, status) == 2 && offsetof(FoundContact, uid) == 6 &&
              offsetof(FoundContact, column6) == 262 && offsetof(FoundContact, column7) == 363 &&
              offsetof(FoundContact, column17) == 464 && offsetof(FoundContact, spare51) == 565 &&
              offsetof(FoundContact, column11) == 616 && offsetof(FoundContact, column9) == 717 &&
              offsetof(FoundContact, provider) == 768 && offsetof(FoundContact, gender) == 1024 &&
              offsetof(FoundContact, lowerBound) == 1028 &&
              offsetof(FoundContact, upperBound) == 1032 && offsetof(FoundContact, net) == 1036 &&
              offsetof(FoundContact, spare) == 1040 && offsetof(FoundContact, ownerWindow) == 1044);
static_assert(sizeof(SearchStatusRecord) == 55);
static_assert(offsetof(SearchStatusRecord, title) == 2 && offsetof(SearchStatusRecord, text) == 6 &&
              offsetof(SearchStatusRecord, style) == 10 &&
              offsetof(SearchStatusRecord, owner) == 14 &&
              offsetof(SearchStatusRecord, reserved18) == 18 &&
              offsetof(SearchStatusRecord, reserved22) == 22 &&
              offsetof(SearchStatusRecord, cancelled) == 26 &&
              offsetof(SearchStatusRecord, threadId) == 27 &&
              offsetof(SearchStatusRecord, reserved31) == 31);
static_assert(sizeof(BusSentRecord) == 36 && offsetof(BusSentRecord, target) == 24 &&
              offsetof(BusSentRecord, command) == 28 && offsetof(BusSentRecord, body) == 32);
static_assert(sizeof(BusReceivedRecord) == 32 && offsetof(BusReceivedRecord, fields) == 24 &&
              offsetof(BusReceivedRecord, contact) == 28);
static_assert(sizeof(BusEngineRecord) == 28 && offsetof(BusEngineRecord, event) == 24);
static_assert(offsetof(BusSendRecord, command) == 52 && offsetof(BusSendRecord, body) == 80 &&
              sizeof(BusSendRecord) == 108);
static_assert(offsetof(BusSubscribeRecord, sender) == 18 &&
              offsetof(BusSubscribeRecord, mask) == 24);
#endif

}  // namespace vask
