// The stand-in host: the control object, the settings and contact tables,
// the answers to every host message, and the plug-ins it has loaded.
//
// One HostCore serves any number of plug-ins; each loaded plug-in gets an id
// and its own HostControl object, so PluginId answers the caller's id. Every
// service and host message is recorded (calls()) before its answer returns,
// and a test may replace the answer to a host message (SetAnswer). All
// members may be called from any thread; the core never holds a lock while
// it calls into a plug-in.
//
// The core owns its parts, each with its own lock: the tables, the call log,
// the per-thread buffers, what the plug-in declared and reported, the open
// notices and details windows. Its own lock guards the loaded plug-ins, the
// hooks and the service counters.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/host_control.h"
#include "host/core/call_log.h"
#include "host/core/control_adapter.h"
#include "host/core/details_windows.h"
#include "host/core/notices.h"
#include "host/core/plugin_declarations.h"
#include "host/core/plugin_loader.h"
#include "host/core/plugin_reports.h"
#include "host/core/temp_buffers.h"
#include "host/profile/host_tables.h"
#include "mutex.h"

namespace vask::host {

struct HostOptions {
  std::string database = ":memory:";  // or a profile file
  std::string computer;               // the own entry's address (contact row 0, kColumnId)
  bool verbose = false;               // print log lines (kMsgLog) to stderr
};

// What the plug-in answered to the identity questions of the start.
struct PluginIdentity {
  intptr_t net = 0;           // kMsgNetworkId
  intptr_t capabilities = 0;  // kMsgNetworkFlags
  std::string shortName;      // kMsgShortName
  std::string displayName;    // kMsgDisplayName
  std::string netName;        // kMsgNetworkName
  std::string netName2;       // kMsgNetworkNameAgain
  std::string kind;           // kMsgHostWord
};

// Replaces the standard answer to a host message: it may rewrite the
// record (for instance p2 of kMsgAnnounceStatus) and return nullopt to let
// the standard handling go on with it, or return the answer itself.
using AnswerHook = std::function<std::optional<intptr_t>(HostMessage* message)>;

// The parent id the host gives the items of a contact window
// (kMsgItemParent): the host's own choice.
inline constexpr int kContactWindowParent = 0x7100;

struct AnswerContext;

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
  // kMsgSetControl with the plug-in's control object, the identity
  // questions kMsgNetworkId..kMsgHostWord, kMsgRegisterSettings,
  // kMsgRegisterInterface, kMsgStart. False when it is not loaded.
  bool Start(int plugin);
  // kMsgShutdown (once), then waits (at most 10 s) until every thread
  // BeginThread started for it has left the plug-in's code, then unloads. A
  // plug-in whose threads do not end stays mapped rather than crash them.
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
  // is already a contact of that network, else a new row; -1 when the
  // profile could not keep it (nothing half-made stays).
  int AddContact(std::string_view address, int net = NET_LAN);
  bool RemoveContact(int contact);
  // Case-insensitive compare of the address; -1 when none.
  int FindContact(int net, std::string_view address);
  // False when the profile could not keep it (the tables' listener is told).
  bool SetSetting(int column, int64_t value);
  bool SetSettingText(int column, std::string_view value);
  int64_t GetSetting(int column);
  std::string GetSettingText(int column);

  bool SetIgnored(std::string_view address, bool ignored);
  bool IsIgnored(std::string_view address);
  std::vector<std::string> IgnoredAddresses() { return tables_.IgnoredAddresses(); }

  // --- what the plug-in told the host ---
  OwnStatus ownStatus() const { return reports_.ownStatus(); }
  // A status the host learnt by asking (auto-away changes it without telling).
  OwnStatus NoteOwnStatus(int status) { return reports_.AnnounceStatus(status, nullptr); }
  std::vector<InterfaceItem> items() const { return declared_.items(); }
  std::optional<InterfaceItem> Item(int id, int parent) const { return declared_.Item(id, parent); }
  std::vector<RegisteredIcon> icons() const { return declared_.icons(); }
  std::vector<ColumnDefinition> definedColumns() const { return declared_.columns(); }
  std::vector<MessageBox> messageBoxes() const { return reports_.messageBoxes(); }
  // -2: all contacts.
  std::vector<HistoryEntry> History(int contact = -2) { return tables_.History(contact); }
  std::vector<FoundContact> foundContacts() const { return reports_.found(); }
  void ClearFoundContacts() { reports_.ClearFound(); }
  // kMsgSendResult: host message id -> sent flag, for the last
  // kSendResultsKept messages that got one.
  static constexpr size_t kSendResultsKept = PluginReports::kSendResultsKept;
  std::optional<int> SendResult(int messageId) const { return reports_.SendResult(messageId); }
  std::vector<int> errorCodes() const { return reports_.errors(); }  // SetError
  size_t pumpCount() const;
  // The next `count` BeginThread calls fail (return null), as when the
  // system cannot start a thread.
  void FailThreads(int count);

  // --- notices and the details window ---
  std::vector<Notice> openNotices() const { return notices_.open(); }
  // Presses Cancel on every open notice (writes cancelled = 1); the count.
  int PressCancel() { return notices_.PressCancel(); }
  // A contact's details window: kMsgItemExists answers non-zero while it is
  // open; its items kContactWindowItemBase + column take text through
  // kMsgReadItemText and kMsgSetItemText.
  void OpenDetails(int contact) { details_.Open(contact); }
  void CloseDetails(int contact) { details_.Close(contact); }
  bool DetailsOpen(int contact) const { return details_.IsOpen(contact); }
  std::string DetailsText(int contact, int column) const { return details_.Text(contact, column); }
  void SetDetailsText(int contact, int column, std::string_view text) {
    details_.SetText(contact, column, text);
  }

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
  const char* KeepText(std::string_view text) { return buffers_.Keep(text); }

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
  void ReleaseThreadBuffers() { buffers_.Release(); }
  // Threads that hold temporary buffers or kept texts now.
  size_t threadBufferCount() const { return buffers_.threadCount(); }
  void RecordService(int plugin, const char* service, intptr_t a1 = 0, intptr_t a2 = 0,
                     intptr_t a3 = 0, intptr_t a4 = 0, intptr_t answer = 0);

 private:
  // Reached only through plugins_, so read and written under mutex_ (the
  // analysis cannot name the enclosing object's lock here).
  struct Loaded {
    int id = 0;
    PluginLibrary library;
    std::unique_ptr<PluginControl> control;
    PluginIdentity identity;
    bool started = false;
    bool stopped = false;
    int threads = 0;  // started by BeginThread and still inside the plug-in's routine
  };

  AnswerContext AnswerParts();
  void Emit(const std::string& event, const RecordedCall& call);
  Loaded* Find(int plugin) REQUIRES(mutex_);

  const HostOptions options_;  // set at construction, read by any thread
  HostTables tables_;
  CallLog calls_;
  ThreadBuffers buffers_;
  PluginDeclarations declared_;
  PluginReports reports_;
  Notices notices_;
  DetailsWindows details_;

  mutable vask::Mutex mutex_;
  vask::CondVar threadsChanged_;  // a plug-in's thread count went down
  std::map<int, std::unique_ptr<Loaded>> plugins_ GUARDED_BY(mutex_);
  int nextPlugin_ GUARDED_BY(mutex_) = 1;
  std::map<int, AnswerHook> hooks_ GUARDED_BY(mutex_);
  EventSink sink_ GUARDED_BY(mutex_);
  std::function<void()> pumpHandler_ GUARDED_BY(mutex_);
  size_t pumps_ GUARDED_BY(mutex_) = 0;
  int failThreads_ GUARDED_BY(mutex_) = 0;
};

}  // namespace vask::host
