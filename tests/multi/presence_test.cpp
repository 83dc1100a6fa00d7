// Presence between two computers: two vask-host processes on one LAN, each
// a contact of the other.
#include <algorithm>
#include <chrono>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

// The contact list shows `computer` with this status (and description).
LinePredicate Shows(const std::string& computer, int status,
                    std::optional<std::string> text = std::nullopt) {
  return [=](const std::string& list) {
    auto entry = ContactEntry(list, computer);
    if (!entry) return false;
    if (JsonInt(*entry, "status") != status) return false;
    return !text || JsonField(*entry, "text") == *text;
  };
}

class PresenceBetweenHosts : public MultiFixture {
 protected:
  // A available "przy biurku", B not to be disturbed "zajęty", each a
  // contact of the other.
  void BothOnline() {
    a_ = &StartHost("A");
    b_ = &StartHost("B");
    a_->Send("add B");
    b_->Send("add A");
    a_->Send(StatusCommand(kStatusAvailable, "przy biurku"));
    b_->Send(StatusCommand(kStatusDnd, "zajęty"));
    auto onA = a_->WaitForContacts(Shows("B", kStatusDnd, "zajęty"));
    ASSERT_TRUE(onA);
    EXPECT_TRUE(Shows("B", kStatusDnd, "zajęty")(*onA)) << *onA;
    auto onB = b_->WaitForContacts(Shows("A", kStatusAvailable, "przy biurku"));
    ASSERT_TRUE(onB);
    EXPECT_TRUE(Shows("A", kStatusAvailable, "przy biurku")(*onB)) << *onB;
  }
  HostProcess* a_ = nullptr;
  HostProcess* b_ = nullptr;
};

TEST_F(PresenceBetweenHosts, EachSeesTheOtherOnlineWithStatusAndDescription) { BothOnline(); }

TEST_F(PresenceBetweenHosts, StatusChangeShowsOnTheOtherSide) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->Send(StatusCommand(kStatusBrb, "zaraz wracam"));
  auto onB = b_->WaitForContacts(Shows("A", kStatusBrb, "zaraz wracam"));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", kStatusBrb, "zaraz wracam")(*onB)) << *onB;
}

TEST_F(PresenceBetweenHosts, GoingOfflineShowsOfflineOnTheOtherSide) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->Send(StatusCommand(kStatusOffline));
  auto onB = b_->WaitForContacts(Shows("A", kStatusOffline));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", kStatusOffline)(*onB)) << *onB;
  auto onA = a_->WaitForContacts(
      [](const std::string& list) { return JsonInt(list, "ownStatus") == kStatusOffline; });
  ASSERT_TRUE(onA);
  EXPECT_EQ(JsonInt(*onA, "ownStatus"), kStatusOffline);
}

TEST_F(PresenceBetweenHosts, StoppedHostMarksItsContactsOffline) {
  BothOnline();
  if (HasFatalFailure()) return;
  const size_t mark = a_->Mark();
  a_->Send("msg " + std::to_string(kMsgShutdown));
  auto offline = a_->WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "contact-status" && JsonField(line, "address") == "B" &&
               JsonInt(line, "status") == kStatusOffline;
      },
      mark);
  EXPECT_TRUE(offline);
  auto onA = a_->WaitForContacts(Shows("B", kStatusOffline, ""));
  ASSERT_TRUE(onA);
  EXPECT_TRUE(Shows("B", kStatusOffline, "")(*onA)) << *onA;
}

// Leaving is announced: however a host ends (quit, the end of its input,
// SIGTERM), its peer sees the computer go offline.
TEST_F(PresenceBetweenHosts, AHostThatQuitsIsSeenOfflineByItsPeer) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->Stop();
  auto onB = b_->WaitForContacts(Shows("A", 0));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", 0)(*onB)) << *onB;
}

TEST_F(PresenceBetweenHosts, TheEndOfInputAndSigtermAreAnnouncedToo) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->CloseInput();
  auto onB = b_->WaitForContacts(Shows("A", 0));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", 0)(*onB)) << *onB;

  HostProcess& c = StartHost("C");
  c.Send("add B");
  c.Send("status 64");
  b_->Send("add C");
  ASSERT_TRUE(b_->WaitForContacts(Shows("C", 64)));
  const size_t mark = c.Mark();
  kill(c.pid(), SIGTERM);
  EXPECT_TRUE(c.WaitFor(IsEvent("quit"), mark, 20s)) << "SIGTERM ends the host through quit";
  onB = b_->WaitForContacts(Shows("C", 0));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("C", 0)(*onB)) << *onB;
}

// A host killed outright announces nothing. The next message to it fails,
// its peer asks whether it is still there, and with no answer shows it
// offline, well within 30 s of the failed send.
TEST_F(PresenceBetweenHosts, AKilledHostIsShownOfflineAfterAFailedSend) {
  BothOnline();
  if (HasFatalFailure()) return;
  ASSERT_EQ(kill(b_->pid(), SIGKILL), 0);
  EXPECT_NE(b_->Stop(), "") << "B ended by itself";
  hosts_.erase(std::find_if(hosts_.begin(), hosts_.end(),
                            [this](const auto& host) { return host.get() == b_; }));
  b_ = nullptr;

  const size_t mark = a_->Mark();
  a_->Send("send B halo");
  auto failed = a_->WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "send-result" && JsonInt(line, "sent") == 0;
      },
      mark);
  ASSERT_TRUE(failed) << "the send to the killed host did not fail";
  const auto failedAt = std::chrono::steady_clock::now();
  auto offline = a_->WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "contact-status" && JsonField(line, "address") == "B" &&
               JsonInt(line, "status") == kStatusOffline;
      },
      mark, 30s);
  ASSERT_TRUE(offline) << "B still shown present 30 s after the failed send";
  EXPECT_LT(std::chrono::steady_clock::now() - failedAt, 30s);
  auto onA = a_->WaitForContacts(Shows("B", kStatusOffline, ""));
  ASSERT_TRUE(onA);
  EXPECT_TRUE(Shows("B", kStatusOffline, "")(*onA)) << *onA;
}

}  // namespace
}  // namespace vask::multi
