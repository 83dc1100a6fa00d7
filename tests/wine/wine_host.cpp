#include "tests/wine/wine_host.h"

#include <process.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tests/wine/checks.h"

namespace wine {

namespace {

using namespace vask;  // the named host numbers

// The control objects handed out, so that a service can tell its object
// from anything else the plug-in might pass first (a service called with
// the object in a register finds the next argument there instead).
CRITICAL_SECTION objectsLock;
std::set<const void*> liveObjects;
struct ObjectsLockInit {
  ObjectsLockInit() { InitializeCriticalSection(&objectsLock); }
} objectsLockInit;

[[noreturn]] void Fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Fatal(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "wine_host: FATAL: ");
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  va_end(args);
  Check(false, "the plug-in called the control object as the host defines it");
  Summary();
  std::fflush(nullptr);
  // The caller's stack no longer matches what a service removed from it:
  // nothing can go on.
  ExitProcess(4);
}

WineHost* HostOf(ControlObject* self, const char* service) {
  bool known;
  EnterCriticalSection(&objectsLock);
  known = liveObjects.count(self) != 0;
  LeaveCriticalSection(&objectsLock);
  if (!known) {
    Fatal(
        "%s was called with %p as its first stack argument, which is not the control object "
        "(was the object passed in a register?)",
        service, static_cast<void*>(self));
  }
  return static_cast<WineHost*>(self->host);
}

// ---- The entry points of the table -----------------------------------------

int32_t HOST_SERVICE SvcPluginId(ControlObject* self) {
  return HostOf(self, "PluginId")->pluginId();
}
HMODULE HOST_SERVICE SvcModuleHandle(ControlObject* self) {
  return HostOf(self, "ModuleHandle")->module();
}
void HOST_SERVICE SvcSetError(ControlObject* self, int32_t code) {
  HostOf(self, "SetError")->OnSetError(code);
}
Word HOST_SERVICE SvcSendToHost(ControlObject* self, Message* message) {
  return HostOf(self, "SendToHost")->OnSendToHost(message);
}
Word HOST_SERVICE SvcSendToPlugin(ControlObject* self, int32_t receiver, Message* message) {
  return HostOf(self, "SendToPlugin")->OnSendToPlugin(receiver, message);
}
int32_t HOST_SERVICE SvcRowIndex(ControlObject* self, int32_t table, int32_t row) {
  return HostOf(self, "RowIndex")->OnRowIndex(table, row);
}
void HOST_SERVICE SvcPumpMessages(ControlObject* self) {
  HostOf(self, "PumpMessages")->OnPumpMessages();
}
char* HOST_SERVICE SvcTempBuffer(ControlObject* self, int32_t size) {
  return HostOf(self, "TempBuffer")->OnTempBuffer(size);
}
void HOST_SERVICE SvcGetValue(ControlObject* self, int32_t table, int32_t row, int32_t column,
                              Value* value) {
  HostOf(self, "GetValue")->OnGetValue(table, row, column, value);
}
void HOST_SERVICE SvcSetValue(ControlObject* self, int32_t table, int32_t row, int32_t column,
                              Value* value) {
  HostOf(self, "SetValue")->OnSetValue(table, row, column, value);
}
HANDLE HOST_SERVICE SvcBeginThread(ControlObject* self, void* security, uint32_t stackSize,
                                   ThreadRoutine routine, void* argument, uint32_t flags,
                                   uint32_t* threadId) {
  return HostOf(self, "BeginThread")
      ->OnBeginThread(security, stackSize, routine, argument, flags, threadId);
}

// The services the plug-in never calls: a call means it counted the table
// differently from the host.
template <int Slot>
void HOST_SERVICE SvcUnused(ControlObject*) {
  Fatal("the plug-in called slot %d of the control object's table, a service it does not use",
        Slot);
}

template <int... Slots>
void FillUnused(void** table, std::integer_sequence<int, Slots...>) {
  ((table[Slots] = reinterpret_cast<void*>(&SvcUnused<Slots>)), ...);
}

void* const* ServiceTable() {
  static void* table[kControlSlotCount];
  static bool filled = false;
  if (!filled) {
    FillUnused(table, std::make_integer_sequence<int, kControlSlotCount>());
    table[kSlotPluginId] = reinterpret_cast<void*>(&SvcPluginId);
    table[kSlotModuleHandle] = reinterpret_cast<void*>(&SvcModuleHandle);
    table[kSlotSetError] = reinterpret_cast<void*>(&SvcSetError);
    table[kSlotSendToHost] = reinterpret_cast<void*>(&SvcSendToHost);
    table[kSlotSendToPlugin] = reinterpret_cast<void*>(&SvcSendToPlugin);
    table[kSlotRowIndex] = reinterpret_cast<void*>(&SvcRowIndex);
    table[kSlotPumpMessages] = reinterpret_cast<void*>(&SvcPumpMessages);
    table[kSlotTempBuffer] = reinterpret_cast<void*>(&SvcTempBuffer);
    table[kSlotGetValue] = reinterpret_cast<void*>(&SvcGetValue);
    table[kSlotSetValue] = reinterpret_cast<void*>(&SvcSetValue);
    table[kSlotBeginThread] = reinterpret_cast<void*>(&SvcBeginThread);
    filled = true;
  }
  return table;
}

// A string object of a bus record, read in the runtime's layout when its
// fields are plausible and its memory readable; false otherwise (a plug-in
// that hands over another layout fails the check instead of crashing it).
bool ReadString(const RuntimeString* s, std::string& out) {
  if (s == nullptr || IsBadReadPtr(s, sizeof *s)) return false;
  if (s->length > s->capacity || s->capacity > (1u << 20)) return false;
  const char* text = s->capacity < 16 ? s->text.inline_ : s->text.heap;
  if (s->capacity >= 16 && IsBadReadPtr(text, s->length)) return false;
  out.assign(text, s->length);
  return true;
}

bool ReadList(const RuntimeList* list, std::vector<std::string>& out) {
  if (list == nullptr || IsBadReadPtr(list, sizeof *list)) return false;
  if (list->count > 100000 || list->head == nullptr || IsBadReadPtr(list->head, 8)) return false;
  const RuntimeListNode* node = list->head->next;
  for (uint32_t i = 0; i < list->count; ++i) {
    if (node == nullptr || node == list->head || IsBadReadPtr(node, sizeof *node)) return false;
    std::string text;
    if (!ReadString(&node->value, text)) return false;
    out.push_back(text);
    node = node->next;
  }
  return node == list->head;
}

}  // namespace

std::string Text(const char* text) { return text ? std::string(text) : std::string("(null)"); }

WineHost::WineHost(int32_t pluginId) : pluginId_(pluginId) {
  InitializeCriticalSection(&lock_);
  control_.table = ServiceTable();
  control_.host = this;
  contacts_.resize(1);  // row 0: the own entry
  EnterCriticalSection(&objectsLock);
  liveObjects.insert(&control_);
  LeaveCriticalSection(&objectsLock);
}

WineHost::~WineHost() {
  EnterCriticalSection(&objectsLock);
  liveObjects.erase(&control_);
  LeaveCriticalSection(&objectsLock);
  DeleteCriticalSection(&lock_);
}

bool WineHost::Load(const std::string& path, std::string& error) {
  module_ = LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    error = "LoadLibrary(" + path + ") failed with " + std::to_string(GetLastError());
    return false;
  }
  proc_ = reinterpret_cast<MessageProc>(
      reinterpret_cast<void*>(GetProcAddress(module_, "IMessageProc")));
  if (proc_ == nullptr) {
    error = path + " exports no IMessageProc";
    return false;
  }
  return true;
}

bool WineHost::Unload() {
  const bool ok = module_ != nullptr && FreeLibrary(module_);
  module_ = nullptr;
  proc_ = nullptr;
  return ok;
}

Word WineHost::Send(int32_t id, Word p1, Word p2) {
  Message m{};
  m.size = kMessage2;
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  return SendRecord(&m);
}

Word WineHost::SendRecord(void* record) { return proc_(static_cast<Message*>(record)); }

void WineHost::StartSequence() {
  Send(kMsgSetControl, reinterpret_cast<Word>(&control_));
  Send(kMsgRegisterSettings);
  Send(kMsgRegisterInterface);
  Send(kMsgStart);
}

void WineHost::SetSetting(int column, int32_t number) {
  Locked guard(this);
  settings_[column] = Cell{number, std::to_string(number)};
}

void WineHost::SetSettingText(int column, const std::string& text) {
  Locked guard(this);
  settings_[column] = Cell{std::atoi(text.c_str()), text};
}

int32_t WineHost::Setting(int column) {
  Locked guard(this);
  return settings_[column].number;
}

std::string WineHost::SettingText(int column) {
  Locked guard(this);
  return settings_[column].text;
}

int WineHost::AddContact(const std::string& id, int32_t net) {
  Locked guard(this);
  std::map<int, Cell> row;
  row[kColumnId] = Cell{0, id};
  row[kColumnNet] = Cell{net, std::to_string(net)};
  row[kColumnStatus] = Cell{0, "0"};
  contacts_.push_back(row);
  return static_cast<int>(contacts_.size()) - 1;
}

void WineHost::SetContactText(int row, int column, const std::string& text) {
  Locked guard(this);
  if (Cell* cell = CellAt(kTableContacts, row, column)) *cell = Cell{std::atoi(text.c_str()), text};
}

void WineHost::SetContactInt(int row, int column, int32_t value) {
  Locked guard(this);
  if (Cell* cell = CellAt(kTableContacts, row, column)) *cell = Cell{value, std::to_string(value)};
}

int32_t WineHost::ContactInt(int row, int column) {
  Locked guard(this);
  Cell* cell = CellAt(kTableContacts, row, column);
  return cell ? cell->number : 0;
}

void WineHost::SetAnnounceRewrite(int32_t status) {
  Locked guard(this);
  announceRewrite_ = status;
}

void WineHost::ClaimCommand(const std::string& command) {
  Locked guard(this);
  claimed_.insert(command);
}

std::vector<int32_t> WineHost::Calls() {
  Locked guard(this);
  return calls_;
}
int WineHost::CountCalls(int32_t id) {
  Locked guard(this);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), id));
}
std::vector<std::string> WineHost::Logs() {
  Locked guard(this);
  return logs_;
}
bool WineHost::LogContains(const std::string& part) {
  Locked guard(this);
  for (const auto& line : logs_)
    if (line.find(part) != std::string::npos) return true;
  return false;
}
std::vector<Shown> WineHost::ShownMessages() {
  Locked guard(this);
  return shown_;
}
std::vector<Box> WineHost::Boxes() {
  Locked guard(this);
  return boxes_;
}
std::map<int32_t, int32_t> WineHost::SendResults() {
  Locked guard(this);
  return sendResults_;
}
std::vector<Announce> WineHost::Announces() {
  Locked guard(this);
  return announces_;
}
std::vector<ContactStatus> WineHost::ContactStatuses() {
  Locked guard(this);
  return contactStatuses_;
}
std::vector<Found> WineHost::FoundContacts() {
  Locked guard(this);
  return found_;
}
std::vector<NoticeEvent> WineHost::Notices() {
  Locked guard(this);
  return notices_;
}
std::vector<ItemStatus> WineHost::ItemStatuses() {
  Locked guard(this);
  return itemStatuses_;
}
std::vector<BusNotice> WineHost::BusNotices() {
  Locked guard(this);
  return busNotices_;
}
std::vector<DWORD> WineHost::PumpThreads() {
  Locked guard(this);
  return pumpThreads_;
}
int WineHost::SetErrorCount() {
  Locked guard(this);
  return setErrors_;
}
int WineHost::ThreadsStarted() {
  Locked guard(this);
  return threadsStarted_;
}

void WineHost::ClearRecords() {
  Locked guard(this);
  calls_.clear();
  logs_.clear();
  shown_.clear();
  boxes_.clear();
  sendResults_.clear();
  announces_.clear();
  contactStatuses_.clear();
  found_.clear();
  notices_.clear();
  itemStatuses_.clear();
  busNotices_.clear();
  pumpThreads_.clear();
  setErrors_ = 0;
}

void WineHost::DumpLog() {
  for (const auto& line : Logs()) std::fprintf(stderr, "    log %d: %s\n", pluginId_, line.c_str());
}

WineHost::Cell* WineHost::CellAt(int32_t table, int32_t row, int32_t column) {
  if (table == kTableSettings) return &settings_[column];
  if (table == kTableContacts && row >= 0 && row < static_cast<int32_t>(contacts_.size()))
    return &contacts_[row][column];
  return nullptr;
}

Word WineHost::OnSendToHost(Message* m) {
  Locked guard(this);
  calls_.push_back(m->id);
  return Answer(m);
}

Word WineHost::Answer(Message* m) {
  switch (m->id) {
    case kMsgLog:
      logs_.push_back(Text(reinterpret_cast<const char*>(m->p1)));
      if (Verbose()) std::printf("    log %d: %s\n", pluginId_, logs_.back().c_str());
      return 0;
    case kMsgShowMessage: {
      const auto* r = reinterpret_cast<const ChatMessage*>(m->p1);
      shown_.push_back(
          Shown{r->net, r->type, r->flags, r->icon, r->time, Text(r->from), Text(r->body)});
      return 0;
    }
    case kMsgSendResult:
      sendResults_[static_cast<int32_t>(m->p1)] = static_cast<int32_t>(m->p2);
      return 0;
    case kMsgFindContact: {
      const std::string address = Text(reinterpret_cast<const char*>(m->p2));
      for (size_t row = 1; row < contacts_.size(); ++row) {
        if (contacts_[row][kColumnNet].number == m->p1 &&
            _stricmp(contacts_[row][kColumnId].text.c_str(), address.c_str()) == 0)
          return static_cast<int32_t>(row);
      }
      return -1;
    }
    case kMsgContactCount:
      return static_cast<int32_t>(contacts_.size());
    case kMsgContactStatus:
      contactStatuses_.push_back(
          ContactStatus{static_cast<int32_t>(m->p1), static_cast<int32_t>(m->p2),
                        m->size >= kMessage3 ? Text(reinterpret_cast<const char*>(m->p3)) : ""});
      return 0;
    case kMsgAnnounceStatus:
      announces_.push_back(Announce{static_cast<int32_t>(m->p2),
                                    m->p3 ? Text(reinterpret_cast<const char*>(m->p3)) : "",
                                    m->p3 != 0});
      if (announceRewrite_ != -1) m->p2 = announceRewrite_;
      return 0;
    case kMsgIsIgnored:
      return 0;
    case kMsgDefineColumn: {
      const auto* c = reinterpret_cast<const ColumnDefinition*>(m);
      if (c->table == kTableSettings && settings_.find(c->column) == settings_.end()) {
        settings_[c->column] =
            c->columnType == 0x1001
                ? Cell{0, Text(reinterpret_cast<const char*>(c->defaultValue))}
                : Cell{static_cast<int32_t>(c->defaultValue), std::to_string(c->defaultValue)};
      }
      return 0;
    }
    case kMsgReadItemText: {
      // The contact window's network field of a contact: its net column.
      const auto* info = reinterpret_cast<const ItemInfo*>(m->p1);
      if (info->ref.action == 0x13000000 + kColumnNet) {
        if (Cell* cell = CellAt(kTableContacts, info->ref.contact, kColumnNet))
          return reinterpret_cast<Word>(cell->text.c_str());
      }
      return reinterpret_cast<Word>(empty_);
    }
    case kMsgSetItemStatus: {
      const auto* info = reinterpret_cast<const ItemInfo*>(m->p1);
      itemStatuses_.push_back(
          ItemStatus{info->ref.action, info->ref.contact, info->status, info->statusMask});
      return 0;
    }
    case kMsgItemExists:
    case kMsgItemParent:
      return 1;
    case kMsgRegisterIcon:
      return reinterpret_cast<const IconRegistration*>(m->p1)->iconId;
    case kMsgErrorBox:
    case kMsgInfoBox:
      boxes_.push_back(
          Box{m->id, m->size, Text(reinterpret_cast<const char*>(m->p1)),
              m->size >= kMessage4 && m->p3 ? Text(reinterpret_cast<const char*>(m->p3)) : ""});
      return 0;
    case kMsgSearchNoticeShow:
    case kMsgSearchNoticeHide: {
      auto* notice = reinterpret_cast<NoticeRecord*>(m->p1);
      notices_.push_back(NoticeEvent{m->id, notice, Text(notice->title), Text(notice->text),
                                     notice->threadId, GetCurrentThreadId()});
      openNotice_ = m->id == kMsgSearchNoticeShow ? notice : nullptr;
      return 0;
    }
    case kMsgFoundContact: {
      const auto* f = reinterpret_cast<const FoundContactRecord*>(m->p1);
      found_.push_back(Found{f->status, f->net, std::string(f->uid, strnlen(f->uid, sizeof f->uid)),
                             std::string(f->column6, strnlen(f->column6, sizeof f->column6)),
                             std::string(f->column17, strnlen(f->column17, sizeof f->column17)),
                             std::string(f->provider, strnlen(f->provider, sizeof f->provider))});
      return 0;
    }
    default:
      return 0;
  }
}

BusNotice WineHost::ReadBusRecord(int32_t receiver, Message* m) {
  BusNotice n{};
  n.receiver = receiver;
  n.id = m->id;
  n.size = m->size;
  n.contact = 0;
  n.readable = true;
  if (m->id == kMsgBusSent) {
    const auto* r = reinterpret_cast<const BusSent*>(m);
    n.readable = ReadString(r->target, n.target) && ReadString(r->command, n.command) &&
                 ReadString(r->body, n.body);
  } else if (m->id == kMsgBusReceived) {
    const auto* r = reinterpret_cast<const BusReceived*>(m);
    n.contact = r->contact;
    n.readable = ReadList(r->fields, n.fields);
    if (n.fields.size() > 3) n.command = n.fields[3];
  } else if (m->id == kMsgBusEngine) {
    n.event = reinterpret_cast<const BusEngine*>(m)->event;
  }
  return n;
}

Word WineHost::OnSendToPlugin(int32_t receiver, Message* m) {
  if (receiver == pluginId_) return SendRecord(m);  // 34000, 34001 to itself
  // Another plug-in: a bus subscriber. The record and its objects live only
  // for this call, so everything is read now.
  BusNotice notice = ReadBusRecord(receiver, m);
  Locked guard(this);
  busNotices_.push_back(notice);
  return m->id == kMsgBusReceived && claimed_.count(notice.command) != 0 ? 1 : 0;
}

int32_t WineHost::OnRowIndex(int32_t table, int32_t row) {
  Locked guard(this);
  if (table != kTableContacts || row < 0 || row >= static_cast<int32_t>(contacts_.size())) return 0;
  return row;
}

void WineHost::OnPumpMessages() {
  {
    Locked guard(this);
    pumpThreads_.push_back(GetCurrentThreadId());
  }
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == kCancelSearch) {
      Locked guard(this);
      // The notice window's Cancel button: the host writes the byte.
      if (openNotice_ != nullptr) openNotice_->cancelled = 1;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

char* WineHost::OnTempBuffer(int32_t size) {
  Locked guard(this);
  buffers_.emplace_back(static_cast<size_t>(size > 0 ? size : 1), '\x55');
  return buffers_.back().data();
}

void WineHost::OnGetValue(int32_t table, int32_t row, int32_t column, Value* value) {
  Locked guard(this);
  Cell* cell = CellAt(table, row, column);
  if (value->type == 0) {
    value->value = cell ? cell->number : 0;  // widened on 64-bit builds
    return;
  }
  if (value->value == 0 && value->bufferSize == 0) {
    value->value = reinterpret_cast<Word>(cell ? cell->text.c_str() : empty_);
    return;
  }
  char* buffer = reinterpret_cast<char*>(value->value);
  if (buffer != nullptr && value->bufferSize > 0) {
    const std::string text = cell ? cell->text : std::string();
    const size_t n = std::min(text.size(), static_cast<size_t>(value->bufferSize - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
}

void WineHost::OnSetValue(int32_t table, int32_t row, int32_t column, Value* value) {
  Locked guard(this);
  Cell* cell = CellAt(table, row, column);
  if (cell == nullptr) return;
  if (value->type == 0) {
    *cell = Cell{static_cast<int32_t>(value->value),
                 std::to_string(static_cast<int32_t>(value->value))};
  } else {
    const std::string text = Text(reinterpret_cast<const char*>(value->value));
    *cell = Cell{std::atoi(text.c_str()), text};
  }
}

HANDLE WineHost::OnBeginThread(void* security, uint32_t stackSize, ThreadRoutine routine,
                               void* argument, uint32_t flags, uint32_t* threadId) {
  {
    Locked guard(this);
    ++threadsStarted_;
  }
  return reinterpret_cast<HANDLE>(
      _beginthreadex(security, stackSize, routine, argument, flags, threadId));
}

void WineHost::OnSetError(int32_t code) {
  Locked guard(this);
  if (code == 1) ++setErrors_;
}

}  // namespace wine
