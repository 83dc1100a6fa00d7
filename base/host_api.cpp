// Operations over the one process-wide control object.
#include "base/host_api.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/log.h"

namespace vask {

namespace {

std::atomic<HostControl*> gHost{nullptr};

// While a host thread runs, the waiting thread wakes for its window
// messages and pumps them: the mask is the nine low queue-status bits (keys,
// mouse, posted, timer, paint, sent, hot keys, every posted message), all
// input but raw input. The wait is alertable (an I/O completion wakes it
// and it waits again) and also wakes for input already queued before it
// began.
constexpr DWORD kWakeMask = 0x1FF;  // not a host number: the system's queue bits
constexpr DWORD kWaitFlags = MWMO_INPUTAVAILABLE | MWMO_ALERTABLE;

// The record of `head` with `count` parameters, at least two, the rest 0.
HostMessage Record(const HostHead& head, const intptr_t* params, int count) {
  HostMessage message{};
  message.size = HostMessageSize(count > 2 ? count : 2);
  message.id = head.id;
  message.type = head.type;
  message.receiver = head.receiver;
  // The parameters are members of a packed record: assigned by name, as a
  // pointer to one may be misaligned.
  if (count > 0) message.p1 = params[0];
  if (count > 1) message.p2 = params[1];
  if (count > 2) message.p3 = params[2];
  if (count > 3) message.p4 = params[3];
  return message;
}

// The start of every status, text and value request.
ActionInfo BlankInfo(const ActionRef& ref) {
  ActionInfo info{};
  info.size = kActionInfoShort;
  info.ref = ref;
  return info;
}

intptr_t SendInfo(int id, ActionInfo& info) { return SendHost(id, &info); }

// A heap copy of `text` (null copies as null); `ok` turns false when memory
// ran out. Returned, not written through a reference: the record's members
// are packed and may be misaligned.
char* CopyText(const char* text, bool& ok) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(length));
  if (copy == nullptr) {
    ok = false;
    return nullptr;
  }
  std::memcpy(copy, text, length);
  return copy;
}

std::string Owned(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

ActionRef ContactItem(int contact, int column, int parent) {
  return ActionRef{kContactWindowItemBase + column, parent, contact};
}

// The parent query addresses the item under the window root of whatever
// contact window is open.
int ContactWindowParent(int column) {
  ActionRef query{kContactWindowItemBase + column, kParentWindowRoot, kAnyContactWindow};
  return static_cast<int>(SendHost(kMsgItemParent, &query));
}

void FillItem(ActionInfo& info, int parent, int action, int style, const char* text, int param,
              int width, int height) {
  info.ref = ActionRef{action, parent, kNoContact};
  info.position = -1;
  info.mask = kActionMaskAdd;
  info.status = style;
  info.statusMask = -1;
  info.text = text;
  info.param = param;
  info.width = static_cast<uint16_t>(width);
  info.height = static_cast<uint16_t>(height);
}

}  // namespace

HostControl* Host() { return gHost.load(std::memory_order_acquire); }
void SetHost(HostControl* host) { gHost.store(host, std::memory_order_release); }

intptr_t SendHostRecord(const HostHead& head, const intptr_t* params, int count) {
  HostMessage message = Record(head, params, count);
  HostControl* host = Host();
  return host != nullptr ? host->SendToHost(&message) : 0;
}

intptr_t SendPlugin(int receiver, int id, intptr_t p1, intptr_t p2) {
  HostControl* host = Host();
  if (host == nullptr) return 0;
  const intptr_t params[] = {p1, p2};
  HostMessage message = Record(HostHead(id), params, 2);
  return host->SendToPlugin(receiver != 0 ? receiver : host->PluginId(), &message);
}

int GetIntSetting(int column) {
  HostControl* host = Host();
  if (host == nullptr) return 0;
  ValueRecord value{kValueInt, 0, 0};
  host->GetValue(kTableSettings, 0, column, &value);
  return static_cast<int>(value.value);
}

void SetIntSetting(int column, int value) {
  HostControl* host = Host();
  if (host == nullptr) return;
  ValueRecord record{kValueInt, value, 0};
  host->SetValue(kTableSettings, 0, column, &record);
}

void SetTextSetting(int column, const std::string& text) {
  HostControl* host = Host();
  if (host == nullptr) return;
  ValueRecord record{kValueText, reinterpret_cast<intptr_t>(text.c_str()), 0};
  host->SetValue(kTableSettings, 0, column, &record);
}

const char* GetTextSetting(int column, char* buffer, int size) {
  HostControl* host = Host();
  if (host == nullptr) return nullptr;
  ValueRecord value{kValueText, reinterpret_cast<intptr_t>(buffer), size};
  host->GetValue(kTableSettings, 0, column, &value);
  return reinterpret_cast<const char*>(value.value);
}

std::string GetTextSetting(int column) { return Owned(GetTextSetting(column, nullptr, 0)); }

int GetContactInt(int contact, int column) {
  HostControl* host = Host();
  if (host == nullptr) return 0;
  ValueRecord value{kValueInt, 0, 0};
  host->GetValue(kTableContacts, contact, column, &value);
  return static_cast<int>(value.value);
}

const char* GetContactTextPtr(int contact, int column) {
  HostControl* host = Host();
  if (host == nullptr) return nullptr;
  ValueRecord value{kValueText, 0, 0};
  host->GetValue(kTableContacts, contact, column, &value);
  return reinterpret_cast<const char*>(value.value);
}

std::string GetContactText(int contact, int column) {
  return Owned(GetContactTextPtr(contact, column));
}

void SetContactText(int contact, int column, const char* text) {
  HostControl* host = Host();
  if (host == nullptr) return;
  ValueRecord value{kValueText, reinterpret_cast<intptr_t>(text), 0};
  host->SetValue(kTableContacts, contact, column, &value);
}

void SetContactInt(int contact, int column, int value) {
  HostControl* host = Host();
  if (host == nullptr) return;
  ValueRecord record{kValueInt, value, 0};
  host->SetValue(kTableContacts, contact, column, &record);
}

void SetContactIntMasked(int contact, int column, int value, int mask) {
  if (mask != -1) value = (GetContactInt(contact, column) & ~mask) | value;
  SetContactInt(contact, column, value);
}

bool StartThreadAndWait(HostThreadRoutine routine, void* argument) {
  HostControl* host = Host();
  if (host == nullptr) return false;
  HANDLE thread = host->BeginThread(nullptr, 0, routine, argument, 0, nullptr);
  if (thread == nullptr || thread == INVALID_HANDLE_VALUE) {
    Log("V.ask: nie udało się uruchomić wątku");
    return false;
  }
  bool ended = false;
  for (;;) {
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, kWakeMask, kWaitFlags);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
      ended = true;
      break;
    }
    if (result == WAIT_OBJECT_0 + 1) {
      host->PumpMessages();
      continue;
    }
    if (result == WAIT_IO_COMPLETION) continue;
    // WAIT_FAILED (or anything a wait without time-out cannot return):
    // waiting again would spin on the same failure.
    Log("V.ask: oczekiwanie na wątek nie powiodło się (%lu)",
        static_cast<unsigned long>(GetLastError()));
    break;
  }
  CloseHandle(thread);
  return ended;
}

MessageRecord* CopyMessageRecord(const MessageRecord* source) {
  if (source == nullptr) return nullptr;
  auto* copy = static_cast<MessageRecord*>(std::malloc(sizeof(MessageRecord)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, source, sizeof(MessageRecord));
  bool ok = true;
  copy->body = CopyText(source->body, ok);
  copy->ext = CopyText(source->ext, ok);
  copy->from = CopyText(source->from, ok);
  copy->to = CopyText(source->to, ok);
  if (!ok) {
    FreeMessageCopy(copy);
    return nullptr;
  }
  return copy;
}

MessageRecord LanMessageRecord(int32_t type, const std::string& from, const std::string& body,
                               int32_t icon, int64_t time) {
  static char empty[1] = {0};
  MessageRecord record{};
  record.size = sizeof(MessageRecord);
  record.net = NET_LAN;
  record.type = type;
  record.from = const_cast<char*>(from.c_str());
  record.to = empty;
  record.body = const_cast<char*>(body.c_str());
  record.ext = empty;
  record.flags = kMessageFlagsLan;
  record.field42 = kMessageField42;
  record.icon = icon;
  record.time = time;
  return record;
}

void FreeMessageCopy(MessageRecord* copy) {
  if (copy == nullptr) return;
  std::free(copy->body);
  std::free(copy->ext);
  std::free(copy->from);
  std::free(copy->to);
  std::free(copy);
}

std::string ReadContactField(bool fromWindow, int contact, int column) {
  if (!fromWindow) return GetContactText(contact, column);
  const int parent = ContactWindowParent(column);
  return Owned(ReadItemText(ContactItem(contact, column, parent)));
}

void WriteContactField(bool toTable, int contact, int column, const std::string& text) {
  if (text.empty()) return;
  if (toTable) {
    SetContactText(contact, column, text.c_str());
    return;
  }
  const int parent = ContactWindowParent(column);
  SetItemText(ContactItem(contact, column, parent), text.c_str());
}

void SetItemStatus(const ActionRef& ref, int status, int mask) {
  ActionInfo info = BlankInfo(ref);
  info.mask = kActionMaskStatus;
  info.status = status;
  info.statusMask = mask;
  SendInfo(kMsgSetItemStatus, info);
}

void SetItemText(const ActionRef& ref, const char* text) {
  ActionInfo info = BlankInfo(ref);
  info.mask = kActionMaskText;
  info.text = text;
  SendInfo(kMsgSetItemText, info);
}

const char* ReadItemText(const ActionRef& ref) {
  ActionInfo info = BlankInfo(ref);
  info.mask = kActionMaskText;
  info.text = nullptr;
  info.textSize = 0;
  return reinterpret_cast<const char*>(SendInfo(kMsgReadItemText, info));
}

void AddItem(int parent, int action, int style, const char* text, int param, int width,
             int height) {
  ActionInfo info = BlankInfo(ActionRef{0, 0, kNoContact});
  FillItem(info, parent, action, style, text, param, width, height);
  SendInfo(kMsgAddItem, info);
}

void AddItemLong(int parent, int action, int style, const char* text, int param, int width,
                 int height, int extra1, int extra2) {
  ActionInfo info = BlankInfo(ActionRef{0, 0, kNoContact});
  FillItem(info, parent, action, style, text, param, width, height);
  info.size = kActionInfoLong;
  info.extra1 = static_cast<uint16_t>(extra1);
  info.extra2 = static_cast<uint16_t>(extra2);
  SendInfo(kMsgAddItem, info);
}

void AddGroupItem(int parent, int action, int style, const char* text, int param) {
  AddItem(parent, action, style | kItemStyleGroup, text, param);
}

int RegisterIcon(int kind, int iconId, HMODULE module, int resourceId) {
  IconRecord icon{};
  icon.size = sizeof(IconRecord);
  icon.iconId = iconId;
  icon.kind = kind;
  icon.one16 = 1;
  icon.module = module;
  icon.resourceId = resourceId;
  SendHost(kMsgRegisterIcon, &icon);
  return iconId;
}

void DefineColumn(int table, int column, int type, intptr_t defaultValue, const char* name) {
  ColumnDef def{};
  def.size = sizeof(ColumnDef);
  def.id = kMsgDefineColumn;
  def.table = static_cast<uint8_t>(table);
  def.column = column;
  def.columnType = type;
  def.defaultValue = defaultValue;
  def.name = name != nullptr ? name : "";
  HostControl* host = Host();
  if (host != nullptr) host->SendToHost(reinterpret_cast<HostMessage*>(&def));
}

}  // namespace vask
