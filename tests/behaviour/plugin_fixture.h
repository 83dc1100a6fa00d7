// A GoogleTest fixture that runs the real plug-in inside the stand-in host
// core, one fresh private copy of libvask.so per test.
//
// SetUp: a fresh LAN directory (VASK_LAN_DIR), COMPUTERNAME (computer_,
// "A" unless a derived fixture's constructor changes it), a host core on an
// in-memory database, the plug-in loaded and BeforeStart() called, then the
// start sequence (the control object, identity, settings, interface,
// start). TearDown: the worker gate opened, the shutdown, unload, the LAN
// directory removed and the environment put back. Every wait is bounded by
// a deadline.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "abi/host_ids.h"
#include "host/core/host_core.h"
#include "tests/support/gate.h"
#include "tests/support/lan_peer.h"
#include "tests/support/temp_lan.h"

namespace vask::test {

using namespace std::chrono_literals;
using namespace std::string_literals;

class PluginFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs after the plug-in is loaded and before the start sequence:
  // override to set settings (e.g. SetSetting(kSettingRestoreStatus, 1)) or
  // hooks.
  virtual void BeforeStart() {}

  // Another library to load instead of libvask.so (full path), or "".
  virtual std::string PluginPath() const { return BuildDir() + "/libvask.so"; }

  // Calls IMessageProc with a record of as many parameters as given (the
  // 30-byte record for two or fewer, 34 with p3, 38 with p4).
  intptr_t Call(int id, intptr_t p1 = 0, intptr_t p2 = 0);
  // A restart of the host program on the same profile: the plug-in is
  // unloaded and a fresh copy loaded and started in its place.
  void ReloadPlugin();
  // The start sequence, when startPlugin_ was false.
  void StartPlugin() { started_ = host_->Start(plugin_); }
  intptr_t Call3(int id, intptr_t p1, intptr_t p2, intptr_t p3);
  intptr_t Call4(int id, intptr_t p1, intptr_t p2, intptr_t p3, intptr_t p4);
  intptr_t CallRecord(HostMessage* message);
  // A line the user typed in a chat, as the host offers it to the plug-in
  // (a chat message of `type` with `flags`); the plug-in's answer.
  intptr_t ChatCommand(const std::string& body, int type = 1, int flags = 2);
  // Makes the own status available and waits until `peer` has seen the
  // opening broadcasts: the worker polls from then on.
  void RunEngine(LanPeer& peer);
  // A host-owned NUL-terminated copy, as texts the host passes live.
  intptr_t Text(const std::string& text) {
    return reinterpret_cast<intptr_t>(host().KeepText(text));
  }

  // A contact row with its address, network and status 0. Not reported to
  // the plug-in (use ReportContact).
  int AddContact(const std::string& name, int net = NET_LAN);
  intptr_t ReportContact(int contact) { return Call(kMsgContactReported, contact); }

  void SetSetting(int column, int64_t value) { host().SetSetting(column, value); }
  void SetSettingText(int column, const std::string& value) {
    host().SetSettingText(column, value);
  }
  int64_t GetSetting(int column) { return host().GetSetting(column); }
  std::string GetSettingText(int column) { return host().GetSettingText(column); }
  int64_t ContactInt(int contact, int column) {
    return host().tables().GetInt(kTableContacts, contact, column);
  }
  std::string ContactText(int contact, int column) {
    return host().tables().GetText(kTableContacts, contact, column);
  }

  // Recorded host messages (SendToHost) with this id.
  size_t Count(int id) { return host().calls().Count(id); }
  std::optional<host::RecordedCall> Last(int id) { return host().calls().Last(id); }
  std::optional<host::RecordedCall> WaitFor(int id, const host::CallPredicate& predicate = nullptr,
                                            std::chrono::milliseconds deadline = 5000ms) {
    return host().calls().WaitForHost(id, deadline, predicate);
  }
  // Waits until Count(id) reaches n; false at the deadline.
  bool WaitForCount(int id, size_t n, std::chrono::milliseconds deadline = 5000ms);
  void SetAnswer(int id, host::AnswerHook hook) { host().SetAnswer(id, std::move(hook)); }
  // Holds the first thread that sends host message `id` inside that call
  // (the worker, say, so that what comes meanwhile waits) until the gate it
  // returns is opened; TearDown opens it before the plug-in stops.
  Gate& HoldFirstCall(int id);

  host::HostCore& host() { return *host_; }
  int plugin() const { return plugin_; }
  HostControl* control() { return host_->Control(plugin_); }
  const std::string& lanDir() const { return lan_->dir(); }

  // Set in a derived fixture's constructor to change the start.
  std::string computer_ = "A";
  std::string workgroup_ = "WORKGROUP";
  bool startPlugin_ = true;  // false: SetUp stops after BeforeStart()

 private:
  std::unique_ptr<host::HostCore> host_;
  int plugin_ = 0;
  bool started_ = false;
  std::unique_ptr<TempLan> lan_;
  // Outlives the host core: a hook holding a thread may still run during
  // TearDown's stop.
  Gate gate_;
};

}  // namespace vask::test
