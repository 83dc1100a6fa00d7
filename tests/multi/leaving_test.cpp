// A host whose whole script arrives at once while a call into the plug-in
// waits pumping (a search): the lines read meanwhile still run, so cancel,
// quit and the end of input end it.
#include <string>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

class LeavingTest : public MultiFixture {
 protected:
  // The script in one write, as a pipe delivers it; then the input ends.
  // The host must reach its "quit" event (a generous deadline: a hang
  // never gets there at all).
  void ExpectEnds(const std::string& script, const std::string& computer = "A") {
    HostProcess& a = StartHost(computer);
    const size_t mark = a.Mark();
    a.Send(script);
    a.CloseInput();
    EXPECT_TRUE(a.WaitFor(IsEvent("quit"), mark, 20s)) << "the host hung on:\n" << script;
  }
};

TEST_F(LeavingTest, CancelThenQuitEndASearchSentInOnePiece) {
  ExpectEnds("status 64\nsearch\nwait 300\ncancel\nquit");
}

TEST_F(LeavingTest, SearchCancelSearchCancelQuitEnds) {
  ExpectEnds("status 64\nsearch\nwait 300\ncancel\nsearch\nwait 300\ncancel\nquit");
}

TEST_F(LeavingTest, QuitOrTheEndOfInputAloneEndAWaitingSearch) {
  ExpectEnds("status 64\nsearch\nquit");
  ExpectEnds("status 64\nsearch", "B");
}

TEST_F(LeavingTest, ASecondSearchWhileOneRunsIsRefused) {
  HostProcess& a = StartHost("A");
  const size_t mark = a.Mark();
  a.Send("status 64\nsearch");
  // A Cancel pressed before the notice opens finds nothing to press.
  ASSERT_TRUE(a.WaitFor(IsEvent("notice-opened"), mark));
  a.Send("search\ncancel");
  auto refused = a.WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "error" && JsonField(line, "command") == "search";
      },
      mark);
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find("Wyszukiwanie"), std::string::npos) << *refused;
  EXPECT_TRUE(a.WaitFor(IsEvent("search-ended"), mark, 20s));
}

}  // namespace
}  // namespace vask::multi
