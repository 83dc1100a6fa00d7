// The plug-in fixture with what the chat and bus tests share: starting the
// engine, asking the plug-in to send a message, and reading the notices,
// messages and log lines it gave the host.
#pragma once

#include <string>
#include <vector>

#include "chat_peer.h"
#include "host/text_codec.h"
#include "plugin_fixture.h"

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
  static constexpr int kWinPopupSetting = 15003;
  static constexpr int kListOnlySetting = 15001;
  static constexpr int kNoticeSetting = 186;

  // Own status 64: opens the slots and starts the worker.
  void StartEngine() { ASSERT_EQ(Call(33005, 64, 0), 1); }
  void StopEngine() { Call(33005, 0, 0); }

  // Host message 30100 for a message with host id `id`; the plug-in's answer.
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
    return Call(30100, reinterpret_cast<intptr_t>(&record));
  }

  // The sent flag of host message 108 for `id`, -1 when none came in time.
  int WaitSendResult(int id) {
    auto call = WaitFor(108, [id](const host::RecordedCall& c) { return c.Int("messageId") == id; });
    return call ? static_cast<int>(call->Int("sent")) : -1;
  }

  // Notices (host message 100 of type 2) and received messages (type 1).
  std::vector<host::RecordedCall> Messages(int type) {
    std::vector<host::RecordedCall> out;
    for (auto& c : host().calls().HostMessages(100)) {
      if (c.Int("type") == type) out.push_back(c);
    }
    return out;
  }
  std::vector<host::RecordedCall> Notices() { return Messages(2); }
  std::optional<host::RecordedCall> WaitNotice(const std::string& body,
                                               std::chrono::milliseconds deadline = 5000ms) {
    return WaitFor(
        100, [&](const host::RecordedCall& c) { return c.Int("type") == 2 && c.Text("body") == body; },
        deadline);
  }
  std::optional<host::RecordedCall> WaitReceived(const std::string& body) {
    return WaitFor(100, [&](const host::RecordedCall& c) {
      return c.Int("type") == 1 && c.Text("body") == body;
    });
  }
  // A log line (host message 1) that contains `part`.
  std::optional<host::RecordedCall> WaitLog(const std::string& part) {
    return WaitFor(1, [&](const host::RecordedCall& c) {
      return c.Text("text").find(part) != std::string::npos;
    });
  }
  size_t LogCount(const std::string& part) {
    return host().calls().CountIf([&](const host::RecordedCall& c) {
      return c.IsHostMessage() && c.id == 1 && c.Text("text").find(part) != std::string::npos;
    });
  }

  void SetContactStatus(int row, int status) {
    host().tables().SetInt(kTableContacts, row, 2, status);
  }
};

}  // namespace vask::test
