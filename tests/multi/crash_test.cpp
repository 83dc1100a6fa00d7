// A host killed before its messages were answered: the next start on the
// same profile tells its user which of them may not have arrived.
#include <signal.h>

#include <algorithm>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

class HostKilled : public MultiFixture {};

TEST_F(HostKilled, MessageSentJustBeforeAKillIsReportedAtTheNextStart) {
  const std::string profile = lanDir_ + "/A.db";
  {
    HostProcess& a = StartHost("A", profile);
    // By the LAN protocol, so that the message waits for its answer.
    size_t mark = a.Mark();
    a.Send("page " + std::to_string(kSettingWinPopup) + " 0");
    ASSERT_TRUE(a.WaitFor(IsEvent("setting"), mark).has_value());
    mark = a.Mark();
    a.Send("send NIKT wiadomość tuż przed awarią");
    ASSERT_TRUE(a.WaitFor(IsEvent("send-result"), mark).has_value());
    // Killed well within the ten seconds after which it would have said so.
    ASSERT_EQ(kill(a.pid(), SIGKILL), 0);
    EXPECT_NE(a.Stop(), "");
    hosts_.erase(std::find_if(hosts_.begin(), hosts_.end(),
                              [&](const auto& host) { return host.get() == &a; }));
  }

  HostProcess& again = StartHost("A", profile);
  auto notice = again.WaitFor([](const std::string& line) {
    const std::string body = JsonField(line, "body").value_or("");
    return JsonField(line, "event") == "message" && JsonField(line, "type") == "2" &&
           body.find("wiadomość tuż przed awar") != std::string::npos &&
           body.find("prawdopodobnie nie została dostarczona") != std::string::npos;
  });
  ASSERT_TRUE(notice.has_value()) << "no likely-lost notice after the restart";
  EXPECT_EQ(JsonField(*notice, "from"), "NIKT");
}

}  // namespace
}  // namespace vask::multi
