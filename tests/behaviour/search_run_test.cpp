// The search run from the host's search form, and the answers to queries of
// other computers, through the export and the emulated LAN.
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "search_fixture.h"

namespace vask::test {
namespace {

constexpr const char* kQueryNotice =
    "Zapytanie zosta\xb3o rozes\xb3"
    "ane po sieci LAN. Kontakty mog\xb9 przybywa\xe6 przez jaki\x9c czas, naci\x9cnij [Anuluj] "
    "gdy ju\xbf Ci wystarczy...";
constexpr const char* kWalkNotice =
    "Wybra\xb3"
    "e\x9c wyszukiwanie wszystkich komputer\xf3w. Nie z ka\xbf"
    "dym znalezionym komputerem b\xea"
    "dziesz m\xf3g\xb3 porozmawia\xe6...";

FoundContact Request(int status, const std::string& uid) {
  FoundContact request{};
  request.size = sizeof request;
  request.status = status;
  std::strncpy(request.uid, uid.c_str(), sizeof request.uid - 1);
  request.ownerWindow = 0x4321;
  return request;
}

void Put(char* field, size_t size, const std::string& text) {
  std::strncpy(field, text.c_str(), size - 1);
}

class SearchRunTest : public SearchFixture {
 protected:
  bool NoticeOpen(size_t count = 1) {
    auto until = std::chrono::steady_clock::now() + 5s;
    while (host().openNotices().size() < count) {
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  // Results from B carrying this column6 text.
  size_t Results(const std::string& column6) {
    size_t n = 0;
    for (const FoundContact& found : host().foundContacts()) {
      if (std::string(found.uid) == "B" && std::string(found.column6) == column6) ++n;
    }
    return n;
  }
  bool WaitForResult(const std::string& column6) {
    auto until = std::chrono::steady_clock::now() + 5s;
    while (Results(column6) == 0) {
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  static bool Ended(const std::shared_future<intptr_t>& search) {
    return search.wait_for(5s) == std::future_status::ready;
  }

  void SetOwn(int column, const std::string& text) {
    host().tables().SetText(kTableContacts, 0, column, text);
  }
  void SetOwnInt(int column, int64_t value) {
    host().tables().SetInt(kTableContacts, 0, column, value);
  }

  // Sends a query from B and tells whether A answered it. A bare request
  // follows the query: its answer ("1") proves the query was handled.
  bool Answered(const std::vector<std::string>& body) {
    EXPECT_TRUE(peer_->Send("A", "SEARCH", body));
    EXPECT_TRUE(peer_->Send("A", "SEARCH"));
    auto first = peer_->WaitFor("SEARCHREPLY", 5s);
    EXPECT_TRUE(first.has_value());
    if (!first) return false;
    if ((*first)[4] == "1") return false;
    auto second = peer_->WaitFor("SEARCHREPLY", 5s);
    EXPECT_TRUE(second.has_value() && (*second)[4] == "1");
    return true;
  }
  // A 13-field query with one criterion set at body index `index` (1..8).
  static std::vector<std::string> Query(size_t index, const std::string& value) {
    std::vector<std::string> body = {"2", "", "", "", "", "", "", "", ""};
    body[index] = value;
    return body;
  }

};

TEST_F(SearchRunTest, RequestWithoutNameRunsAsQueryAndReadsStatusOne) {
  FoundContact request = Request(0, "");
  auto search = Search(&request);
  auto query = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(query.has_value());
  ASSERT_EQ(query->size(), 13u);
  EXPECT_EQ((*query)[1], "A");
  EXPECT_EQ((*query)[4], "2");
  for (size_t i = 5; i < 13; ++i) EXPECT_EQ((*query)[i], "") << i;

  ASSERT_TRUE(NoticeOpen());
  auto notice = host().openNotices().front();
  EXPECT_EQ(notice.title, "Vask - wyszukiwanie");
  EXPECT_EQ(notice.text, kQueryNotice);
  EXPECT_EQ(notice.style, 514);
  EXPECT_EQ(Unpacked(notice.record->owner), 0x4321);
  EXPECT_EQ(Unpacked(notice.record->reserved22), -1);
  EXPECT_EQ(Unpacked(notice.record->threadId), static_cast<int32_t>(notice.thread));
  EXPECT_FALSE(search.wait_for(0ms) == std::future_status::ready) << "a query waits for Cancel";
  // The query pumps the host's messages while it waits: its first pump may
  // come after the query reached B, so Cancel waits for it (a Cancel before
  // it would end the wait before any pump).
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (host().pumpCount() == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(2ms);
  }

  EXPECT_EQ(host().PressCancel(), 1);
  ASSERT_TRUE(Ended(search));
  EXPECT_EQ(search.get(), 0);
  EXPECT_EQ(Unpacked(request.status), 1);
  EXPECT_TRUE(host().openNotices().empty());
  EXPECT_EQ(Count(kMsgSearchNoticeShow), 1u);
  EXPECT_EQ(Count(kMsgSearchNoticeHide), 1u);
  EXPECT_GT(host().pumpCount(), 0u) << "the query pumps the host's messages while it waits";
}

TEST_F(SearchRunTest, QueryBodyCarriesTheCriteriaInTheirPlaces) {
  FoundContact request = Request(1, "");
  Put(request.column6, sizeof request.column6, "Jan");
  Put(request.column7, sizeof request.column7, "Kowalski");
  Put(request.column17, sizeof request.column17, "jk");
  Put(request.column9, sizeof request.column9, "Warszawa");
  Put(request.column11, sizeof request.column11, "mail");
  request.gender = 2;
  request.lowerBound = 1980;
  request.upperBound = 0;
  auto search = Search(&request);
  auto query = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(*query, (DatagramFields{(*query)[0], "A", (*query)[2], "SEARCH", "2", "Jan", "Kowalski",
                                    "jk", "Warszawa", "mail", "M", "1980", ""}));
  host().PressCancel();
  ASSERT_TRUE(Ended(search));
}

TEST_F(SearchRunTest, GenderOutsideOneAndTwoIsNoCriterion) {
  FoundContact request = Request(1, "");
  request.gender = 3;
  request.upperBound = -5;
  auto search = Search(&request);
  auto query = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(query.has_value());
  ASSERT_EQ(query->size(), 13u);
  EXPECT_EQ((*query)[10], "");
  EXPECT_EQ((*query)[11], "");
  EXPECT_EQ((*query)[12], "-5");
  host().PressCancel();
  ASSERT_TRUE(Ended(search));
}

TEST_F(SearchRunTest, TargetedQueryAsksOneComputerWithoutCriteria) {
  LanPeer other("C");
  ASSERT_TRUE(other.ok());
  FoundContact request = Request(1, "B");
  Put(request.column6, sizeof request.column6, "ignored");
  auto search = Search(&request);
  auto query = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(query.has_value());
  EXPECT_EQ(query->size(), 5u);
  EXPECT_EQ((*query)[2], "B");
  EXPECT_EQ((*query)[4], "2");
  ASSERT_TRUE(NoticeOpen());
  host().PressCancel();
  ASSERT_TRUE(Ended(search));
  EXPECT_FALSE(other.WaitFor("SEARCH", 300ms).has_value()) << "only B is asked";
}

TEST_F(SearchRunTest, RepliesAreResultsOnlyWhileTheQueryRuns) {
  FoundContact request = Request(1, "");
  auto search = Search(&request);
  ASSERT_TRUE(peer_->WaitFor("SEARCH", 5s).has_value());
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "", "Ala", "", "", "", ""}));
  ASSERT_TRUE(WaitForResult("Ala"));
  host().PressCancel();
  ASSERT_TRUE(Ended(search));

  // After Cancel a reply of a query is no result: the bare request behind
  // it proves A handled the reply first.
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "", "Late", "", "", "", ""}));
  ASSERT_TRUE(peer_->Send("A", "SEARCH"));
  ASSERT_TRUE(peer_->WaitFor("SEARCHREPLY", 5s).has_value());
  EXPECT_EQ(Results("Late"), 0u);
  EXPECT_EQ(Results("Ala"), 1u);
}

TEST_F(SearchRunTest, FirstSearchToEndLeavesTheOtherQueryRunning) {
  FoundContact first = Request(1, "");
  FoundContact second = Request(1, "");
  auto one = Search(&first);
  ASSERT_TRUE(NoticeOpen(1));
  auto two = Search(&second);
  ASSERT_TRUE(NoticeOpen(2));
  SearchStatusRecord* firstNotice = nullptr;
  for (const auto& notice : host().openNotices()) {
    if (!firstNotice) firstNotice = notice.record;
  }
  CancelNotice(*firstNotice);
  ASSERT_TRUE(Ended(one));
  EXPECT_EQ(host().openNotices().size(), 1u);

  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "", "Ala", "", "", "", ""}));
  EXPECT_TRUE(WaitForResult("Ala")) << "the second query still takes replies";
  host().PressCancel();
  ASSERT_TRUE(Ended(two));
}

TEST_F(SearchRunTest, ThreadThatCannotStartEndsTheSearchAtOnce) {
  host().FailThreads(1);
  FoundContact request = Request(1, "");
  auto search = Search(&request);
  ASSERT_TRUE(Ended(search)) << "no wait on a thread that never ran";
  EXPECT_EQ(search.get(), 0);
  EXPECT_EQ(Count(kMsgSearchNoticeShow), 0u);
  auto line = host().calls().WaitForHost(kMsgLog, 1s, [](const host::RecordedCall& c) {
    return c.Text("text").find("Search ended at once") != std::string::npos;
  });
  EXPECT_TRUE(line.has_value());
}

TEST_F(SearchRunTest, WalkRequestShowsTheWalkNotice) {
  FoundContact request = Request(0, "*");
  auto search = Search(&request);
  ASSERT_TRUE(Ended(search)) << "a walk ends by itself";
  auto shown = Last(kMsgSearchNoticeShow);
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->Text("text"), kWalkNotice);
  EXPECT_EQ(request.uid[0], '\0') << "\"*\" is cleared in the host's record";
  EXPECT_EQ(Count(kMsgSearchNoticeHide), 1u);
  EXPECT_FALSE(peer_->WaitFor("SEARCH", 200ms).has_value()) << "a walk sends no query";
}

// --- answering the queries of other computers ---

TEST_F(SearchRunTest, BareRequestIsAnsweredWithOneAndTheOwnDetails) {
  SetOwn(kColumnNick, "nick");
  SetOwn(kColumnFirstName, "Jan");
  SetOwn(kColumnLastName, "Kowalski");
  SetOwn(kColumnDescription, "JK");
  SetOwn(kColumnCity, "Krak\xf3w");
  SetOwn(kColumnEmail, "jan@example.org");
  ASSERT_TRUE(peer_->Send("A", "SEARCH"));
  auto reply = peer_->WaitFor("SEARCHREPLY", 5s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, (DatagramFields{(*reply)[0], "A", "B", "SEARCHREPLY", "1", "nick", "Jan",
                                    "Kowalski", "JK", "Krak\xf3w", "jan@example.org", ""}));

  ASSERT_TRUE(peer_->Send("A", "SEARCH", {"marker"}));
  reply = peer_->WaitFor("SEARCHREPLY", 5s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ((*reply)[4], "marker") << "a single body field is echoed";
}

TEST_F(SearchRunTest, MalformedQueryGetsNoAnswer) {
  EXPECT_FALSE(Answered({"2", "", "", "", "", "", "", ""}));  // 12 fields
  EXPECT_FALSE(Answered({"2", ""}));  // 6 fields
}

TEST_F(SearchRunTest, EmptyCriteriaAreAnsweredByEveryone) {
  EXPECT_TRUE(Answered(Query(1, "")));
  EXPECT_TRUE(Answered({"2", "", "", "", "", "", "", "", "", "extra"})) << "14 fields";
}

TEST_F(SearchRunTest, TextCriteriaFoldOnlyAsciiLetters) {
  SetOwn(kColumnFirstName, "Jan \xa3UKASZ Kowalski");  // "Łukasz" with an upper-case Ł
  EXPECT_TRUE(Answered(Query(1, "kowal")));
  EXPECT_TRUE(Answered(Query(1, "UKASZ kow")));
  EXPECT_FALSE(Answered(Query(1, "\xb3ukasz"))) << "ł is not folded onto Ł";
  EXPECT_TRUE(Answered(Query(1, "\xa3ukasz")));
  EXPECT_FALSE(Answered(Query(1, "Nowak")));
}

TEST_F(SearchRunTest, EachCriterionMatchesItsOwnColumn) {
  SetOwn(kColumnFirstName, "Jan");
  SetOwn(kColumnLastName, "Kowalski");
  SetOwn(kColumnDescription, "jkow");
  SetOwn(kColumnCity, "Krakow");
  SetOwn(kColumnQueryCity, "Warszawa");
  SetOwn(kColumnEmail, "jan@example.org");
  EXPECT_TRUE(Answered(Query(2, "kowal")));
  EXPECT_FALSE(Answered(Query(2, "Jan")));
  EXPECT_TRUE(Answered(Query(3, "JKOW")));
  EXPECT_TRUE(Answered(Query(4, "warsz"))) << "the form's column 9 is matched against column 10";
  EXPECT_FALSE(Answered(Query(4, "krak")));
  EXPECT_TRUE(Answered(Query(5, "example")));
  // Every criterion must hold.
  std::vector<std::string> both = Query(1, "jan");
  both[2] = "nowak";
  EXPECT_FALSE(Answered(both));
}

TEST_F(SearchRunTest, GenderLetterMustMatchExactly) {
  SetOwnInt(kColumnGender, 1);
  EXPECT_TRUE(Answered(Query(6, "K")));
  EXPECT_FALSE(Answered(Query(6, "M")));
  EXPECT_FALSE(Answered(Query(6, "k")));
  SetOwnInt(kColumnGender, 2);
  EXPECT_TRUE(Answered(Query(6, "M")));
  SetOwnInt(kColumnGender, 3);
  EXPECT_FALSE(Answered(Query(6, "K")));
  EXPECT_FALSE(Answered(Query(6, "X")));
  EXPECT_TRUE(Answered(Query(6, "")));
}

TEST_F(SearchRunTest, BoundsCompareTheUpperHalfOfColumn19) {
  SetOwnInt(kColumnBirth, (1985 << 16) | 0x1234);
  EXPECT_TRUE(Answered(Query(7, "1985")));
  EXPECT_FALSE(Answered(Query(7, "1986")));
  EXPECT_TRUE(Answered(Query(8, "1985")));
  EXPECT_FALSE(Answered(Query(8, "1984")));
  std::vector<std::string> range = Query(7, "1980");
  range[8] = "1990";
  EXPECT_TRUE(Answered(range));
  // The upper half is unsigned: 0xFFFF reads 65535, not -1.
  SetOwnInt(kColumnBirth, static_cast<int32_t>(0xFFFF0000u));
  EXPECT_TRUE(Answered(Query(7, "65535")));
  EXPECT_FALSE(Answered(Query(8, "0")));
}

}  // namespace
}  // namespace vask::test
