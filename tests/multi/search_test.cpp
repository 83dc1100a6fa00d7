// Contact search between vask-host processes on one emulated LAN: queries,
// targeted queries, Cancel, fetching and publishing details, and the walk.
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "multi_fixture.h"
#include "tests/support/lan_peer.h"

namespace vask::multi {
namespace {

class SearchMultiTest : public MultiFixture {
 protected:
  // A running computer whose user has these details (own first and last
  // name).
  HostProcess& StartComputer(const std::string& name, const std::string& column6,
                             const std::string& column7) {
    HostProcess& host = StartHost(name);
    Command(host, "own " + std::to_string(kColumnFirstName) + " " + column6, "own");
    Command(host, "own " + std::to_string(kColumnLastName) + " " + column7, "own");
    Command(host, StatusCommand(kStatusAvailable), "answer");
    return host;
  }
  // Sends a command and waits for the event that answers it.
  std::optional<std::string> Command(HostProcess& host, const std::string& command,
                                     const std::string& event,
                                     std::chrono::milliseconds deadline = 10s) {
    const size_t mark = host.Mark();
    host.Send(command);
    auto line = host.WaitFor(IsEvent(event), mark, deadline);
    EXPECT_TRUE(line.has_value()) << host.computer() << ": no " << event << " after " << command;
    return line;
  }
  static LinePredicate Found(const std::string& uid, int status) {
    return [uid, status](const std::string& line) {
      return JsonField(line, "event") == "found-contact" && JsonField(line, "uid") == uid &&
             JsonInt(line, "status") == status;
    };
  }
  // The (uid, status) pairs of a "results" event.
  using Results = std::multiset<std::pair<std::string, int64_t>>;
  static Results ResultsOf(const std::string& results) {
    Results found;
    for (size_t at = results.find("\"uid\":"); at != std::string::npos;
         at = results.find("\"uid\":", at + 1)) {
      found.emplace(*JsonField(results, "uid", at), *JsonInt(results, "status", at));
    }
    return found;
  }
};

TEST_F(SearchMultiTest, QueryFindsExactlyTheMatchingComputers) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  StartComputer("B", "Jan", "Kowalski");
  StartComputer("C", "Joanna", "Nowakowska");
  Command(a, "add B", "contact-added");

  const size_t mark = a.Mark();
  a.Send("search column6=ANNA column7=nowak");
  ASSERT_TRUE(a.WaitFor(IsEvent("notice-opened"), mark));
  ASSERT_TRUE(a.WaitFor(Found("A", kStatusAvailable), mark)) << "the asker's own entry matches";
  ASSERT_TRUE(a.WaitFor(Found("C", kStatusAvailable), mark));
  // B handles datagrams in order: its answer "1" to the bare request sent
  // after the query shows it has dealt with the query.
  a.Send("details B");
  ASSERT_TRUE(a.WaitFor(Found("B", kStatusOffline), mark));
  Command(a, "cancel", "cancel");
  ASSERT_TRUE(a.WaitFor(IsEvent("search-ended"), mark));
  auto results = Command(a, "results", "results");
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(ResultsOf(*results),
            (Results{{"A", kStatusAvailable}, {"C", kStatusAvailable}, {"B", kStatusOffline}}));
}

// The terminal's "/own miasto=" names the city by its word, the web form by
// its number; either way a search by city finds the person.
TEST_F(SearchMultiTest, SearchByCityFindsACitySetByWordOrByNumber) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  HostProcess& b = StartComputer("B", "Jan", "Kowalski");
  HostProcess& c = StartComputer("C", "Joanna", "Nowakowska");
  HostProcess& d = StartComputer("D", "Damian", "Nowicki");
  Command(b, "own miasto Łódź", "own");
  Command(c, "own " + std::to_string(kColumnCity) + " Łódź", "own");
  Command(d, "own " + std::to_string(kColumnCity) + " Kraków", "own");
  Command(a, "add D", "contact-added");
  const size_t mark = a.Mark();
  a.Send("search miasto=Łódź");
  ASSERT_TRUE(a.WaitFor(Found("B", kStatusAvailable), mark));
  ASSERT_TRUE(a.WaitFor(Found("C", kStatusAvailable), mark));
  // D answers its bare details request after the query: it has dealt with it.
  a.Send("details D");
  ASSERT_TRUE(a.WaitFor(Found("D", kStatusOffline), mark));
  Command(a, "cancel", "cancel");
  ASSERT_TRUE(a.WaitFor(IsEvent("search-ended"), mark));
  auto results = Command(a, "results", "results");
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(ResultsOf(*results),
            (Results{{"B", kStatusAvailable}, {"C", kStatusAvailable}, {"D", kStatusOffline}}));
}

TEST_F(SearchMultiTest, TargetedQueryFindsTheOneComputer) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  StartComputer("B", "Jan", "Kowalski");
  StartComputer("C", "Joanna", "Nowakowska");
  const size_t mark = a.Mark();
  a.Send("search uid=C column6=nobody");
  auto found = a.WaitFor(Found("C", kStatusAvailable), mark);
  ASSERT_TRUE(found.has_value()) << "a targeted query carries no criteria";
  EXPECT_EQ(JsonField(*found, "column6"), "Joanna");
  EXPECT_EQ(JsonField(*found, "column7"), "Nowakowska");
  Command(a, "cancel", "cancel");
  ASSERT_TRUE(a.WaitFor(IsEvent("search-ended"), mark));
  auto results = Command(a, "results", "results");
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(ResultsOf(*results), (Results{{"C", kStatusAvailable}}));
}

TEST_F(SearchMultiTest, CancelEndsTheQuery) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  const size_t mark = a.Mark();
  a.Send("search");
  ASSERT_TRUE(a.WaitFor(IsEvent("notice-opened"), mark));
  EXPECT_FALSE(a.WaitFor(IsEvent("search-ended"), mark, 300ms)) << "a query waits for Cancel";
  const size_t cancelled = a.Mark();
  a.Send("cancel");
  // Bounded generously; the wait itself polls every 100 ms.
  auto ended = a.WaitFor(IsEvent("search-ended"), cancelled, 3s);
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(JsonField(*ended, "answer"), "0");
  EXPECT_EQ(JsonField(*ended, "status"), "1");
  EXPECT_TRUE(a.WaitFor(IsEvent("notice-closed"), cancelled, 1s));
}

TEST_F(SearchMultiTest, FetchingDetailsFillsTheDetailsWindow) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  StartComputer("B", "Jan", "Kowalski");
  Command(a, "add B", "contact-added");
  const size_t mark = a.Mark();
  a.Send("details B");
  auto updated = a.WaitFor(IsEvent("details-updated"), mark);
  ASSERT_TRUE(updated.has_value());
  EXPECT_EQ(JsonField(*updated, "computer"), "B");
  // The window's fields are keyed by their column numbers.
  EXPECT_NE(updated->find("\"" + std::to_string(kColumnFirstName) + "\":\"Jan\""),
            std::string::npos)
      << *updated;
  EXPECT_NE(updated->find("\"" + std::to_string(kColumnLastName) + "\":\"Kowalski\""),
            std::string::npos)
      << *updated;
}

// A computer that is not on the network never answers: the fetch ends after
// ten seconds of the host's clock, told once; an answered one is not.
TEST_F(SearchMultiTest, AFetchNobodyAnswersEndsOnceItsBoundHasPassed) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  StartComputer("B", "Jan", "Kowalski");
  Command(a, "add ŻÓŁW", "contact-added");
  Command(a, "add B", "contact-added");
  const size_t mark = a.Mark();
  Command(a, "details ŻÓŁW", "details");
  a.Send("details B");
  ASSERT_TRUE(a.WaitFor(IsEvent("details-updated"), mark));
  EXPECT_FALSE(a.WaitFor(IsEvent("details-unanswered"), mark, 300ms)) << "ended before its bound";
  TurnClocks({&a}, kExpiryTurn);
  auto ended = a.WaitFor(IsEvent("details-unanswered"), mark, 5s);
  ASSERT_TRUE(ended.has_value());
  EXPECT_EQ(JsonField(*ended, "computer"), "ŻÓŁW");
  EXPECT_EQ(JsonInt(*ended, "seconds"), 10);
  // Told once, and never for B, whose reply came.
  Command(a, "wait 1100", "waited");
  size_t told = 0;
  a.Visit(mark, [&told](const std::string& line, auto) {
    if (JsonField(line, "event") == "details-unanswered") ++told;
  });
  EXPECT_EQ(told, 1u);
}

TEST_F(SearchMultiTest, PublishingSendsTheOwnDetailsToEveryComputer) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  // A watcher on the LAN, as every other computer hears the announcement.
  setenv("VASK_LAN_DIR", lanDir_.c_str(), 1);
  test::LanPeer watcher("WATCHER");
  ASSERT_TRUE(watcher.ok());
  auto answer = Command(a, "publish", "answer");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(JsonField(*answer, "answer"), "0");

  std::string reply;
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (reply.find("SEARCHREPLY") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    auto bytes = watcher.Read(left.count() > 0 ? left : 0ms);
    if (!bytes) break;
    reply = *bytes;
  }
  // sequence, A, target, SEARCHREPLY, "0", column 8, 6, 7, ...
  const std::string expected = std::string("A") + '\0';
  ASSERT_NE(reply.find(std::string("SEARCHREPLY") + '\0' + "0" + '\0' + "" + '\0' + "Anna" + '\0' +
                       "Nowak" + '\0'),
            std::string::npos);
  EXPECT_EQ(reply.find(expected), reply.find('\0') + 1) << "sent by A";
}

TEST_F(SearchMultiTest, WalkListsRunningComputersOfTheWorkgroupOrOfEveryWorkgroup) {
  HostProcess& a = StartComputer("A", "Anna", "Nowak");
  StartComputer("B", "Jan", "Kowalski");
  setenv("VASK_WORKGROUP", "OTHER", 1);  // inherited by the next host only
  StartComputer("D", "Dorota", "Las");
  unsetenv("VASK_WORKGROUP");

  size_t mark = a.Mark();
  a.Send("search status=0 uid=*");
  auto ended = a.WaitFor(IsEvent("search-ended"), mark);
  ASSERT_TRUE(ended.has_value()) << "a walk ends by itself";
  EXPECT_EQ(JsonField(*ended, "uid"), "");
  auto results = Command(a, "results", "results");
  ASSERT_TRUE(results.has_value());
  EXPECT_EQ(ResultsOf(*results), (Results{{"A", kStatusOffline}, {"B", kStatusOffline}}));

  mark = a.Mark();
  a.Send("search status=0 uid=@");
  ASSERT_TRUE(a.WaitFor(IsEvent("search-ended"), mark));
  results = Command(a, "results", "results");
  ASSERT_TRUE(results.has_value());
  // Each search's results are its own: the second walk lists every
  // workgroup, and the first walk's results are gone.
  EXPECT_EQ(ResultsOf(*results),
            (Results{{"A", kStatusOffline}, {"B", kStatusOffline}, {"D", kStatusOffline}}));
  auto second = a.WaitFor(IsEvent("search-ended"), mark);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(JsonInt(*second, "results"), 3);
}

}  // namespace
}  // namespace vask::multi
