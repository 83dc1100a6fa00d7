// A Windows program that plays the host for vask.dll and checks that the
// plug-in runs on the real Win32 mailslot functions (under Wine in CI).
//
// It loads the DLL, hands it a small HostControl, runs the start sequence,
// sets a status so that the engine opens its slots and starts its worker,
// writes a "GETSTATUS" and a "MESSAGE" datagram (and a WinPopup one) into the
// local slots, and waits for the host message 100 that delivers the text.
// It also asks the plug-in to send a message to a computer that does not
// exist here (Wine has only local mailslots) and checks that the failure is
// reported cleanly. Then it shuts the plug-in down and unloads it.
//
//   wine_smoke.exe [path\to\vask.dll]     exit 0 on success, 1 with a reason
//
// Every wait is bounded (kWaitMs), so a broken plug-in fails the run rather
// than hanging it. VASK_SMOKE_VERBOSE=1 prints the plug-in's log lines.
#include <process.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "abi/host_control.h"
#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "tests/support/fake_control.h"

namespace {

using namespace vask;
using vask::HostMessage;
using vask::IconRecord;
using vask::MessageRecord;
using vask::ValueRecord;

constexpr DWORD kWaitMs = 15000;
const char kPeer[] = "PEER";  // a LAN contact that has no computer here
// "Cześć z Wine ąę" in Windows-1250, written as bytes so that the check does
// not depend on how this file is compiled.
const char kLanText[] = "Cze\x9C\xE6 z Wine \xB9\xEA";
const char kPopupText[] = "WinPopup z Wine";

typedef intptr_t(__stdcall* MessageProc)(HostMessage*);

bool verbose = false;

[[noreturn]] void Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "wine_smoke: FAILED: ");
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  va_end(args);
  std::exit(1);
}

void Step(const char* text) { std::printf("wine_smoke: %s\n", text); std::fflush(stdout); }

// One value of a host table: a number and its decimal text, or a text and
// the number it starts with.
struct Value {
  intptr_t number = 0;
  std::string text;
};

Value NumberValue(intptr_t n) { return Value{n, std::to_string(n)}; }
Value TextValue(const std::string& t) { return Value{std::atoi(t.c_str()), t}; }

struct ReceivedMessage {
  int32_t net;
  int32_t type;
  std::string from;
  std::string body;
  int32_t icon;
  int64_t time;
};

// The host's state, on the tests' fake control object (whose `module` is
// the plug-in's). Every service may be called from any thread, so all of
// it is behind one critical section; it is never held while the plug-in is
// called.
class SmokeHost : public vask::test::FakeControl {
 public:
  SmokeHost() { InitializeCriticalSection(&lock_); }
  ~SmokeHost() { DeleteCriticalSection(&lock_); }

  MessageProc proc = nullptr;

  intptr_t SendToHost(HostMessage* message) override;
  intptr_t SendToPlugin(int receiver, HostMessage* message) override {
    if (receiver != pluginId && receiver != 0) return 0;
    return proc(message);
  }
  int RowIndex(int table, int row) override {
    Locked guard(this);
    if (table != vask::kTableContacts || row < 0 || row >= static_cast<int>(contacts_.size())) return 0;
    return row;
  }
  void PumpMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  char* TempBuffer(int size) override {
    Locked guard(this);
    buffers_.emplace_back(static_cast<size_t>(size > 0 ? size : 1), '\0');
    return buffers_.back().data();
  }
  void GetValue(int table, int row, int column, ValueRecord* value) override;
  void SetValue(int table, int row, int column, ValueRecord* value) override;
  HANDLE BeginThread(void* security, unsigned stackSize, vask::HostThreadRoutine routine,
                     void* argument, unsigned flags, unsigned* threadId) override {
    uintptr_t h = _beginthreadex(security, stackSize, routine, argument, flags, threadId);
    return reinterpret_cast<HANDLE>(h);
  }

  void SetSetting(int column, const Value& v) {
    Locked guard(this);
    settings_[column] = v;
  }
  void AddContact(std::map<int, Value> columns) {
    Locked guard(this);
    contacts_.push_back(std::move(columns));
  }

  // Snapshots for the checks.
  int Count(int id) {
    Locked guard(this);
    int n = 0;
    for (int seen : ids_) n += seen == id;
    return n;
  }
  std::vector<ReceivedMessage> Messages() {
    Locked guard(this);
    return messages_;
  }
  std::vector<std::string> Logs() {
    Locked guard(this);
    return logs_;
  }
  std::map<int32_t, int32_t> SendResults() {
    Locked guard(this);
    return sendResults_;
  }
  Value Setting(int column) {
    Locked guard(this);
    return settings_[column];
  }
  std::vector<int> IconGroups() {
    Locked guard(this);
    return iconGroups_;
  }
  std::vector<std::string> ItemTexts() {
    Locked guard(this);
    return itemTexts_;
  }

 private:
  struct Locked {
    explicit Locked(SmokeHost* h) : host(h) { EnterCriticalSection(&host->lock_); }
    ~Locked() { LeaveCriticalSection(&host->lock_); }
    SmokeHost* host;
  };

  Value* Cell(int table, int row, int column) {
    if (table == vask::kTableSettings) return &settings_[column];
    if (table == vask::kTableContacts && row >= 0 && row < static_cast<int>(contacts_.size()))
      return &contacts_[row][column];
    return nullptr;
  }

  CRITICAL_SECTION lock_;
  std::map<int, Value> settings_;
  std::vector<std::map<int, Value>> contacts_;
  std::deque<std::vector<char>> buffers_;
  std::vector<int> ids_;
  std::vector<ReceivedMessage> messages_;
  std::vector<std::string> logs_;
  std::map<int32_t, int32_t> sendResults_;
  std::vector<int> iconGroups_;
  std::vector<std::string> itemTexts_;
  const char empty_[1] = {0};
};

std::string TextOf(intptr_t p) {
  return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
}

intptr_t SmokeHost::SendToHost(HostMessage* m) {
  Locked guard(this);
  ids_.push_back(m->id);
  switch (m->id) {
    case kMsgLog:
      logs_.push_back(TextOf(m->p1));
      if (verbose) std::printf("  log: %s\n", logs_.back().c_str());
      return 0;
    case kMsgShowMessage: {
      const auto* r = reinterpret_cast<const MessageRecord*>(m->p1);
      messages_.push_back({r->net, r->type, TextOf(reinterpret_cast<intptr_t>(r->from)),
                           TextOf(reinterpret_cast<intptr_t>(r->body)), r->icon, r->time});
      return 0;
    }
    case kMsgSendResult:
      sendResults_[static_cast<int32_t>(m->p1)] = static_cast<int32_t>(m->p2);
      return 0;
    case kMsgFindContact: {
      std::string address = TextOf(m->p2);
      for (size_t row = 1; row < contacts_.size(); ++row) {
        if (contacts_[row][kColumnNet].number == m->p1 &&
            _stricmp(contacts_[row][kColumnId].text.c_str(), address.c_str()) == 0)
          return static_cast<intptr_t>(row);
      }
      return -1;
    }
    case kMsgContactCount:
      return static_cast<intptr_t>(contacts_.size());
    case kMsgDefineColumn: {
      const auto* c = reinterpret_cast<const vask::ColumnDef*>(m);
      if (c->table == vask::kTableSettings && settings_.find(c->column) == settings_.end()) {
        settings_[c->column] = c->columnType == vask::kColumnText
                                   ? TextValue(TextOf(c->defaultValue))
                                   : NumberValue(c->defaultValue);
      }
      return 0;
    }
    case kMsgAddItem: {
      const auto* a = reinterpret_cast<const vask::ActionInfo*>(m->p1);
      itemTexts_.push_back(a->text ? a->text : "");
      return 0;
    }
    case kMsgReadItemText:
      return reinterpret_cast<intptr_t>(empty_);
    case kMsgRegisterIcon: {
      const auto* icon = reinterpret_cast<const IconRecord*>(m->p1);
      // The host loads the picture from the plug-in's own module.
      if (icon->module != module) Fail("icon 0x%08X names module %p, not the plug-in's", icon->iconId, (void*)icon->module);
      if (!FindResourceA(icon->module, MAKEINTRESOURCEA(icon->resourceId), MAKEINTRESOURCEA(14)))
        Fail("icon group %d is not a resource of the DLL", icon->resourceId);
      iconGroups_.push_back(icon->resourceId);
      return icon->iconId;
    }
    default:
      return 0;
  }
}

void SmokeHost::GetValue(int table, int row, int column, ValueRecord* value) {
  Locked guard(this);
  Value* cell = Cell(table, row, column);
  static const Value none;
  const Value& v = cell ? *cell : none;
  if (value->type == vask::kValueInt) {
    value->value = v.number;
    return;
  }
  if (value->value == 0 && value->bufferSize == 0) {
    value->value = reinterpret_cast<intptr_t>(cell ? cell->text.c_str() : empty_);
    return;
  }
  char* buffer = reinterpret_cast<char*>(value->value);
  if (buffer && value->bufferSize > 0) {
    size_t n = std::min(v.text.size(), static_cast<size_t>(value->bufferSize - 1));
    std::memcpy(buffer, v.text.data(), n);
    buffer[n] = '\0';
  }
}

void SmokeHost::SetValue(int table, int row, int column, ValueRecord* value) {
  Locked guard(this);
  Value* cell = Cell(table, row, column);
  if (!cell) return;
  *cell =
      value->type == vask::kValueInt ? NumberValue(value->value) : TextValue(TextOf(value->value));
}

intptr_t Send(SmokeHost& host, int32_t id, intptr_t p1 = 0, intptr_t p2 = 0) {
  HostMessage m{};
  m.size = vask::HostMessageSize(2);
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  return host.proc(&m);
}

// The plug-in's log so far, for a failed run: a rejected datagram says why.
void DumpLog(SmokeHost& host) {
  for (const auto& line : host.Logs()) std::fprintf(stderr, "  log: %s\n", line.c_str());
}

bool WaitUntil(SmokeHost& host, const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > kWaitMs) {
      DumpLog(host);
      return false;
    }
    host.PumpMessages();
    Sleep(20);
  }
  return true;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) Fail("GetComputerNameA failed (%lu)", GetLastError());
  return name;
}

// Writes one datagram into a local slot, as another copy on this computer
// would. The slot must exist: the engine created it when it started.
void WriteDatagram(const char* slot, const std::string& bytes) {
  HANDLE h = CreateFileA(slot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot open %s (%lu): the engine has no slot there", slot, GetLastError());
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != bytes.size()) Fail("writing to %s failed (%lu)", slot, GetLastError());
}

std::string Fields(std::initializer_list<std::string> fields) {
  std::string out;
  for (const auto& f : fields) {
    out += f;
    out += '\0';
  }
  return out;
}

bool SlotExists(const char* slot) {
  HANDLE h = CreateFileA(slot, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

const ReceivedMessage* FindMessage(const std::vector<ReceivedMessage>& all, int32_t type, const std::string& body) {
  for (const auto& m : all)
    if (m.type == type && m.body == body) return &m;
  return nullptr;
}

std::string DllPath(int argc, char** argv) {
  if (argc > 1) return argv[1];
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  size_t cut = dir.find_last_of("\\/");
  return (cut == std::string::npos ? std::string() : dir.substr(0, cut + 1)) + "vask.dll";
}

}  // namespace

int main(int argc, char** argv) {
  verbose = std::getenv("VASK_SMOKE_VERBOSE") != nullptr;
  const std::string me = ComputerName();
  const char* channelSlot = "\\\\.\\mailslot\\Vask";
  const char* popupSlot = "\\\\.\\mailslot\\messngr";

  SmokeHost host;
  host.SetSetting(kSettingHostFolder, TextValue("C:\\vask\\"));
  host.SetSetting(kSettingRestoreStatus, NumberValue(0));  // no status restore: the test sets one
  host.SetSetting(kSettingNotices, NumberValue(1));  // delivery notices on
  host.AddContact({{kColumnId, TextValue(me)},
                   {kColumnNet, NumberValue(vask::NET_LAN)},
                   {kColumnStatus, NumberValue(kStatusOffline)}});
  host.AddContact({{kColumnId, TextValue(kPeer)},
                   {kColumnNet, NumberValue(vask::NET_LAN)},
                   {kColumnStatus, NumberValue(kStatusOffline)}});

  if (SlotExists(channelSlot)) Fail("%s exists before the plug-in runs; is another copy running?", channelSlot);

  const std::string path = DllPath(argc, argv);
  Step(("loading " + path).c_str());
  host.module = LoadLibraryA(path.c_str());
  if (!host.module) Fail("LoadLibrary(%s) failed (%lu)", path.c_str(), GetLastError());
  host.proc = reinterpret_cast<MessageProc>(reinterpret_cast<void*>(GetProcAddress(host.module, "IMessageProc")));
  if (!host.proc) Fail("vask.dll exports no IMessageProc");

  Step("start sequence");
  if (Send(host, kMsgSetControl,
           reinterpret_cast<intptr_t>(static_cast<vask::HostControl*>(&host))) != 1)
    Fail("the control object (20001) did not answer 1");
  if (Send(host, kMsgNetworkId) != vask::NET_LAN) Fail("30010 does not answer the LAN network id");
  if (TextOf(Send(host, kMsgShortName)) != "Vask") Fail("30013 does not answer \"Vask\"");
  if (TextOf(Send(host, kMsgOwnId)) != me)
    Fail("30033 does not answer the computer name %s", me.c_str());
  if (Send(host, kMsgRegisterSettings) != 1) Fail("21001 did not answer 1");
  if (host.Count(kMsgDefineColumn) != 5)
    Fail("21001 declared %d settings columns, want 5", host.Count(kMsgDefineColumn));
  if (host.Setting(kSettingChannel).text != "Vask")
    Fail("the channel setting's default is \"%s\"", host.Setting(kSettingChannel).text.c_str());
  if (Send(host, kMsgRegisterInterface) != 1) Fail("22000 did not answer 1");
  if (host.IconGroups() != std::vector<int>{120, 101, 102, 103, 105, 104, 110, 121})
    Fail("22000 registered %zu icons, not the eight groups in their order", host.IconGroups().size());
  if (host.ItemTexts().size() != 19) Fail("22000 added %zu interface items, want 19", host.ItemTexts().size());
  if (!FindResourceA(host.module, MAKEINTRESOURCEA(111), MAKEINTRESOURCEA(14)))
    Fail("the settings-page picture (group 111) is not a resource of the DLL");
  if (Send(host, kMsgStart) != 1) Fail("22100 did not answer 1");
  if (host.Count(kMsgAnnounceStatus) < 1) Fail("22100 did not announce the own status (246)");
  if (Send(host, kMsgOwnStatus) != kStatusOffline)
    Fail("with setting 11 at 0 the plug-in started with a status");

  Step("status 64: the engine starts");
  if (Send(host, kMsgSetStatus, kStatusAvailable, 0) != 1) Fail("33005 did not answer 1");
  if (Send(host, kMsgOwnStatus) != kStatusAvailable)
    Fail("the own status is %d after 33005 with 64", (int)Send(host, kMsgOwnStatus));
  if (!WaitUntil(host, [&] { return SlotExists(channelSlot); }))
    Fail("the engine created no %s", channelSlot);

  Step("GETSTATUS and MESSAGE into the channel slot");
  WriteDatagram(channelSlot, Fields({"1", kPeer, me, "GETSTATUS"}));
  const std::string sentTime = "65A1B2C3";
  WriteDatagram(channelSlot, Fields({"2", kPeer, me, "MESSAGE", "7", kLanText, sentTime}));
  if (!WaitUntil(host, [&] { return FindMessage(host.Messages(), 1, kLanText) != nullptr; }))
    Fail("no host message 100 with the LAN message's text within %lu ms", kWaitMs);
  {
    auto all = host.Messages();
    const ReceivedMessage* m = FindMessage(all, 1, kLanText);
    if (m->net != vask::NET_LAN || m->from != kPeer) Fail("the message came from net %d \"%s\"", m->net, m->from.c_str());
    if (m->icon != kIconMessage) Fail("the message's icon is 0x%08X", m->icon);
    if (m->time != 0x65A1B2C3) Fail("the message's time is %lld, want the sender's", (long long)m->time);
  }

  // With WinPopup emulation on (the default) the engine also reads the
  // "messngr" slot.
  if (host.Setting(kSettingWinPopup).number != 0) {
    Step("a WinPopup datagram into the messngr slot");
    WriteDatagram(popupSlot, Fields({kPeer, me, kPopupText}));
    if (!WaitUntil(host, [&] { return FindMessage(host.Messages(), 1, kPopupText) != nullptr; }))
      Fail("no host message 100 with the WinPopup text within %lu ms", kWaitMs);
  }

  for (const auto& line : host.Logs()) {
    if (line.find("nieprawidlowy pakiet") != std::string::npos) {
      DumpLog(host);
      Fail("the engine rejected a datagram: %s", line.c_str());
    }
  }

  // A send to another computer: Wine has only local mailslots, so it fails,
  // and must fail cleanly (a notice, then 108 with 0). On Windows it may go
  // through (108 with 1).
  Step("sending to a computer that is not here");
  {
    char from[] = "";
    char to[] = "PEER";
    char body[] = "Hej";
    char ext[] = "";
    MessageRecord r{};
    r.size = sizeof r;
    r.id = 77;
    r.net = vask::NET_LAN;
    r.type = 1;
    r.from = from;
    r.to = to;
    r.body = body;
    r.ext = ext;
    if (Send(host, kMsgSendMessage, reinterpret_cast<intptr_t>(&r)) != 8)
      Fail("30100 did not answer 8");
  }
  if (!WaitUntil(host, [&] { return host.SendResults().count(77) != 0; }))
    Fail("no host message 108 for the sent message within %lu ms", kWaitMs);
  if (host.SendResults()[77] == 0) {
    bool notice = false;
    for (const auto& m : host.Messages())
      notice |= m.type == 2 && m.from == kPeer && m.body.rfind("Wyst\xB9pi\xB3 b\xB3\xB9" "d", 0) == 0;
    if (!notice) Fail("a failed send was reported without the error notice");
    std::printf("wine_smoke: the send failed cleanly, as expected here\n");
  }

  Step("shutdown");
  if (Send(host, kMsgShutdown) != 1) Fail("22101 did not answer 1");
  if (SlotExists(channelSlot)) Fail("%s is still open after 22101", channelSlot);
  if (!FreeLibrary(host.module)) Fail("FreeLibrary failed (%lu)", GetLastError());
  Step("passed");
  return 0;
}
