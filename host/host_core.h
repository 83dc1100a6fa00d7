// The stand-in host: the control object, the settings and contact tables,
// the answers to every host message, and the plug-ins it has loaded.
//
// One HostCore serves any number of plug-ins; each loaded plug-in gets an id
// and its own HostControl object, so PluginId answers the caller's id. Every
// service and host message is recorded (calls()) before its answer returns,
// and a test may replace the answer to a host message (SetAnswer). All
// members may be called from any thread; the core never holds its lock while
// it calls into a plug-in.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/call_log.h"
#include "host/host_tables.h"
#include "abi/host_control.h"

namespace vask::host {

// The plug-in's export.
using MessageProc = intptr_t (*)(HostMessage*);

struct HostOptions {
  std::string database = ":memory:";  // or a profile file
  std::string computer;  // the own entry's address (contact row 0, column 0)
  bool verbose = false;  // print log lines (host message 1) to stderr
};

// What the plug-in answered to the identity questions of the start.
struct PluginIdentity {
  intptr_t net = 0;  // 30010
  intptr_t capabilities = 0;  // 30011
  std::string shortName;  // 30013
  std::string displayName;  // 30016
  std::string netName;  // 30017
  std::string netName2;  // 30025
  std::string kind;  // 30026
};

// An item the plug-in declared (10101) and its later status and text.
struct InterfaceItem {
  int id = 0;
  int parent = 0;
  int contact = -2;
  int position = 0;
  int style = 0;  // the status word given when adding
  int status = 0;  // the status word after 10108
  std::string text;
  int param = 0;
  int width = 0;
  int height = 0;
  int size = 0;  // 74 or 78
};

struct RegisteredIcon {
  int iconId = 0;
  int kind = 0;
  HMODULE module = nullptr;
  int resourceId = 0;
};

struct ColumnDefinition {
  int table = 0;
  int column = 0;
  int type = kColumnInt;
  intptr_t defaultInt = 0;
  std::string defaultText;
  std::string name;
};

struct MessageBox {
  bool error = false;  // 10201; else 10204
  std::string text;
  std::string title;
};

// A notice with a Cancel button (10209 .. 10210).
struct Notice {
  SearchStatusRecord* record = nullptr;  // the plug-in's, valid while open
  std::string title;
  std::string text;
  int style = 0;
  DWORD thread = 0;
};


// The own status as the plug-in last set it with 246.
struct OwnStatus {
  int status = 0;
  std::string text;
  int changes = 0;  // number of 246 messages
};

// Replaces the standard answer to a host message: it may rewrite the
// record (for instance p2 of 246) and return nullopt to let the standard
// handling go on with it, or return the answer itself.
using AnswerHook = std::function<std::optional<intptr_t>(HostMessage* message)>;

// A fixed parent id the host gives the items of a contact window (10118).
inline constexpr int kContactWindowParent = 0x7100;
inline constexpr int kDetailsWindowItem = 70;

class PluginControl;

class HostCore {
 public:
  explicit HostCore(HostOptions options = {});
  ~HostCore();  // stops and unloads every plug-in still loaded
  HostCore(const HostCore&) = delete;
  HostCore& operator=(const HostCore&) = delete;

  // False when the profile could not be opened or is not ours; error() says why.
  bool ok() const { return tables_.ok(); }
  const std::string& error() const { return tables_.error(); }

  // --- plug-ins ---
  // Loads a library exporting IMessageProc. freshCopy loads a private copy
  // of the file (deleted at unload), so its static state is its own.
  // Returns the plug-in's id (> 0), or 0 with *error set.
  int Load(const std::string& path, bool freshCopy, std::string* error = nullptr);
  // 20001 with the plug-in's control object, the identity questions
  // 30010..30026, 21001, 22000, 22100. False when it is not loaded.
  bool Start(int plugin);
  // 22101 (once), then waits (at most 10 s) until every thread BeginThread
  // started for it has left the plug-in's code, then unloads. A plug-in
  // whose threads do not end stays mapped rather than crash them.
  void Unload(int plugin);
  void UnloadAll();
  std::vector<int> Plugins() const;
  std::optional<PluginIdentity> Identity(int plugin) const;
  HostControl* Control(int plugin);
  // Calls the plug-in's IMessageProc; 0 when there is no such plug-in.
  intptr_t Call(int plugin, HostMessage* message);
  // The record with as many parameters as `params` says (0..4).
  intptr_t Call(int plugin, int id, intptr_t p1 = 0, intptr_t p2 = 0, intptr_t p3 = 0,
                intptr_t p4 = 0, int params = 2);

  // --- tables ---
  HostTables& tables() { return tables_; }
  // A LAN contact (or another network's): the existing row when the address
  // is already a contact of that network, else a new row.
  int AddContact(std::string_view address, int net = NET_LAN);
  bool RemoveContact(int contact);
  // Case-insensitive compare of the address; -1 when none.
  int FindContact(int net, std::string_view address);
  void SetSetting(int column, int64_t value);
  void SetSettingText(int column, std::string_view value);
  int64_t GetSetting(int column);
  std::string GetSettingText(int column);

  void SetIgnored(std::string_view address, bool ignored);
  bool IsIgnored(std::string_view address);

  // --- what the plug-in told the host ---
  OwnStatus ownStatus() const;
  std::vector<InterfaceItem> items() const;
  std::optional<InterfaceItem> Item(int id, int parent) const;
  std::vector<RegisteredIcon> icons() const;
  std::vector<ColumnDefinition> definedColumns() const;
  std::vector<MessageBox> messageBoxes() const;
  std::vector<HistoryEntry> History(int contact = -2);  // -2: all
  std::vector<FoundContact> foundContacts() const;
  void ClearFoundContacts();
  // 108: host message id -> sent flag, for the last kSendResultsKept
  // messages that got one (a long session must not grow per message).
  static constexpr size_t kSendResultsKept = 4096;
  std::optional<int> SendResult(int messageId) const;
  std::vector<int> errorCodes() const;  // SetError
  size_t pumpCount() const;
  // The next `count` BeginThread calls fail (return null), as when the
  // system cannot start a thread.
  void FailThreads(int count);

  // --- notices and the details window ---
  std::vector<Notice> openNotices() const;
  // Presses Cancel on every open notice (writes cancelled = 1); the count.
  int PressCancel();
  // A contact's details window: 10117 answers non-zero while it is open;
  // its items 0x13000000 + column take text through 10106 and 10110.
  void OpenDetails(int contact);
  void CloseDetails(int contact);
  bool DetailsOpen(int contact) const;
  std::string DetailsText(int contact, int column) const;
  void SetDetailsText(int contact, int column, std::string_view text);

  // --- recording and hooks ---
  CallLog& calls() { return calls_; }
  void SetAnswer(int id, AnswerHook hook);
  void ClearAnswer(int id);
  // Host events that are not calls (contact status, message received,
  // notices, message boxes) for the front end; called on the plug-in's
  // thread, never under the core's lock.
  using EventSink = std::function<void(const std::string& event, const RecordedCall& call)>;
  void SetEventSink(EventSink sink);

  // Called on the pumping thread after each PumpMessages has drained that
  // thread's input, never under the core's lock: the front end runs the
  // commands that arrived meanwhile (a real host's window procedures).
  void SetPumpHandler(std::function<void()> handler);

  // A copy of `text` that stays valid until this thread asks for 16 more.
  const char* KeepText(std::string_view text);

  // --- the services, as PluginControl forwards them ---
  intptr_t ServeSendToHost(int plugin, HostMessage* message);
  intptr_t ServeSendToPlugin(int plugin, int receiver, HostMessage* message);
  void ServeGetValue(int plugin, int table, int row, int column, ValueRecord* value);
  void ServeSetValue(int plugin, int table, int row, int column, ValueRecord* value);
  HANDLE ServeBeginThread(int plugin, void* security, unsigned stackSize, HostThreadRoutine routine,
                          void* argument, unsigned flags, unsigned* threadId);
  char* ServeTempBuffer(int plugin, int size);
  void ServePumpMessages(int plugin);
  int ServeRowIndex(int plugin, int table, int row);
  void ServeSetError(int plugin, int code);
  HMODULE ServeModuleHandle(int plugin);
  // A thread BeginThread started for the plug-in has left its routine.
  void ThreadEnded(int plugin);
  // Drops the calling thread's temporary buffers and kept texts: called by
  // a plug-in thread that has left the plug-in's routine, so that every
  // thread a plug-in starts (one per message sent) leaves nothing behind.
  void ReleaseThreadBuffers();
  // Threads that hold temporary buffers or kept texts now.
  size_t threadBufferCount() const;
  void RecordService(int plugin, const char* service, intptr_t a1 = 0, intptr_t a2 = 0,
                     intptr_t a3 = 0, intptr_t a4 = 0, intptr_t answer = 0);

 private:
  struct Loaded;
  struct ThreadBuffers;

  intptr_t StandardAnswer(int plugin, HostMessage* message, RecordedCall& call);
  void Emit(const std::string& event, const RecordedCall& call);
  Loaded* Find(int plugin);
  ThreadBuffers& Buffers();

  HostOptions options_;
  HostTables tables_;
  CallLog calls_;

  mutable std::mutex mutex_;  // everything below
  std::condition_variable threadsChanged_;
  std::map<int, std::unique_ptr<Loaded>> plugins_;
  int nextPlugin_ = 1;
  std::map<int, AnswerHook> hooks_;
  EventSink sink_;
  std::function<void()> pumpHandler_;
  OwnStatus own_;
  std::vector<InterfaceItem> items_;
  std::vector<RegisteredIcon> icons_;
  std::vector<ColumnDefinition> columns_;
  std::vector<MessageBox> boxes_;
  std::vector<FoundContact> found_;
  std::map<int, int> sendResults_;
  std::deque<int> sendOrder_;  // the ids of sendResults_, oldest first
  std::vector<int> errors_;
  size_t pumps_ = 0;
  int failThreads_ = 0;
  std::vector<Notice> notices_;
  std::map<int, std::map<int, std::string>> details_;  // open windows: contact -> column texts
  std::map<DWORD, std::unique_ptr<ThreadBuffers>> buffers_;
};

}  // namespace vask::host
