// Operations over the one process-wide control object.
//
// Thin helpers that build a record on the caller's stack and hand it to the
// host; callable from any thread. Texts they return that the host owns are
// borrowed (copy before the next host call) unless the result is a
// std::string, which the caller owns.
#pragma once

#include <cstdint>
#include <string>

#include "abi/host_control.h"

namespace vask {

// The control object from host message kMsgSetControl; null before it.
HostControl* Host();
void SetHost(HostControl* host);

// Host message with two parameters (the 30-byte record, head fields 0).
intptr_t SendHost(int id, intptr_t p1 = 0, intptr_t p2 = 0);
// The same with `type` and `receiver` given.
intptr_t SendHostHead(int id, int type, int receiver, intptr_t p1 = 0, intptr_t p2 = 0);
// The 34-byte record (p3).
intptr_t SendHost3(int id, intptr_t p1, intptr_t p2, intptr_t p3);
// The 38-byte record (p3, p4).
intptr_t SendHost4(int id, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4);
// The 30-byte record to another plug-in; receiver 0 is this plug-in itself.
intptr_t SendPlugin(int receiver, int id, intptr_t p1 = 0, intptr_t p2 = 0);

int GetIntSetting(int column);
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
// from, to, body and ext (null stays null). Free with FreeMessageCopy.
MessageRecord* CopyMessageRecord(const MessageRecord* source);
void FreeMessageCopy(MessageRecord* copy);

// A LAN message record for the host (100): id 0, net 15, `to` and `ext`
// empty, flags 128, the fields at 34, 38 and 42 holding 0, 0 and -2. The
// record borrows `from` and `body`; they must outlive its use.
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
