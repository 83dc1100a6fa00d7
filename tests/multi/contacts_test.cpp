// Contacts as the user names them: a computer name in any case is that
// computer, stored as Windows keeps it; a name no computer can have is
// refused with a Polish text, and nothing is added for it.
#include "multi_fixture.h"

namespace vask::multi {
namespace {

class ContactNames : public MultiFixture {
 protected:
  // "add <name>", and the event that answers it: "contact-added" or "error".
  std::optional<std::string> Add(HostProcess& host, const std::string& name) {
    const size_t mark = host.Mark();
    host.Send("add " + name);
    return host.WaitFor(
        [](const std::string& line) {
          auto event = JsonField(line, "event");
          return event == "contact-added" ||
                 (event == "error" && JsonField(line, "command") == "add");
        },
        mark);
  }
  // The number of contacts in the host's list.
  size_t ContactCount(HostProcess& host) {
    auto list = host.WaitForContacts([](const std::string&) { return true; });
    if (!list) return 0;
    size_t n = 0;
    for (size_t at = list->find("\"contact\":"); at != std::string::npos;
         at = list->find("\"contact\":", at + 1)) {
      ++n;
    }
    return n;
  }
};

TEST_F(ContactNames, AddingANameInAnyCaseMeansTheComputerAndAKnownOneIsNotAddedAgain) {
  HostProcess& a = StartHost("A");
  auto first = Add(a, "BOB");
  ASSERT_TRUE(first);
  EXPECT_EQ(JsonField(*first, "event"), "contact-added") << *first;
  EXPECT_EQ(JsonField(*first, "existing"), "false") << *first;

  auto again = Add(a, "bob");
  ASSERT_TRUE(again);
  EXPECT_EQ(JsonField(*again, "event"), "contact-added") << *again;
  EXPECT_EQ(JsonField(*again, "contact"), JsonField(*first, "contact")) << *again;
  EXPECT_EQ(JsonField(*again, "computer"), "BOB") << "the stored name is shown: " << *again;
  EXPECT_EQ(JsonField(*again, "existing"), "true") << *again;

  // A new name is stored in capitals, Polish letters too.
  auto turtle = Add(a, "żółw");
  ASSERT_TRUE(turtle);
  EXPECT_EQ(JsonField(*turtle, "computer"), "ŻÓŁW") << *turtle;
  EXPECT_EQ(ContactCount(a), 2u);
  auto list = a.WaitForContacts([](const std::string&) { return true; });
  ASSERT_TRUE(list);
  EXPECT_TRUE(ContactEntry(*list, "ŻÓŁW")) << *list;
  EXPECT_FALSE(ContactEntry(*list, "żółw")) << *list;
}

TEST_F(ContactNames, NamesNoComputerCanHaveAreRefusedInPolish) {
  HostProcess& a = StartHost("A");
  // Fifteen characters are counted in Windows-1250, one byte a letter:
  // fifteen Polish letters fit, sixteen letters do not.
  for (const std::string name :
       {"ABCDEFGHIJKLMNOP", "ŻÓŁWIŻÓŁWIŻÓŁWIŻ", "a*b", "dom\\biuro", "kto?", "a/b"}) {
    auto answer = Add(a, name);
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(JsonField(*answer, "event"), "error") << *answer;
    EXPECT_EQ(JsonField(*answer, "message").value_or("").rfind("To nie jest nazwa komputera: ", 0),
              0u)
        << *answer;
  }
  auto blanks = Add(a, "Jan Kowalski");
  ASSERT_TRUE(blanks);
  EXPECT_EQ(JsonField(*blanks, "event"), "error") << *blanks;
  EXPECT_EQ(JsonField(*blanks, "message").value_or("").rfind("Użycie: add", 0), 0u) << *blanks;
  EXPECT_EQ(ContactCount(a), 0u);

  for (const std::string name : {"ABCDEFGHIJKLMNO", "ŻÓŁWIŻÓŁWIŻÓŁWI"}) {
    auto answer = Add(a, name);
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(JsonField(*answer, "event"), "contact-added") << *answer;
  }
  EXPECT_EQ(ContactCount(a), 2u);

  const size_t mark = a.Mark();
  a.Send("remove EWA");
  auto missing = a.WaitFor(IsEvent("error"), mark);
  ASSERT_TRUE(missing);
  EXPECT_EQ(JsonField(*missing, "message"), "Nie ma takiego kontaktu: EWA") << *missing;
}

}  // namespace
}  // namespace vask::multi
