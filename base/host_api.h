// Operations over the one process-wide control object.
//
// Thin helpers that build a record on the caller's stack and hand it to the
// host; callable from any thread. Texts they return that the host owns are
// borrowed (copy before the next host call) unless the result is a
// std::string, which the caller owns.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "abi/host_control.h"

namespace vask {

// The control object from host message kMsgSetControl; null before it.
HostControl* Host();
void SetHost(HostControl* host);

// The head of a host message the plug-in sends: its id, and the type and
// receiver fields, which stay 0 unless given. An id alone converts.
struct HostHead {
  HostHead(int32_t id, int32_t type = 0, int32_t receiver = 0)
      : id(id), type(type), receiver(receiver) {}
  int32_t id;
  int32_t type;
  int32_t receiver;
};

// One parameter of a host message: a number, or a pointer passed as one.
template <class T>
intptr_t HostParam(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<intptr_t>(value);
  } else if constexpr (std::is_null_pointer_v<T>) {
    return 0;
  } else {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "a number or a pointer");
    return static_cast<intptr_t>(value);
  }
}

// Sends the host message of `head` with `params` (count of them, at most
// four) in order; the record carries at least two, the missing ones 0:
// 30 bytes on 32-bit builds, 34 with three parameters, 38 with four.
// Returns the host's answer, or 0 before the control object.
intptr_t SendHostRecord(const HostHead& head, const intptr_t* params, int count);

// The one sender of host messages: SendHost(kMsgX, p1, p2, ...), or with a
// head, SendHost(HostHead(kMsgX, type, receiver), ...). Parameters are
// numbers or pointers.
template <class... Params>
intptr_t SendHost(const HostHead& head, Params... params) {
  static_assert(sizeof...(Params) <= 4, "a host message has at most four parameters");
  const intptr_t values[] = {HostParam(params)..., 0};
  return SendHostRecord(head, values, static_cast<int>(sizeof...(Params)));
}

// The 30-byte record to another plug-in; receiver 0 is this plug-in itself.
intptr_t SendPlugin(int receiver, int id, intptr_t p1 = 0, intptr_t p2 = 0);

int GetIntSetting(int column);
// Stores a setting of the plug-in's own (no effect before the control object).
void SetIntSetting(int column, int value);
void SetTextSetting(int column, const std::string& text);
// Into the caller's buffer; returns the text pointer the host left in the
// record. With a null buffer and size 0, the host's own pointer.
const char* GetTextSetting(int column, char* buffer, int size);
// The host's own text of a setting as a string; "" when it has none.
std::string GetTextSetting(int column);

int GetContactInt(int contact, int column);
// The host's pointer (borrowed), or null.
const char* GetContactTextPtr(int contact, int column);
std::string GetContactText(int contact, int column);
void SetContactText(int contact, int column, const char* text);
void SetContactInt(int contact, int column, int value);
// mask -1 writes value as is (the column is not read); otherwise
// (old & ~mask) | value.
void SetContactIntMasked(int contact, int column, int value, int mask);

// BeginThread, then waits on the handle with MsgWaitForMultipleObjectsEx,
// pumping host messages once per input wake, until the thread ends; closes
// the handle. Returns false (after one log line) when the thread could not
// be started or the wait failed; it never waits forever on a failed wait.
bool StartThreadAndWait(HostThreadRoutine routine, void* argument);

// A deep copy of the host's record: its 58 bytes and private heap copies of
// from, to, body and ext (null stays null); null when memory ran out (or
// for a null source). Free with FreeMessageCopy. Throws nothing.
MessageRecord* CopyMessageRecord(const MessageRecord* source);
void FreeMessageCopy(MessageRecord* copy);

// A LAN message record for the host (kMsgShowMessage): id 0, net NET_LAN,
// `to` and `ext` empty, flags kMessageFlagsLan, the fields at 34, 38 and 42
// holding 0, 0 and kMessageField42. The record borrows `from` and `body`;
// they must outlive its use.
MessageRecord LanMessageRecord(int32_t type, const std::string& from, const std::string& body,
                               int32_t icon, int64_t time);

// Reads a contact field: from the contact table, or (fromWindow) from the
// open details window control of that column.
std::string ReadContactField(bool fromWindow, int contact, int column);
// Writes a contact field: an empty text writes nothing. toTable sets the
// contact column; otherwise the details window control's text.
void WriteContactField(bool toTable, int contact, int column, const std::string& text);

void SetItemStatus(const ActionRef& ref, int status, int mask);
void SetItemText(const ActionRef& ref, const char* text);
// The host's text of an item (borrowed), or null.
const char* ReadItemText(const ActionRef& ref);

void AddItem(int parent, int action, int style, const char* text, int param, int width = 0,
             int height = 0);
void AddItemLong(int parent, int action, int style, const char* text, int param, int width,
                 int height, int extra1, int extra2);
void AddGroupItem(int parent, int action, int style, const char* text, int param);

int RegisterIcon(int kind, int iconId, HMODULE module, int resourceId);
void DefineColumn(int table, int column, int type, intptr_t defaultValue, const char* name);

}  // namespace vask
