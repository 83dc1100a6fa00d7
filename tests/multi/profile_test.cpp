// A profile that lasts: quitting and starting again brings back the
// contacts, the message history and the last status (the plug-in restores
// the number only; its description column is declared but never read).
#include "multi_fixture.h"

namespace vask::multi {
namespace {

class ProfileAcrossRestarts : public MultiFixture {};

TEST_F(ProfileAcrossRestarts, ContactsHistoryAndLastStatusComeBack) {
  const std::string profile = lanDir_ + "/A.db";
  {
    HostProcess& a = StartHost("A", profile);
    HostProcess& b = StartHost("B");
    a.Send("add B");
    b.Send("add A");
    a.Send(StatusCommand(kStatusBrb, "na obiedzie"));
    ASSERT_TRUE(a.WaitForContacts([](const std::string& list) {
      auto entry = ContactEntry(list, "B");
      return entry && JsonInt(*entry, "status") != kStatusOffline;
    }));
    b.Send("send A dzień dobry");
    ASSERT_TRUE(a.WaitFor(IsEvent("message")));
    a.Stop();
  }

  HostProcess& again = StartHost("A", profile);
  auto list = again.WaitForContacts([](const std::string& list) {
    return ContactEntry(list, "B").has_value() && JsonInt(list, "ownStatus") == kStatusBrb;
  });
  ASSERT_TRUE(list) << "no contact list after the restart";
  EXPECT_TRUE(ContactEntry(*list, "B").has_value()) << *list;
  EXPECT_EQ(JsonInt(*list, "ownStatus"), std::optional<int64_t>(kStatusBrb)) << *list;

  const size_t mark = again.Mark();
  again.Send("history");
  auto history = again.WaitFor(
      [](const std::string& line) { return line.find("dzień dobry") != std::string::npos; }, mark);
  EXPECT_TRUE(history) << "the message from B is not in the restored history";
}

}  // namespace
}  // namespace vask::multi
