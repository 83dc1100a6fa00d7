#include "host/host_core.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/record_decoder.h"

namespace vask::host {

// The control object one plug-in sees: every service forwards to the core
// with the plug-in's id, so PluginId answers the caller's own id.
class PluginControl final : public HostControl {
 public:
  PluginControl(HostCore* core, int id) : core_(core), id_(id) {}

  int Reserved0() override { return Reserved(0); }
  int Reserved1() override { return Reserved(1); }
  int PluginId() override {
    core_->RecordService(id_, "PluginId", 0, 0, 0, 0, id_);
    return id_;
  }
  HMODULE ModuleHandle() override { return core_->ServeModuleHandle(id_); }
  int Reserved4() override { return Reserved(4); }
  void SetError(int code) override { core_->ServeSetError(id_, code); }
  int Reserved6() override { return Reserved(6); }
  intptr_t SendToHost(HostMessage* message) override {
    return core_->ServeSendToHost(id_, message);
  }
  intptr_t SendToPlugin(int receiver, HostMessage* message) override {
    return core_->ServeSendToPlugin(id_, receiver, message);
  }
  int Reserved9() override { return Reserved(9); }
  int RowIndex(int table, int row) override { return core_->ServeRowIndex(id_, table, row); }
  void PumpMessages() override { core_->ServePumpMessages(id_); }
  int Reserved12() override { return Reserved(12); }
  char* TempBuffer(int size) override { return core_->ServeTempBuffer(id_, size); }
  void GetValue(int table, int row, int column, ValueRecord* value) override {
    core_->ServeGetValue(id_, table, row, column, value);
  }
  void SetValue(int table, int row, int column, ValueRecord* value) override {
    core_->ServeSetValue(id_, table, row, column, value);
  }
  int Reserved16() override { return Reserved(16); }
  HANDLE BeginThread(void* security, unsigned stackSize, HostThreadRoutine routine, void* argument,
                     unsigned flags, unsigned* threadId) override {
    return core_->ServeBeginThread(id_, security, stackSize, routine, argument, flags, threadId);
  }
  int Reserved18() override { return Reserved(18); }
  int Reserved19() override { return Reserved(19); }

 private:
  int Reserved(int slot) {
    core_->RecordService(id_, "Reserved", slot);
    return 0;
  }

  HostCore* core_;
  int id_;
};

struct HostCore::Loaded {
  int id = 0;
  std::string path;
  std::string copy;  // the private copy to delete at unload, or ""
  void* handle = nullptr;
  MessageProc proc = nullptr;
  std::unique_ptr<PluginControl> control;
  PluginIdentity identity;
  bool started = false;
  bool stopped = false;
  int threads = 0;  // started by BeginThread and still inside the plug-in's routine
};

// Per-thread rings. A TempBuffer stays valid until the same thread has
// asked for kTempRing more; a text the host hands out (GetValue with no
// buffer, item texts) until the thread has been handed kTextRing more.
struct HostCore::ThreadBuffers {
  static constexpr size_t kTempRing = 32;
  static constexpr size_t kTextRing = 16;
  std::array<std::vector<char>, kTempRing> temp;
  size_t nextTemp = 0;
  std::array<std::string, kTextRing> texts;
  size_t nextText = 0;
};

namespace {

std::string CopyToTemp(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot read the plug-in";
    return "";
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/vask-plugin-XXXXXX.so";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkstemps(buffer.data(), 3);
  if (fd < 0) {
    if (error) *error = "cannot create a private copy of " + path;
    return "";
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done != bytes.size()) {
    unlink(buffer.data());
    if (error) *error = "cannot write a private copy of " + path;
    return "";
  }
  return buffer.data();
}

// The host's start routine around the plug-in's: when it returns, the
// thread runs host code only, so the library may be unloaded.
struct ThreadStart {
  HostCore* core;
  int plugin;
  HostThreadRoutine routine;
  void* argument;
};

DWORD WINAPI RunPluginThread(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  DWORD result = start.routine(start.argument);
  start.core->ReleaseThreadBuffers();
  start.core->ThreadEnded(start.plugin);
  return result;
}

constexpr auto kThreadsEndWait = std::chrono::seconds(10);

HostMessage MakeMessage(int id, int params, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4) {
  HostMessage m{};
  m.size = HostMessageSize(params);
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  m.p3 = p3;
  m.p4 = p4;
  return m;
}

std::string TextOf(intptr_t p) { return p ? reinterpret_cast<const char*>(p) : ""; }

bool IsContactWindowItem(int id) { return id >= 0x13000000 && id < 0x14000000; }

}  // namespace

HostCore::HostCore(HostOptions options)
    : options_(std::move(options)), tables_(options_.database, options_.computer) {}

HostCore::~HostCore() { UnloadAll(); }

// --- plug-ins ---

int HostCore::Load(const std::string& path, bool freshCopy, std::string* error) {
  std::string loadPath = path;
  std::string copy;
  if (freshCopy) {
    copy = CopyToTemp(path, error);
    if (copy.empty()) return 0;
    loadPath = copy;
  }
  void* handle = dlopen(loadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = dlerror();
    if (!copy.empty()) unlink(copy.c_str());
    return 0;
  }
  auto proc = reinterpret_cast<MessageProc>(dlsym(handle, "IMessageProc"));
  if (!proc) {
    if (error) *error = path + ": exports no IMessageProc";
    dlclose(handle);
    if (!copy.empty()) unlink(copy.c_str());
    return 0;
  }
  auto loaded = std::make_unique<Loaded>();
  loaded->path = path;
  loaded->copy = copy;
  loaded->handle = handle;
  loaded->proc = proc;
  std::lock_guard lock(mutex_);
  loaded->id = nextPlugin_++;
  loaded->control = std::make_unique<PluginControl>(this, loaded->id);
  int id = loaded->id;
  plugins_[id] = std::move(loaded);
  return id;
}

HostCore::Loaded* HostCore::Find(int plugin) {
  auto it = plugins_.find(plugin);
  return it == plugins_.end() ? nullptr : it->second.get();
}

bool HostCore::Start(int plugin) {
  HostControl* control = Control(plugin);
  if (!control) return false;
  Call(plugin, 20001, reinterpret_cast<intptr_t>(control));
  PluginIdentity identity;
  identity.net = Call(plugin, 30010);
  identity.capabilities = Call(plugin, 30011);
  identity.shortName = TextOf(Call(plugin, 30013));
  identity.displayName = TextOf(Call(plugin, 30016));
  identity.netName = TextOf(Call(plugin, 30017));
  identity.netName2 = TextOf(Call(plugin, 30025));
  identity.kind = TextOf(Call(plugin, 30026));
  {
    std::lock_guard lock(mutex_);
    if (Loaded* p = Find(plugin)) {
      p->identity = identity;
      p->started = true;
    }
  }
  Call(plugin, 21001);
  Call(plugin, 22000);
  Call(plugin, 22100);
  return true;
}

void HostCore::Unload(int plugin) {
  bool stop = false;
  {
    std::lock_guard lock(mutex_);
    Loaded* p = Find(plugin);
    if (!p) return;
    stop = p->started && !p->stopped;
    p->stopped = true;
  }
  // The plug-in's threads may still call in while it stops: it stays
  // findable until 22101 has returned.
  if (stop) Call(plugin, 22101);
  std::unique_ptr<Loaded> gone;
  {
    std::unique_lock lock(mutex_);
    Loaded* p = Find(plugin);
    if (!p) return;
    bool ended = threadsChanged_.wait_for(lock, kThreadsEndWait, [&] {
      Loaded* q = Find(plugin);
      return !q || q->threads == 0;
    });
    auto it = plugins_.find(plugin);
    if (it == plugins_.end()) return;
    if (!ended) {
      std::fprintf(stderr, "vask-host: threads of plug-in %d did not end; it stays loaded\n",
                   plugin);
      return;
    }
    gone = std::move(it->second);
    plugins_.erase(it);
  }
  dlclose(gone->handle);
  if (!gone->copy.empty()) unlink(gone->copy.c_str());
}

void HostCore::UnloadAll() {
  for (int id : Plugins()) Unload(id);
}

std::vector<int> HostCore::Plugins() const {
  std::lock_guard lock(mutex_);
  std::vector<int> ids;
  for (const auto& [id, p] : plugins_) ids.push_back(id);
  return ids;
}

std::optional<PluginIdentity> HostCore::Identity(int plugin) const {
  std::lock_guard lock(mutex_);
  auto it = plugins_.find(plugin);
  if (it == plugins_.end()) return std::nullopt;
  return it->second->identity;
}

HostControl* HostCore::Control(int plugin) {
  std::lock_guard lock(mutex_);
  Loaded* p = Find(plugin);
  return p ? p->control.get() : nullptr;
}

intptr_t HostCore::Call(int plugin, HostMessage* message) {
  MessageProc proc = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (Loaded* p = Find(plugin)) proc = p->proc;
  }
  return proc ? proc(message) : 0;
}

intptr_t HostCore::Call(int plugin, int id, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4,
                        int params) {
  HostMessage m = MakeMessage(id, params, p1, p2, p3, p4);
  return Call(plugin, &m);
}

// --- tables ---

int HostCore::AddContact(std::string_view address, int net) {
  int existing = FindContact(net, address);
  if (existing > 0) return existing;
  int row = tables_.NewContact();
  if (row < 0) return -1;
  tables_.SetText(kTableContacts, row, 0, address);
  tables_.SetInt(kTableContacts, row, 1, net);
  tables_.SetInt(kTableContacts, row, 2, 0);
  return row;
}

bool HostCore::RemoveContact(int contact) {
  {
    std::lock_guard lock(mutex_);
    details_.erase(contact);
  }
  return tables_.DeleteContact(contact);
}

int HostCore::FindContact(int net, std::string_view address) {
  for (int row : tables_.ContactRows()) {
    if (row == 0) continue;
    if (tables_.GetInt(kTableContacts, row, 1) != net) continue;
    if (EqualsNoCase(tables_.GetText(kTableContacts, row, 0), address)) return row;
  }
  return -1;
}

void HostCore::SetSetting(int column, int64_t value) { tables_.SetInt(kTableSettings, 0, column, value); }
void HostCore::SetSettingText(int column, std::string_view value) {
  tables_.SetText(kTableSettings, 0, column, value);
}
int64_t HostCore::GetSetting(int column) { return tables_.GetInt(kTableSettings, 0, column); }
std::string HostCore::GetSettingText(int column) {
  return tables_.GetText(kTableSettings, 0, column);
}

void HostCore::SetIgnored(std::string_view address, bool ignored) {
  tables_.SetIgnored(address, ignored);
}
bool HostCore::IsIgnored(std::string_view address) { return tables_.IsIgnored(address); }

// --- state ---

OwnStatus HostCore::ownStatus() const {
  std::lock_guard lock(mutex_);
  return own_;
}
std::vector<InterfaceItem> HostCore::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}
std::optional<InterfaceItem> HostCore::Item(int id, int parent) const {
  std::lock_guard lock(mutex_);
  for (const InterfaceItem& item : items_) {
    if (item.id == id && item.parent == parent) return item;
  }
  return std::nullopt;
}
std::vector<RegisteredIcon> HostCore::icons() const {
  std::lock_guard lock(mutex_);
  return icons_;
}
std::vector<ColumnDefinition> HostCore::definedColumns() const {
  std::lock_guard lock(mutex_);
  return columns_;
}
std::vector<MessageBox> HostCore::messageBoxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}
std::vector<HistoryEntry> HostCore::History(int contact) { return tables_.History(contact); }
std::vector<FoundContact> HostCore::foundContacts() const {
  std::lock_guard lock(mutex_);
  return found_;
}
void HostCore::ClearFoundContacts() {
  std::lock_guard lock(mutex_);
  found_.clear();
}
std::optional<int> HostCore::SendResult(int messageId) const {
  std::lock_guard lock(mutex_);
  auto it = sendResults_.find(messageId);
  if (it == sendResults_.end()) return std::nullopt;
  return it->second;
}
std::vector<int> HostCore::errorCodes() const {
  std::lock_guard lock(mutex_);
  return errors_;
}
size_t HostCore::pumpCount() const {
  std::lock_guard lock(mutex_);
  return pumps_;
}
void HostCore::FailThreads(int count) {
  std::lock_guard lock(mutex_);
  failThreads_ = count;
}

std::vector<Notice> HostCore::openNotices() const {
  std::lock_guard lock(mutex_);
  return notices_;
}

int HostCore::PressCancel() {
  std::lock_guard lock(mutex_);
  // The record is the plug-in's and stays alive until its 10210 returns,
  // which takes this lock to remove it: writing here is safe.
  for (Notice& n : notices_) CancelNotice(*n.record);
  return static_cast<int>(notices_.size());
}

void HostCore::OpenDetails(int contact) {
  std::lock_guard lock(mutex_);
  details_[contact];
}
void HostCore::CloseDetails(int contact) {
  std::lock_guard lock(mutex_);
  details_.erase(contact);
}
bool HostCore::DetailsOpen(int contact) const {
  std::lock_guard lock(mutex_);
  return details_.count(contact) != 0;
}
std::string HostCore::DetailsText(int contact, int column) const {
  std::lock_guard lock(mutex_);
  auto it = details_.find(contact);
  if (it == details_.end()) return "";
  auto field = it->second.find(column);
  return field == it->second.end() ? "" : field->second;
}
void HostCore::SetDetailsText(int contact, int column, std::string_view text) {
  std::lock_guard lock(mutex_);
  auto it = details_.find(contact);
  if (it != details_.end()) it->second[column] = std::string(text);
}

// --- recording and hooks ---

void HostCore::SetAnswer(int id, AnswerHook hook) {
  std::lock_guard lock(mutex_);
  hooks_[id] = std::move(hook);
}
void HostCore::ClearAnswer(int id) {
  std::lock_guard lock(mutex_);
  hooks_.erase(id);
}
void HostCore::SetEventSink(EventSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void HostCore::Emit(const std::string& event, const RecordedCall& call) {
  EventSink sink;
  {
    std::lock_guard lock(mutex_);
    sink = sink_;
  }
  if (sink) sink(event, call);
}

HostCore::ThreadBuffers& HostCore::Buffers() {
  std::lock_guard lock(mutex_);
  auto& slot = buffers_[GetCurrentThreadId()];
  if (!slot) slot = std::make_unique<ThreadBuffers>();
  return *slot;  // used by this thread only
}

void HostCore::ReleaseThreadBuffers() {
  std::unique_ptr<ThreadBuffers> gone;
  {
    std::lock_guard lock(mutex_);
    auto it = buffers_.find(GetCurrentThreadId());
    if (it == buffers_.end()) return;
    gone = std::move(it->second);
    buffers_.erase(it);
  }
}

size_t HostCore::threadBufferCount() const {
  std::lock_guard lock(mutex_);
  return buffers_.size();
}

const char* HostCore::KeepText(std::string_view text) {
  ThreadBuffers& b = Buffers();
  std::string& slot = b.texts[b.nextText++ % ThreadBuffers::kTextRing];
  slot.assign(text);
  return slot.c_str();
}

void HostCore::RecordService(int plugin, const char* service, intptr_t a1, intptr_t a2,
                             intptr_t a3, intptr_t a4, intptr_t answer) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = service;
  call.message.p1 = a1;
  call.message.p2 = a2;
  call.message.p3 = a3;
  call.message.p4 = a4;
  call.answer = answer;
  calls_.Add(std::move(call));
}

// --- services ---

HMODULE HostCore::ServeModuleHandle(int plugin) {
  HMODULE module = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (Loaded* p = Find(plugin)) module = p->handle;
  }
  RecordService(plugin, "ModuleHandle", 0, 0, 0, 0, reinterpret_cast<intptr_t>(module));
  return module;
}

void HostCore::ServeSetError(int plugin, int code) {
  {
    std::lock_guard lock(mutex_);
    errors_.push_back(code);
  }
  RecordService(plugin, "SetError", code);
}

int HostCore::ServeRowIndex(int plugin, int table, int row) {
  // Row 0 is the own entry, whose index is 0; other rows answer their id.
  int answer = row > 0 && tables_.RowExists(table, row) ? row : 0;
  RecordService(plugin, "RowIndex", table, row, 0, 0, answer);
  return answer;
}

void HostCore::ServePumpMessages(int plugin) {
  MSG msg;
  int drained = 0;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ++drained;
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    ++pumps_;
    handler = pumpHandler_;
  }
  RecordService(plugin, "PumpMessages", drained);
  if (handler) handler();
}

void HostCore::ThreadEnded(int plugin) {
  // Notified under the lock: once the count reaches 0 the waiter may destroy
  // the core, so this thread must be done with it before the waiter can run.
  std::lock_guard lock(mutex_);
  if (Loaded* p = Find(plugin)) --p->threads;
  threadsChanged_.notify_all();
}

void HostCore::SetPumpHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  pumpHandler_ = std::move(handler);
}

char* HostCore::ServeTempBuffer(int plugin, int size) {
  ThreadBuffers& b = Buffers();
  std::vector<char>& slot = b.temp[b.nextTemp++ % ThreadBuffers::kTempRing];
  slot.assign(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
  RecordService(plugin, "TempBuffer", size, 0, 0, 0, reinterpret_cast<intptr_t>(slot.data()));
  return slot.data();
}

HANDLE HostCore::ServeBeginThread(int plugin, void* security, unsigned stackSize,
                                  HostThreadRoutine routine, void* argument, unsigned flags,
                                  unsigned* threadId) {
  bool fail = false;
  {
    std::lock_guard lock(mutex_);
    if (failThreads_ > 0) {
      --failThreads_;
      fail = true;
    }
  }
  HANDLE thread = nullptr;
  if (!fail && routine) {
    {
      std::lock_guard lock(mutex_);
      if (Loaded* p = Find(plugin)) ++p->threads;
    }
    auto* start = new ThreadStart{this, plugin, routine, argument};
    thread = CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, RunPluginThread,
                          start, flags, reinterpret_cast<LPDWORD>(threadId));
    if (!thread) {
      delete start;
      ThreadEnded(plugin);
    }
  }
  RecordService(plugin, "BeginThread", reinterpret_cast<intptr_t>(routine),
                reinterpret_cast<intptr_t>(argument), flags, 0, reinterpret_cast<intptr_t>(thread));
  return thread;
}

void HostCore::ServeGetValue(int plugin, int table, int row, int column, ValueRecord* value) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = "GetValue";
  call.message.p1 = table;
  call.message.p2 = row;
  call.message.p3 = column;
  AddInt(call, "table", table);
  AddInt(call, "row", row);
  AddInt(call, "column", column);
  if (value) {
    AddInt(call, "type", value->type);
    if (value->type == kValueText) {
      std::string text = tables_.GetText(table, row, column);
      if (value->value && value->bufferSize > 0) {
        size_t n = std::min(text.size(), static_cast<size_t>(value->bufferSize) - 1);
        char* buffer = reinterpret_cast<char*>(value->value);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        AddText(call, "value", std::string(text, 0, n).c_str());
      } else {
        value->value = reinterpret_cast<intptr_t>(KeepText(text));
        AddText(call, "value", text.c_str());
      }
    } else {
      int64_t number = tables_.GetInt(table, row, column);
      value->value = static_cast<intptr_t>(number);
      AddInt(call, "value", number);
    }
  }
  calls_.Add(std::move(call));
}

void HostCore::ServeSetValue(int plugin, int table, int row, int column, ValueRecord* value) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = "SetValue";
  call.message.p1 = table;
  call.message.p2 = row;
  call.message.p3 = column;
  AddInt(call, "table", table);
  AddInt(call, "row", row);
  AddInt(call, "column", column);
  if (value) {
    AddInt(call, "type", value->type);
    if (value->type == kValueText) {
      std::string text = TextOf(value->value);
      tables_.SetText(table, row, column, text);
      AddText(call, "value", text.c_str());
    } else {
      tables_.SetInt(table, row, column, value->value);
      AddInt(call, "value", value->value);
    }
  }
  calls_.Add(std::move(call));
}

intptr_t HostCore::ServeSendToPlugin(int plugin, int receiver, HostMessage* message) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = "SendToPlugin";
  CopyHead(message, call);
  AddInt(call, "receiver", receiver);
  call.answer = message ? Call(receiver, message) : 0;
  calls_.Add(std::move(call));
  return call.answer;
}

intptr_t HostCore::ServeSendToHost(int plugin, HostMessage* message) {
  RecordedCall call;
  call.thread = GetCurrentThreadId();
  call.plugin = plugin;
  call.service = "SendToHost";
  if (!message) {
    calls_.Add(std::move(call));
    return 0;
  }
  CopyHead(message, call);
  DecodeHostMessage(message, call);
  AnswerHook hook;
  {
    std::lock_guard lock(mutex_);
    auto it = hooks_.find(Unpacked(message->id));
    if (it != hooks_.end()) hook = it->second;
  }
  std::optional<intptr_t> answer;
  if (hook) answer = hook(message);
  std::vector<std::string> events;
  if (answer) {
    call.answer = *answer;
  } else {
    call.answer = StandardAnswer(plugin, message, call);
  }
  RecordedCall copy = call;
  calls_.Add(std::move(call));
  // Host events follow the call that caused them.
  switch (copy.id) {
    case 100: events.push_back("message"); break;
    case 108: events.push_back("send-result"); break;
    case 234: events.push_back("contact-status"); break;
    case 246: events.push_back("own-status"); break;
    case 10201:
    case 10204: events.push_back("message-box"); break;
    case 10209: events.push_back("notice-opened"); break;
    case 10210: events.push_back("notice-closed"); break;
    case 14000: events.push_back("found-contact"); break;
    default: break;
  }
  for (const std::string& e : events) Emit(e, copy);
  return copy.answer;
}

intptr_t HostCore::StandardAnswer(int plugin, HostMessage* m, RecordedCall& call) {
  (void)plugin;
  const int params = ParamCount(m);
  switch (m->id) {
    case 1:
      if (options_.verbose) std::fprintf(stderr, "log: %s\n", TextOf(m->p1).c_str());
      return 0;
    case 100: {
      const auto* record = reinterpret_cast<const MessageRecord*>(m->p1);
      if (!record) return 0;
      HistoryEntry e;
      e.from = TextOf(reinterpret_cast<intptr_t>(record->from));
      e.to = TextOf(reinterpret_cast<intptr_t>(record->to));
      e.body = TextOf(reinterpret_cast<intptr_t>(record->body));
      e.ext = TextOf(reinterpret_cast<intptr_t>(record->ext));
      e.time = record->time;
      e.type = record->type;
      e.net = record->net;
      e.flags = record->flags;
      e.contact = FindContact(record->net ? record->net : NET_LAN, e.from);
      e.number = tables_.AddHistory(e);
      AddInt(call, "contactRow", e.contact);
      AddInt(call, "historyNumber", e.number);
      return 0;
    }
    case 108: {
      std::lock_guard lock(mutex_);
      const int id = static_cast<int>(m->p1);
      if (sendResults_.insert_or_assign(id, static_cast<int>(m->p2)).second) {
        sendOrder_.push_back(id);
        if (sendOrder_.size() > kSendResultsKept) {
          sendResults_.erase(sendOrder_.front());
          sendOrder_.pop_front();
        }
      }
      return 0;
    }
    case 200:
      return FindContact(static_cast<int>(m->p1), TextOf(m->p2));
    case 201:
      return tables_.ContactLimit();
    case 234: {
      int contact = static_cast<int>(m->p1);
      if (!tables_.RowExists(kTableContacts, contact)) return 0;
      int64_t old = tables_.GetInt(kTableContacts, contact, 2);
      tables_.SetInt(kTableContacts, contact, 2, (old & ~int64_t{0xFF}) | (m->p2 & 0xFF));
      tables_.SetText(kTableContacts, contact, 18, params >= 3 ? TextOf(m->p3) : "");
      AddText(call, "address", tables_.GetText(kTableContacts, contact, 0).c_str());
      return 0;
    }
    case 246: {
      // A hook may have rewritten p2 and p3: record what the plug-in will
      // read back.
      int status = 0;
      std::string text;
      int statusColumn = 0;
      int textColumn = 0;
      {
        std::lock_guard lock(mutex_);
        if (m->p2 != -1) own_.status = static_cast<int>(m->p2);
        if (params >= 3 && m->p3) own_.text = TextOf(m->p3);
        ++own_.changes;
        AddInt(call, "ownStatus", own_.status);
        AddText(call, "ownText", own_.text.c_str());
        status = own_.status;
        text = own_.text;
        for (const ColumnDefinition& c : columns_) {
          if (c.table != kTableSettings) continue;
          const size_t slash = c.name.rfind('/');
          if (slash == std::string::npos) continue;
          if (c.name.compare(slash, std::string::npos, "/Status") == 0) statusColumn = c.column;
          if (c.name.compare(slash, std::string::npos, "/StatusInfo") == 0) textColumn = c.column;
        }
      }
      // The host keeps the last status a plug-in announced in its named
      // status columns, so that setting 11 brings it back at the next start.
      // Offline is not kept: every start announces it first, and a
      // restored status is the last one the user was reachable with.
      if (status != 0 && statusColumn != 0) {
        tables_.SetInt(kTableSettings, 0, statusColumn, status);
        if (textColumn != 0) tables_.SetText(kTableSettings, 0, textColumn, text);
      }
      return 0;
    }
    case 310:
      return IsIgnored(TextOf(m->p2)) ? 1 : 0;
    case 1102: {
      const auto* def = reinterpret_cast<const ColumnDef*>(m);
      ColumnDefinition c;
      c.table = def->table;
      c.column = def->column;
      c.type = def->columnType;
      if (def->columnType == kColumnText) {
        c.defaultText = TextOf(def->defaultValue);
      } else {
        c.defaultInt = def->defaultValue;
      }
      c.name = def->name ? def->name : "";
      tables_.DefineColumn(c.table, c.column, c.type, c.defaultInt, c.defaultText, c.name);
      std::lock_guard lock(mutex_);
      columns_.push_back(c);
      return 0;
    }
    case 10101: {
      const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
      if (!info) return 0;
      InterfaceItem item;
      item.id = info->ref.id;
      item.parent = info->ref.parent;
      item.contact = info->ref.contact;
      item.position = info->position;
      item.style = item.status = info->status;
      item.text = info->text ? info->text : "";
      item.param = info->param;
      item.width = info->width;
      item.height = info->height;
      item.size = info->size;
      std::lock_guard lock(mutex_);
      for (InterfaceItem& existing : items_) {
        // Items without an action id (labels, pictures, separators) are
        // many under one parent: only a declared action replaces itself.
        if (item.id != 0 && existing.id == item.id && existing.parent == item.parent) {
          existing = item;
          return 0;
        }
      }
      items_.push_back(item);
      return 0;
    }
    case 10106: {
      auto* info = reinterpret_cast<ActionInfo*>(m->p1);
      if (!info) return 0;
      std::string text;
      if (IsContactWindowItem(info->ref.id)) {
        text = DetailsText(info->ref.contact, info->ref.id - 0x13000000);
      } else if (auto item = Item(info->ref.id, info->ref.parent)) {
        text = item->text;
      }
      const char* kept = KeepText(text);
      if (info->text && info->textSize > 0) {
        size_t n = std::min(text.size(), static_cast<size_t>(info->textSize) - 1);
        char* buffer = const_cast<char*>(info->text);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
      } else {
        info->text = kept;
      }
      AddText(call, "answerText", kept);
      return reinterpret_cast<intptr_t>(kept);
    }
    case 10108: {
      const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
      if (!info) return 0;
      std::lock_guard lock(mutex_);
      for (InterfaceItem& item : items_) {
        if (item.id == info->ref.id && item.parent == info->ref.parent) {
          item.status = (item.status & ~info->statusMask) | (info->status & info->statusMask);
        }
      }
      return 0;
    }
    case 10110: {
      const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
      if (!info) return 0;
      std::string text = info->text ? info->text : "";
      if (IsContactWindowItem(info->ref.id)) {
        SetDetailsText(info->ref.contact, info->ref.id - 0x13000000, text);
        return 0;
      }
      std::lock_guard lock(mutex_);
      for (InterfaceItem& item : items_) {
        if (item.id == info->ref.id && item.parent == info->ref.parent) item.text = text;
      }
      return 0;
    }
    case 10117: {
      const auto* ref = reinterpret_cast<const ActionRef*>(m->p1);
      return ref && DetailsOpen(ref->contact) ? 1 : 0;
    }
    case 10118:
      return kContactWindowParent;
    case 10130: {
      const auto* icon = reinterpret_cast<const IconRecord*>(m->p1);
      if (!icon) return 0;
      std::lock_guard lock(mutex_);
      icons_.push_back({icon->iconId, icon->kind, icon->module, icon->resourceId});
      return icon->iconId;
    }
    case 10201:
    case 10204: {
      MessageBox box;
      box.error = m->id == 10201;
      box.text = TextOf(m->p1);
      if (params >= 3) box.title = TextOf(m->p3);
      std::lock_guard lock(mutex_);
      boxes_.push_back(box);
      return 0;
    }
    case 10209: {
      auto* record = reinterpret_cast<SearchStatusRecord*>(m->p1);
      if (!record) return 0;
      Notice n;
      n.record = record;
      n.title = TextOf(reinterpret_cast<intptr_t>(record->title));
      n.text = TextOf(reinterpret_cast<intptr_t>(record->text));
      n.style = record->style;
      n.thread = GetCurrentThreadId();
      std::lock_guard lock(mutex_);
      notices_.push_back(n);
      return 0;
    }
    case 10210: {
      auto* record = reinterpret_cast<SearchStatusRecord*>(m->p1);
      std::lock_guard lock(mutex_);
      for (auto it = notices_.begin(); it != notices_.end(); ++it) {
        if (it->record == record) {
          notices_.erase(it);
          break;
        }
      }
      return 0;
    }
    case 14000: {
      const auto* found = reinterpret_cast<const FoundContact*>(m->p1);
      if (!found) return 0;
      std::lock_guard lock(mutex_);
      found_.push_back(*found);
      return 0;
    }
    default:
      // 101, 232, 11013, 11014, 11016, 12000, 12001 and anything else:
      // recorded, nothing more to do.
      return 0;
  }
}

}  // namespace vask::host
