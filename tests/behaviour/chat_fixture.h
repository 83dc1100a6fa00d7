// The plug-in fixture with what the chat and bus tests share: starting the
// engine, asking the plug-in to send a message, and reading the notices,
// messages and log lines it gave the host.
#pragma once

#include <string>
#include <vector>

#include "host/text/text_codec.h"
#include "plugin_fixture.h"
#include "tests/support/lan_peer.h"

namespace vask::test {

// The plug-in's texts are Windows-1250 bytes.
inline std::string Cp(const std::string& utf8) { return host::Utf8ToCp1250(utf8).value_or("?"); }

inline const std::string& LateDeliveryNotice() {
  static const std::string text = Cp("Wiadomość jednak została dostarczona :)");
  return text;
}
inline std::string LostNotice(const std::string& start) {
  return Cp("Wiadomość \"") + start + Cp("\" prawdopodobnie nie została dostarczona.");
}
inline const std::string& SendErrorPrefix() {
  static const std::string text = Cp("Wystąpił błąd podczas dostarczania wiadomości! [");
  return text;
}

class ChatFixture : public PluginFixture {
 protected:
  // Available: opens the slots and starts the worker.
  void StartEngine() { ASSERT_EQ(Call(kMsgSetStatus, kStatusAvailable, 0), 1); }
  void StopEngine() { Call(kMsgSetStatus, kStatusOffline, 0); }

  // Asks the plug-in to send a message with host id `id`; its answer.
  intptr_t SendMessage(int id, const std::string& to, const std::string& text) {
    std::string from = computer_, toCopy = to, body = text, ext;
    MessageRecord record{};
    record.size = sizeof record;
    record.id = id;
    record.net = NET_LAN;
    record.type = 1;
    record.from = from.data();
    record.to = toCopy.data();
    record.body = body.data();
    record.ext = ext.data();
    return Call(kMsgSendMessage, reinterpret_cast<intptr_t>(&record));
  }

  // The sent flag of the send result for `id`, -1 when none came in time.
  int WaitSendResult(int id) {
    auto call = WaitFor(kMsgSendResult,
                        [id](const host::RecordedCall& c) { return c.Int("messageId") == id; });
    return call ? static_cast<int>(call->Int("sent")) : -1;
  }

  // Notices (messages shown of type 2) and received messages (type 1).
  std::vector<host::RecordedCall> Messages(int type) {
    std::vector<host::RecordedCall> out;
    for (auto& c : host().calls().HostMessages(kMsgShowMessage)) {
      if (c.Int("type") == type) out.push_back(c);
    }
    return out;
  }
  std::vector<host::RecordedCall> Notices() { return Messages(2); }
  std::optional<host::RecordedCall> WaitNotice(const std::string& body,
                                               std::chrono::milliseconds deadline = 5000ms) {
    return WaitFor(
        kMsgShowMessage,
        [&](const host::RecordedCall& c) { return c.Int("type") == 2 && c.Text("body") == body; },
        deadline);
  }
  std::optional<host::RecordedCall> WaitReceived(const std::string& body) {
    return WaitFor(kMsgShowMessage, [&](const host::RecordedCall& c) {
      return c.Int("type") == 1 && c.Text("body") == body;
    });
  }
  // A log line that contains `part`.
  std::optional<host::RecordedCall> WaitLog(const std::string& part) {
    return WaitFor(kMsgLog, [&](const host::RecordedCall& c) {
      return c.Text("text").find(part) != std::string::npos;
    });
  }
  size_t LogCount(const std::string& part) {
    return host().calls().CountIf([&](const host::RecordedCall& c) {
      return c.IsHostMessage() && c.id == kMsgLog && c.Text("text").find(part) != std::string::npos;
    });
  }

  // A fresh private copy of the bus listener (tests/listener), started like
  // any plug-in; its id, 0 when it could not be loaded.
  int LoadListener() {
    std::string error;
    const int id = host().Load(BuildDir() + "/libvask_test_listener.so", true, &error);
    EXPECT_NE(id, 0) << error;
    if (id != 0) {
      EXPECT_TRUE(host().Start(id));
    }
    return id;
  }

  void SetContactStatus(int row, int status) {
    host().tables().SetInt(kTableContacts, row, kColumnStatus, status);
  }
};

}  // namespace vask::test
