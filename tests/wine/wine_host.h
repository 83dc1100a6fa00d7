// WineHost: plays the host messenger for one loaded copy of vask.dll.
//
// It loads the DLL, hands it a control object whose table holds raw stdcall
// entry points (host_abi.h), keeps the settings and contact tables, answers
// the host messages the plug-in relies on, and records everything the
// plug-in tells it, for the checks to read. Every service may be called
// from any thread; the recorded state is behind one critical section that
// is never held while the plug-in is called.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/wine/host_abi.h"

namespace wine {

typedef Word(__stdcall* MessageProc)(Message*);

// A text as the plug-in handed it, or "(null)".
std::string Text(const char* text);

struct Shown {  // host message 100
  int32_t net, type, flags, icon;
  int64_t time;
  std::string from, body;
};
struct Box {  // 10201 (error) or 10204 (information)
  int32_t id;
  uint16_t size;
  std::string text, title;
};
struct Announce {  // 246
  int32_t status;
  std::string text;
  bool hasText;
};
struct ContactStatus {  // 234
  int32_t row, status;
  std::string text;
};
struct Found {  // 14000
  int32_t status, net;
  std::string uid, column6, column17, provider;
};
struct NoticeEvent {  // 10209 and 10210
  int32_t id;
  NoticeRecord* record;
  std::string title, text;
  int32_t threadId;
  DWORD calledOn;
};
struct ItemStatus {  // 10108
  int32_t action, contact, status, mask;
};
struct BusNotice {  // 55002, 55003, 55004 as a subscriber saw them
  int32_t receiver, id, size, event, contact;
  std::string target, command, body;
  std::vector<std::string> fields;
  bool readable;  // the string objects could be read in the runtime's layout
};

class WineHost {
 public:
  explicit WineHost(int32_t pluginId);
  ~WineHost();
  WineHost(const WineHost&) = delete;
  WineHost& operator=(const WineHost&) = delete;

  // LoadLibrary and the export; false (with the reason in `error`) when
  // either fails. Unload runs FreeLibrary.
  bool Load(const std::string& path, std::string& error);
  bool Unload();
  HMODULE module() const { return module_; }
  ControlObject* control() { return &control_; }
  int32_t pluginId() const { return pluginId_; }

  // Host messages to the plug-in: the 30-byte record, or any record.
  Word Send(int32_t id, Word p1 = 0, Word p2 = 0);
  Word SendRecord(void* record);
  // 20001, 21001, 22000, 22100: what a host does after loading.
  void StartSequence();

  // Tables.
  void SetSetting(int column, int32_t number);
  void SetSettingText(int column, const std::string& text);
  int32_t Setting(int column);
  std::string SettingText(int column);
  // A contact row (1 and up); row 0 is the own entry, there from the start.
  int AddContact(const std::string& id, int32_t net = kNetLan);
  void SetContactText(int row, int column, const std::string& text);
  void SetContactInt(int row, int column, int32_t value);
  int32_t ContactInt(int row, int column);
  // Host message 246 answers by rewriting the record's status to this
  // (-1: leaves the record as the plug-in wrote it).
  void SetAnnounceRewrite(int32_t status);

  // Bus subscribers of this host: plug-in ids other than its own. A
  // subscriber answers 55003 with 1 for the commands it claims.
  void ClaimCommand(const std::string& command);

  // Observations: copies taken under the lock.
  std::vector<int32_t> Calls();
  int CountCalls(int32_t id);
  std::vector<std::string> Logs();
  bool LogContains(const std::string& part);
  std::vector<Shown> ShownMessages();
  std::vector<Box> Boxes();
  std::map<int32_t, int32_t> SendResults();
  std::vector<Announce> Announces();
  std::vector<ContactStatus> ContactStatuses();
  std::vector<Found> FoundContacts();
  std::vector<NoticeEvent> Notices();
  std::vector<ItemStatus> ItemStatuses();
  std::vector<BusNotice> BusNotices();
  std::vector<DWORD> PumpThreads();
  int SetErrorCount();
  int ThreadsStarted();
  // Forgets what was recorded so far (the tables stay).
  void ClearRecords();

  // The plug-in's log, for a failed check.
  void DumpLog();

  // Called by the control object's entry points.
  Word OnSendToHost(Message* message);
  Word OnSendToPlugin(int32_t receiver, Message* message);
  int32_t OnRowIndex(int32_t table, int32_t row);
  void OnPumpMessages();
  char* OnTempBuffer(int32_t size);
  void OnGetValue(int32_t table, int32_t row, int32_t column, Value* value);
  void OnSetValue(int32_t table, int32_t row, int32_t column, Value* value);
  HANDLE OnBeginThread(void* security, uint32_t stackSize, ThreadRoutine routine, void* argument,
                       uint32_t flags, uint32_t* threadId);
  void OnSetError(int32_t code);

  // A message posted to the thread that pumps with this id cancels the
  // search notice that is open (as a click on Cancel would).
  static constexpr UINT kCancelSearch = WM_APP + 15;

 private:
  struct Cell {
    int32_t number = 0;
    std::string text;
  };
  class Locked {
   public:
    explicit Locked(WineHost* host) : host_(host) { EnterCriticalSection(&host_->lock_); }
    ~Locked() { LeaveCriticalSection(&host_->lock_); }

   private:
    WineHost* host_;
  };
  Cell* CellAt(int32_t table, int32_t row, int32_t column);
  Word Answer(Message* message);
  BusNotice ReadBusRecord(int32_t receiver, Message* message);

  const int32_t pluginId_;
  ControlObject control_;
  HMODULE module_ = nullptr;
  MessageProc proc_ = nullptr;
  CRITICAL_SECTION lock_;
  std::map<int, Cell> settings_;
  std::vector<std::map<int, Cell>> contacts_;
  int32_t announceRewrite_ = -1;
  std::set<std::string> claimed_;
  std::deque<std::vector<char>> buffers_;
  std::vector<int32_t> calls_;
  std::vector<std::string> logs_;
  std::vector<Shown> shown_;
  std::vector<Box> boxes_;
  std::map<int32_t, int32_t> sendResults_;
  std::vector<Announce> announces_;
  std::vector<ContactStatus> contactStatuses_;
  std::vector<Found> found_;
  std::vector<NoticeEvent> notices_;
  std::vector<ItemStatus> itemStatuses_;
  std::vector<BusNotice> busNotices_;
  std::vector<DWORD> pumpThreads_;
  int setErrors_ = 0;
  int threadsStarted_ = 0;
  NoticeRecord* openNotice_ = nullptr;
  const char empty_[1] = {0};
};

}  // namespace wine
