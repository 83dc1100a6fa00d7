// A control object (HostControl) for tests, benchmarks and fuzz targets to
// derive from, overriding only the services they care about. By default
// every service does nothing and answers 0, except what a plug-in cannot
// run without:
//  - settings and contact values kept in memory, read back as written
//    (0 and "" when never written);
//  - the contact questions (kMsgFindContact, kMsgContactCount) and
//    RowIndex answered from those values, as a host would;
//  - buffers from TempBuffer that live until ResetValues() or the fake goes.
// No service starts a thread. One lock guards the values and buffers, so the
// plug-in's threads may call in at once. The object the plug-in gets is
// control(): its table calls these virtual members, as a host's would.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "abi/host_control.h"

namespace vask::test {

class FakeControl {
 public:
  FakeControl();
  virtual ~FakeControl() = default;
  FakeControl(const FakeControl&) = delete;
  FakeControl& operator=(const FakeControl&) = delete;

  // The control object to hand the plug-in (host message 20001, SetHost).
  HostControl* control() { return &front_.control; }

  // ---- What a test sets up and reads back ----------------------------------

  // Forgets every value and buffer; contact row 0, the own entry, gets the
  // address `own`.
  void ResetValues(const std::string& own = "A");
  // A new contact row with this address and network; its row number.
  int AddContact(const std::string& address, int net = NET_LAN);
  // kTableSettings (row 0) or kTableContacts; a contact row written here
  // exists from then on, with every row before it.
  void SetInt(int table, int row, int column, int64_t value);
  void SetText(int table, int row, int column, const std::string& text);
  int64_t Int(int table, int row, int column);
  std::string Text(int table, int row, int column);
  // The contact rows, the own entry included.
  int ContactRows();
  // The row of the contact with this address on this network; -1 when there
  // is none (the own entry is no contact).
  int FindContact(int64_t net, const std::string& address);

  int pluginId = 7;
  HMODULE module = nullptr;

  // ---- The services -----------------------------------------------------------

  virtual int PluginId() { return pluginId; }
  virtual HMODULE ModuleHandle() { return module; }
  virtual void SetError(int) {}
  // ContactAnswer(), else 0.
  virtual intptr_t SendToHost(HostMessage* message);
  virtual intptr_t SendToPlugin(int, HostMessage*) { return 0; }
  // The row itself for a contact row that exists, 0 for the own entry and
  // any other, as the host answers.
  virtual int RowIndex(int table, int row);
  virtual void PumpMessages() {}
  // size + 1 bytes of 0x7F, so that a text left unterminated shows.
  virtual char* TempBuffer(int size);
  // A text is copied into the caller's buffer when it gives one (cut to
  // fit, NUL-terminated), else handed over as the fake's own copy.
  virtual void GetValue(int table, int row, int column, ValueRecord* value);
  virtual void SetValue(int table, int row, int column, ValueRecord* value);
  virtual HANDLE BeginThread(void*, unsigned, HostThreadRoutine, void*, unsigned, unsigned*) {
    return nullptr;
  }

 protected:
  // What a host answers to kMsgFindContact (the row, or -1) and
  // kMsgContactCount (the rows); nullopt for every other message.
  std::optional<intptr_t> ContactAnswer(const HostMessage& message);

 private:
  // What the plug-in holds: the table pointer first, then the way back.
  struct Front {
    HostControl control;
    FakeControl* self;
  };
  Front front_;

  struct Row {
    std::map<int, int64_t> ints;
    std::map<int, std::string> texts;
  };
  // Null for a table or row that does not exist; `create` makes a contact
  // row (and those before it).
  Row* Find(int table, int row, bool create);

  std::mutex mutex_;
  Row settings_;
  std::deque<Row> contacts_ = std::deque<Row>(1);  // deque: texts handed over stay put
  std::unordered_map<std::string, std::vector<int>> rowsByAddress_;
  std::deque<std::vector<char>> buffers_;
  const std::string empty_;
};

}  // namespace vask::test
