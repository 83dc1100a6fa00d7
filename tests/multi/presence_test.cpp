// Presence between two computers: two vask-host processes on one LAN, each
// a contact of the other.
#include "multi_fixture.h"

namespace vask::multi {
namespace {

// The contact list shows `computer` with this status (and description).
LinePredicate Shows(const std::string& computer, int status,
                    std::optional<std::string> text = std::nullopt) {
  return [=](const std::string& list) {
    auto entry = ContactEntry(list, computer);
    if (!entry) return false;
    if (JsonField(*entry, "status") != std::to_string(status)) return false;
    return !text || JsonField(*entry, "text") == *text;
  };
}

class PresenceBetweenHosts : public MultiFixture {
 protected:
  // A at 64 "przy biurku", B at 34 "zajęty", each a contact of the other.
  void BothOnline() {
    a_ = &StartHost("A");
    b_ = &StartHost("B");
    a_->Send("add B");
    b_->Send("add A");
    a_->Send("status 64 przy biurku");
    b_->Send("status 34 zajęty");
    auto onA = a_->WaitForContacts(Shows("B", 34, "zajęty"));
    ASSERT_TRUE(onA);
    EXPECT_TRUE(Shows("B", 34, "zajęty")(*onA)) << *onA;
    auto onB = b_->WaitForContacts(Shows("A", 64, "przy biurku"));
    ASSERT_TRUE(onB);
    EXPECT_TRUE(Shows("A", 64, "przy biurku")(*onB)) << *onB;
  }
  HostProcess* a_ = nullptr;
  HostProcess* b_ = nullptr;
};

TEST_F(PresenceBetweenHosts, EachSeesTheOtherOnlineWithStatusAndDescription) {
  BothOnline();
}

TEST_F(PresenceBetweenHosts, StatusChangeShowsOnTheOtherSide) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->Send("status 65 zaraz wracam");
  auto onB = b_->WaitForContacts(Shows("A", 65, "zaraz wracam"));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", 65, "zaraz wracam")(*onB)) << *onB;
}

TEST_F(PresenceBetweenHosts, GoingOfflineShowsOfflineOnTheOtherSide) {
  BothOnline();
  if (HasFatalFailure()) return;
  a_->Send("status 0");
  auto onB = b_->WaitForContacts(Shows("A", 0));
  ASSERT_TRUE(onB);
  EXPECT_TRUE(Shows("A", 0)(*onB)) << *onB;
  auto onA = a_->WaitForContacts([](const std::string& list) {
    return JsonField(list, "ownStatus") == "0";
  });
  ASSERT_TRUE(onA);
  EXPECT_EQ(JsonField(*onA, "ownStatus"), "0");
}

TEST_F(PresenceBetweenHosts, StoppedHostMarksItsContactsOffline) {
  BothOnline();
  if (HasFatalFailure()) return;
  const size_t mark = a_->Mark();
  a_->Send("msg 22101");
  auto offline = a_->WaitFor([](const std::string& line) {
    return JsonField(line, "event") == "contact-status" && JsonField(line, "address") == "B" &&
           JsonField(line, "status") == "0";
  }, mark);
  EXPECT_TRUE(offline);
  auto onA = a_->WaitForContacts(Shows("B", 0, ""));
  ASSERT_TRUE(onA);
  EXPECT_TRUE(Shows("B", 0, "")(*onA)) << *onA;
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

}  // namespace
}  // namespace vask::multi
