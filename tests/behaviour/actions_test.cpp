// Interface actions: the status menu, the refresh of all contacts, the help
// document and the two contact actions.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "base/host_api.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

class ActionsTest : public PluginFixture {
 protected:
  intptr_t Act(int action, int code, int contact = -2, int parent = 0) {
    ActionEvent event{};
    event.size = sizeof(ActionEvent);
    event.ref = ActionRef{action, parent, contact};
    event.code = code;
    return Call(kMsgAction, reinterpret_cast<intptr_t>(&event));
  }
  int Status() { return static_cast<int>(Call(kMsgOwnStatus)); }
  size_t CallsSince(uint64_t mark, const char* service = nullptr) {
    return host().calls().CountIf([mark, service](const host::RecordedCall& c) {
      return c.sequence >= mark && (service == nullptr || c.service == service);
    });
  }
  // The status word of the last item status set, or -99 when none was sent.
  long long LastItemStatus() {
    auto status = Last(kMsgSetItemStatus);
    return status ? status->Int("status", -99) : -99;
  }
};

TEST_F(ActionsTest, ForeignTopByteAnswersZeroWithoutAnyHostCall) {
  // 7: no code of an action; the top byte 0x11 marks another plug-in's items.
  for (int code : {kActionActivated, kActionShowing, 7}) {
    for (int action : {0x11000000 | kItemStatusAvailable, 0x11000000 | kItemRefreshAll, 0x11003A98,
                       0x11FFFFFF}) {
      const uint64_t mark = host().calls().Mark();
      EXPECT_EQ(Act(action, code, 3), 0) << action;
      EXPECT_EQ(CallsSince(mark), 0u) << action;
    }
  }
  EXPECT_EQ(Status(), kStatusOffline);
}

TEST_F(ActionsTest, StatusMenuSetsTheStatusOnActivationOnly) {
  EXPECT_EQ(Act(kItemStatusAvailable, kActionShowing), 0);
  EXPECT_EQ(Count(kMsgAnnounceStatus), 1u);  // only the start's
  const struct {
    int action, status;
  } menu[] = {{kItemStatusAvailable, kStatusAvailable},
              {kItemStatusBrb, kStatusBrb},
              {kItemStatusDnd, kStatusDnd},
              {kItemStatusOffline, kStatusOffline}};
  for (const auto& item : menu) {
    EXPECT_EQ(Act(item.action, kActionActivated), 0);
    EXPECT_EQ(Status(), item.status) << item.action;
    auto announced = Last(kMsgAnnounceStatus);
    ASSERT_TRUE(announced.has_value());
    const host::Field* text = announced->Find("text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->kind, host::Field::kNull) << "no status text: p3 is null";
  }
}

TEST_F(ActionsTest, RefreshAllShowsTheBoxAndAnswersOne) {
  EXPECT_EQ(Act(kItemRefreshAll, kActionShowing), 0);
  EXPECT_TRUE(host().messageBoxes().empty());
  const size_t walks = Count(kMsgContactCount);
  EXPECT_EQ(Act(kItemRefreshAll, kActionActivated), 1);
  // "SEARCH" to "^": the send walks the contact list.
  EXPECT_EQ(Count(kMsgContactCount), walks + 1);
  const auto boxes = host().messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].error);
  EXPECT_EQ(boxes[0].title, "Vask");
  EXPECT_EQ(boxes[0].text.rfind("Wyszukiwanie kontakt\xF3w dzia\xB3" "a ju\xBF standardowo.\r\n", 0), 0u);
  EXPECT_EQ(Last(kMsgInfoBox)->message.size, HostMessageSize(4));
}

TEST_F(ActionsTest, PublishIsOfferedOnlyOnTheOwnEntryWhileRunning) {
  const int contact = AddContact("B");
  const uint64_t mark = host().calls().Mark();
  EXPECT_EQ(Act(kItemRefreshOwn, kActionShowing, 0, kParentOwnDetails), 0);
  EXPECT_EQ(LastItemStatus(), -1);  // engine stopped: withdrawn
  EXPECT_EQ(Last(kMsgSetItemStatus)->Int("statusMask"), 1);
  EXPECT_EQ(CallsSince(mark, "RowIndex"), 0u);

  Act(kItemStatusAvailable, kActionActivated);  // online
  EXPECT_EQ(Act(kItemRefreshOwn, kActionShowing, 0, kParentOwnDetails), 0);
  EXPECT_EQ(LastItemStatus(), 0);  // own entry: offered
  EXPECT_EQ(Act(kItemRefreshOwn, kActionShowing, contact, kParentOwnDetails), 0);
  EXPECT_EQ(LastItemStatus(), -1);
  EXPECT_EQ(Last(kMsgSetItemStatus)->Int("action"), kItemRefreshOwn);
  EXPECT_EQ(Last(kMsgSetItemStatus)->Int("parent"), kParentOwnDetails);
  EXPECT_EQ(Last(kMsgSetItemStatus)->Int("contact"), contact);
}

TEST_F(ActionsTest, FetchIsOfferedOnlyForNetworkFifteenWhileRunning) {
  const int contact = AddContact("B");
  host().OpenDetails(contact);
  host().SetDetailsText(contact, kColumnNet, "15");
  EXPECT_EQ(Act(kItemRefreshContact, kActionShowing, contact, kParentContactDetails), 0);
  EXPECT_EQ(LastItemStatus(), -1);  // engine stopped

  Act(kItemStatusAvailable, kActionActivated);
  EXPECT_EQ(Act(kItemRefreshContact, kActionShowing, contact, kParentContactDetails), 0);
  EXPECT_EQ(LastItemStatus(), 0);
  auto read = Last(kMsgReadItemText);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Int("action"), kContactWindowItemBase + kColumnNet);
  EXPECT_EQ(read->Int("parent"), kParentNetworks);
  EXPECT_EQ(read->Int("contact"), contact);

  for (const char* net : {"150", "1", " 15", ""}) {
    host().SetDetailsText(contact, kColumnNet, net);
    Act(kItemRefreshContact, kActionShowing, contact, kParentContactDetails);
    EXPECT_EQ(LastItemStatus(), -1) << "network text \"" << net << "\"";
  }
}

TEST_F(ActionsTest, ContactActionsAskThePluginItself) {
  const int contact = AddContact("B");
  EXPECT_EQ(Act(kItemRefreshOwn, kActionActivated, 0), 0);
  EXPECT_EQ(Act(kItemRefreshContact, kActionActivated, contact), 0);
  const auto sent = host().calls().All();
  std::vector<host::RecordedCall> toSelf;
  for (const auto& c : sent) {
    if (c.service == "SendToPlugin") toSelf.push_back(c);
  }
  ASSERT_EQ(toSelf.size(), 2u);
  EXPECT_EQ(toSelf[0].id, kMsgPublishDetails);
  EXPECT_EQ(toSelf[0].Int("receiver"), plugin());
  EXPECT_EQ(Unpacked(toSelf[0].message.p1), 0);
  EXPECT_EQ(Unpacked(toSelf[0].message.p2), 1);
  EXPECT_EQ(toSelf[1].id, kMsgFetchDetails);
  EXPECT_EQ(Unpacked(toSelf[1].message.p1), contact);
  EXPECT_EQ(Unpacked(toSelf[1].message.p2), 1);
  auto asked = Last(kMsgDetailsAsked);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(Unpacked(asked->message.p1), contact);
  EXPECT_GT(asked->sequence, toSelf[1].sequence);
}

TEST_F(ActionsTest, OtherActionsAndCodesDoNothing) {
  const uint64_t mark = host().calls().Mark();
  EXPECT_EQ(Act(15999, kActionActivated), 0);  // an item of ours that does not exist
  EXPECT_EQ(Act(kItemHelp, kActionShowing), 0);
  EXPECT_EQ(Act(kItemRefreshOwn, 2), 0);  // 2: no code of an action
  EXPECT_EQ(Call(kMsgAction, 0), 0);
  EXPECT_EQ(CallsSince(mark), 0u);
}

// A stand-in for the desktop's opener: records the path it was given.
class HelpTest : public ActionsTest {
 protected:
  void BeforeStart() override {
    dir_ = MakeTempDir("vask-help");
    ASSERT_FALSE(dir_.empty());
    mkdir((dir_ + "/bin").c_str(), 0700);
    const std::string opener = dir_ + "/bin/xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << dir_ << "/opened.tmp' && mv '" << dir_
                          << "/opened.tmp' '" << dir_ << "/opened'\n";
    chmod(opener.c_str(), 0700);
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (dir_ + "/bin:" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    ActionsTest::TearDown();
    RemoveTree(dir_);
  }
  void MakeFile(const std::string& relative) {
    std::string path = dir_ + "/" + relative;
    for (size_t at = path.find('/', dir_.size() + 1); at != std::string::npos; at = path.find('/', at + 1)) {
      mkdir(path.substr(0, at).c_str(), 0700);
    }
    std::ofstream(path) << "<html></html>";
  }
  // The path the opener received, or "" at the deadline.
  std::string Opened() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
      std::ifstream in(dir_ + "/opened");
      if (in) {
        std::stringstream text;
        text << in.rdbuf();
        std::remove((dir_ + "/opened").c_str());
        return text.str();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
  }
  std::string dir_;
  std::string oldPath_;
};

TEST_F(HelpTest, PathIsTheFolderSettingAndTheDocumentWithNothingBetween) {
  MakeFile("app/doc/Vask.html");
  SetSettingText(kSettingHostFolder, dir_ + "/app/");
  EXPECT_EQ(Act(kItemHelp, kActionActivated), 1);
  EXPECT_EQ(Opened(), dir_ + "/app/doc/Vask.html");

  MakeFile("appdoc/Vask.html");
  SetSettingText(kSettingHostFolder, dir_ + "/app");
  EXPECT_EQ(Act(kItemHelp, kActionActivated), 1);
  EXPECT_EQ(Opened(), dir_ + "/appdoc/Vask.html");
}

}  // namespace
}  // namespace vask::test
