// Search replies as results or details-window updates, and the host's asks
// to publish the own details and to fetch a contact's details.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "base/host_api.h"
#include "search_fixture.h"

namespace vask::test {
namespace {

class SearchRepliesTest : public SearchFixture {
 protected:
  void StartQuery() {
    request_ = FoundContact{};
    request_.size = sizeof request_;
    request_.status = 1;
    std::strcpy(request_.uid, "B");  // targeted: nobody else answers
    search_ = Search(&request_);
    ASSERT_TRUE(peer_->WaitFor("SEARCH", 5s).has_value());
  }
  void EndQuery() {
    host().PressCancel();
    ASSERT_EQ(search_.wait_for(5s), std::future_status::ready);
  }

  // Every datagram A sends B up to A's answer to a bare request from B: what
  // A sent before (or in reaction to earlier datagrams) is in the list.
  std::vector<DatagramFields> UntilAnswered() {
    std::vector<DatagramFields> seen;
    EXPECT_TRUE(peer_->Send("A", "SEARCH"));
    for (;;) {
      auto fields = peer_->ReadFields(5s);
      EXPECT_TRUE(fields.has_value()) << "A never answered";
      if (!fields) return seen;
      if (fields->size() > 4 && (*fields)[3] == "SEARCHREPLY" && (*fields)[4] == "1") return seen;
      seen.push_back(*fields);
    }
  }
  // The error codes the plug-in set since `mark` entries.
  std::vector<int> ErrorsSince(size_t mark) {
    auto all = host().errorCodes();
    return std::vector<int>(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
  }
  static size_t CountCommand(const std::vector<DatagramFields>& seen, const std::string& command) {
    size_t n = 0;
    for (const auto& fields : seen) n += fields.size() > 3 && fields[3] == command;
    return n;
  }

  FoundContact request_{};
  std::shared_future<intptr_t> search_;
};

// --- during a query: results ---

TEST_F(SearchRepliesTest, ReplyDuringQueryBecomesResultOfStatusByFirstField) {
  StartQuery();
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY",
                          {"2", "nick", "Jan", "Kowalski", "JK", "Krakow", "jan@example.org"}));
  ASSERT_TRUE(WaitForCount(kMsgFoundContact, 1));
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"0", "n", "Zero", "", "", "", ""}));
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"1", "n", "One", "", "", "", ""}));
  ASSERT_TRUE(WaitForCount(kMsgFoundContact, 2));
  EndQuery();

  auto found = host().foundContacts();
  ASSERT_EQ(found.size(), 2u) << "first field \"0\" is no result";
  const FoundContact& a = found[0];
  EXPECT_EQ(a.size, sizeof(FoundContact));
  EXPECT_EQ(Unpacked(a.status), kStatusAvailable);
  EXPECT_EQ(a.net, NET_LAN);
  EXPECT_STREQ(a.uid, "B");
  EXPECT_STREQ(a.column6, "Jan");
  EXPECT_STREQ(a.column7, "Kowalski");
  EXPECT_STREQ(a.column17, "JK");
  EXPECT_STREQ(a.column9, "Krakow");
  EXPECT_STREQ(a.column11, "jan@example.org");
  EXPECT_STREQ(a.spare51, "");
  EXPECT_STREQ(a.provider, "");
  EXPECT_EQ(a.gender, 0);
  EXPECT_EQ(Unpacked(a.ownerWindow), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&a), sizeof a).find("nick"), std::string::npos)
      << "field 5 is not carried";
  EXPECT_EQ(Unpacked(found[1].status), kStatusOffline);
  EXPECT_STREQ(found[1].column6, "One");
}

TEST_F(SearchRepliesTest, ElevenAndTwelveFieldRepliesAreHandledAlike) {
  StartQuery();
  // Twelve fields: what this plug-in sends (a trailing empty field).
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "", "Twelve", "", "", "", "", ""}));
  // Eleven: no trailing field at all.
  std::string eleven = std::string("90") + '\0' + "B" + '\0' + "A" + '\0' + "SEARCHREPLY" + '\0' +
                       "2" + '\0' + "" + '\0' + "Eleven" + '\0' + "" + '\0' + "" + '\0' + "" +
                       '\0' + "mail";
  ASSERT_TRUE(SendRaw("A", eleven));
  ASSERT_TRUE(WaitForCount(kMsgFoundContact, 2));
  EndQuery();
  auto found = host().foundContacts();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_STREQ(found[0].column6, "Twelve");
  EXPECT_STREQ(found[1].column6, "Eleven");
  EXPECT_STREQ(found[1].column11, "mail");
}

TEST_F(SearchRepliesTest, LongFieldsAreCutToTheirRecordFields) {
  StartQuery();
  const std::string long150(150, 'x');
  const std::string long60(60, 'y');
  const std::string long300(300, 'z');
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "", long150, long150, long150, long60, long300}));
  ASSERT_TRUE(WaitForCount(kMsgFoundContact, 1));
  EndQuery();
  FoundContact found = host().foundContacts().at(0);
  EXPECT_EQ(std::string(found.column6), long150.substr(0, 100));
  EXPECT_EQ(std::string(found.column7), long150.substr(0, 100));
  EXPECT_EQ(std::string(found.column17), long150.substr(0, 100));
  EXPECT_EQ(std::string(found.column9), long60.substr(0, 50));
  EXPECT_EQ(std::string(found.column11), long300.substr(0, 100));
}

TEST_F(SearchRepliesTest, ContactsAndStrangersAlikeBecomeResults) {
  AddContact("B");
  StartQuery();
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"1", "", "Known", "", "", "", ""}));
  ASSERT_TRUE(WaitForCount(kMsgFoundContact, 1));
  EndQuery();
  EXPECT_EQ(Count(kMsgSetItemText), 0u) << "no details window is written during a query";
}

// --- outside a query: the details window ---

TEST_F(SearchRepliesTest, ReplyOutsideQueryFillsTheOpenDetailsWindow) {
  const int b = AddContact("B");
  host().OpenDetails(b);
  host().SetDetailsText(b, kColumnLastName, "kept");
  const uint64_t mark = host().calls().Mark();
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"1", "nick", "Jan", "", "JK", "Krakow", "mail"}));
  ASSERT_TRUE(WaitFor(kMsgDetailsWritten).has_value());

  EXPECT_EQ(host().DetailsText(b, kColumnNick), "nick");
  EXPECT_EQ(host().DetailsText(b, kColumnFirstName), "Jan");
  EXPECT_EQ(host().DetailsText(b, kColumnLastName), "kept")
      << "an empty field leaves its control alone";
  EXPECT_EQ(host().DetailsText(b, kColumnDescription), "JK");
  EXPECT_EQ(host().DetailsText(b, kColumnCity), "Krakow");
  EXPECT_EQ(host().DetailsText(b, kColumnEmail), "mail");
  EXPECT_EQ(ContactText(b, kColumnFirstName), "") << "the stored contact column is not written";

  std::vector<int> written;
  for (const auto& call : host().calls().All()) {
    if (call.sequence < mark || !call.IsHostMessage()) continue;
    if (call.id == kMsgItemExists) {
      EXPECT_EQ(call.Int("action"), kParentDetailsWindow);
      EXPECT_EQ(call.Int("parent"), 0);
      EXPECT_EQ(call.Int("contact"), b);
    }
    if (call.id == kMsgSetItemText) {
      written.push_back(static_cast<int>(call.Int("action") - kContactWindowItemBase));
    }
    if (call.id == kMsgDetailsWritten) {
      EXPECT_EQ(Unpacked(call.message.p1), b);
    }
  }
  EXPECT_EQ(written, (std::vector<int>{kColumnNick, kColumnFirstName, kColumnDescription,
                                       kColumnCity, kColumnEmail}));
  EXPECT_EQ(Count(kMsgFoundContact), 0u);
}

TEST_F(SearchRepliesTest, ClosedWindowStrangerOrOtherFirstFieldWritesNothing) {
  const int b = AddContact("B");
  // No window open: the host says the window's item does not exist.
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"1", "nick", "Jan", "", "", "", ""}));
  UntilAnswered();
  EXPECT_EQ(Count(kMsgItemExists), 1u);
  EXPECT_EQ(Count(kMsgSetItemText), 0u);
  EXPECT_EQ(Count(kMsgDetailsWritten), 0u);

  host().OpenDetails(b);
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"2", "nick", "Jan", "", "", "", ""}));
  ASSERT_TRUE(peer_->Send("A", "SEARCHREPLY", {"0", "nick", "Jan", "", "", "", ""}));
  UntilAnswered();
  EXPECT_EQ(Count(kMsgSetItemText), 0u) << "only \"1\" fills a window";

  LanPeer stranger("C");
  ASSERT_TRUE(stranger.ok());
  ASSERT_TRUE(stranger.Send("A", "SEARCHREPLY", {"1", "nick", "Jan", "", "", "", ""}));
  UntilAnswered();  // B's bare request goes behind C's reply in A's slot
  EXPECT_EQ(Count(kMsgSetItemText), 0u);
  EXPECT_EQ(Count(kMsgDetailsWritten), 0u);
  EXPECT_EQ(Count(kMsgFoundContact), 0u);
}

// --- fetch one contact's details ---

TEST_F(SearchRepliesTest, FetchSendsABareRequestToTheContact) {
  const int b = AddContact("B");
  const size_t mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgFetchDetails, b, 0), 0);
  EXPECT_TRUE(ErrorsSince(mark).empty());
  auto request = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->size(), 4u) << "no body: the peer answers \"1\"";
  EXPECT_EQ((*request)[2], "B");
}

TEST_F(SearchRepliesTest, FetchFromTheWindowReadsItsControls) {
  const int b = AddContact("ELSEWHERE");
  host().OpenDetails(b);
  host().SetDetailsText(b, kColumnId, "B");
  host().SetDetailsText(b, kColumnNet, "15");
  EXPECT_EQ(Call(kMsgFetchDetails, b, 1), 0);
  auto request = peer_->WaitFor("SEARCH", 5s);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ((*request)[2], "B");
  EXPECT_GT(Count(kMsgItemParent), 0u);
  EXPECT_GT(Count(kMsgReadItemText), 0u);
}

TEST_F(SearchRepliesTest, FetchIsRefusedForTheOwnEntryAndOtherNetworks) {
  const int icq = AddContact("B", 4);  // network 4: not ours
  size_t mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgFetchDetails, 0, 0), 0);
  EXPECT_EQ(ErrorsSince(mark), (std::vector<int>{1}));
  mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgFetchDetails, icq, 0), 0);
  EXPECT_EQ(ErrorsSince(mark), (std::vector<int>{1}));
  const int lanNoName = AddContact("");
  mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgFetchDetails, lanNoName, 0), 0);
  EXPECT_EQ(ErrorsSince(mark), (std::vector<int>{1}));
  EXPECT_EQ(CountCommand(UntilAnswered(), "SEARCH"), 0u);
}

// --- publish the own details ---

TEST_F(SearchRepliesTest, PublishSendsTheOwnDetailsToEveryComputer) {
  host().tables().SetText(kTableContacts, 0, kColumnFirstName, "Jan");
  host().tables().SetText(kTableContacts, 0, kColumnNick, "nick");
  const size_t mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgPublishDetails, 0, 1), 0);
  EXPECT_EQ(ErrorsSince(mark), (std::vector<int>{1}));
  auto reply = peer_->WaitFor("SEARCHREPLY", 5s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->size(), 12u);
  EXPECT_EQ((*reply)[4], "0");
  EXPECT_EQ((*reply)[5], "nick");
  EXPECT_EQ((*reply)[6], "Jan");
  // A hears its own announcement too and drops it: no result, no window.
  UntilAnswered();
  EXPECT_EQ(Count(kMsgFoundContact), 0u);
}

TEST_F(SearchRepliesTest, PublishForAnotherContactSendsNothing) {
  const int b = AddContact("B");
  const size_t mark = host().errorCodes().size();
  EXPECT_EQ(Call(kMsgPublishDetails, b, 1), 0);
  EXPECT_EQ(ErrorsSince(mark), (std::vector<int>{1, 1}));
  EXPECT_EQ(CountCommand(UntilAnswered(), "SEARCHREPLY"), 0u);
}

}  // namespace
}  // namespace vask::test
