// Interface actions (host message 22200): the status menu, the refresh of
// all contacts, the help document and the two contact actions.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

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
    return Call(22200, reinterpret_cast<intptr_t>(&event));
  }
  int Status() { return static_cast<int>(Call(30031)); }
  size_t CallsSince(uint64_t mark, const char* service = nullptr) {
    return host().calls().CountIf([mark, service](const host::RecordedCall& c) {
      return c.sequence >= mark && (service == nullptr || c.service == service);
    });
  }
  // The status word of the last 10108, or -99 when none was sent.
  long long LastItemStatus() {
    auto status = Last(10108);
    return status ? status->Int("status", -99) : -99;
  }
};

TEST_F(ActionsTest, ForeignTopByteAnswersZeroWithoutAnyHostCall) {
  for (int code : {1, 10, 7}) {
    for (int action : {0x11000000 | 15101, 0x11000000 | 15001, 0x11003A98, 0x11FFFFFF}) {
      const uint64_t mark = host().calls().Mark();
      EXPECT_EQ(Act(action, code, 3), 0) << action;
      EXPECT_EQ(CallsSince(mark), 0u) << action;
    }
  }
  EXPECT_EQ(Status(), 0);
}

TEST_F(ActionsTest, StatusMenuSetsTheStatusOnActivationOnly) {
  EXPECT_EQ(Act(15101, 10), 0);
  EXPECT_EQ(Count(246), 1u);  // only the start's
  const struct {
    int action, status;
  } menu[] = {{15101, 64}, {15102, 65}, {15103, 34}, {15100, 0}};
  for (const auto& item : menu) {
    EXPECT_EQ(Act(item.action, 1), 0);
    EXPECT_EQ(Status(), item.status) << item.action;
    auto announced = Last(246);
    ASSERT_TRUE(announced.has_value());
    const host::Field* text = announced->Find("text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->kind, host::Field::kNull) << "no status text: p3 is null";
  }
}

TEST_F(ActionsTest, RefreshAllShowsTheBoxAndAnswersOne) {
  EXPECT_EQ(Act(15001, 10), 0);
  EXPECT_TRUE(host().messageBoxes().empty());
  const size_t walks = Count(201);
  EXPECT_EQ(Act(15001, 1), 1);
  // "SEARCH" to "^": the send walks the contact list.
  EXPECT_EQ(Count(201), walks + 1);
  const auto boxes = host().messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(boxes[0].error);
  EXPECT_EQ(boxes[0].title, "Vask");
  EXPECT_EQ(boxes[0].text.rfind("Wyszukiwanie kontakt\xF3w dzia\xB3" "a ju\xBF standardowo.\r\n", 0), 0u);
  EXPECT_EQ(Last(10204)->message.size, HostMessageSize(4));
}

TEST_F(ActionsTest, PublishIsOfferedOnlyOnTheOwnEntryWhileRunning) {
  const int contact = AddContact("B");
  const uint64_t mark = host().calls().Mark();
  EXPECT_EQ(Act(15120, 10, 0, 400), 0);
  EXPECT_EQ(LastItemStatus(), -1);  // engine stopped: withdrawn
  EXPECT_EQ(Last(10108)->Int("statusMask"), 1);
  EXPECT_EQ(CallsSince(mark, "RowIndex"), 0u);

  Act(15101, 1);  // online
  EXPECT_EQ(Act(15120, 10, 0, 400), 0);
  EXPECT_EQ(LastItemStatus(), 0);  // own entry: offered
  EXPECT_EQ(Act(15120, 10, contact, 400), 0);
  EXPECT_EQ(LastItemStatus(), -1);
  EXPECT_EQ(Last(10108)->Int("action"), 15120);
  EXPECT_EQ(Last(10108)->Int("parent"), 400);
  EXPECT_EQ(Last(10108)->Int("contact"), contact);
}

TEST_F(ActionsTest, FetchIsOfferedOnlyForNetworkFifteenWhileRunning) {
  const int contact = AddContact("B");
  host().OpenDetails(contact);
  host().SetDetailsText(contact, 1, "15");
  EXPECT_EQ(Act(15121, 10, contact, 402), 0);
  EXPECT_EQ(LastItemStatus(), -1);  // engine stopped

  Act(15101, 1);
  EXPECT_EQ(Act(15121, 10, contact, 402), 0);
  EXPECT_EQ(LastItemStatus(), 0);
  auto read = Last(10106);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->Int("action"), 0x13000001);
  EXPECT_EQ(read->Int("parent"), 410);
  EXPECT_EQ(read->Int("contact"), contact);

  for (const char* net : {"150", "1", " 15", ""}) {
    host().SetDetailsText(contact, 1, net);
    Act(15121, 10, contact, 402);
    EXPECT_EQ(LastItemStatus(), -1) << "network text \"" << net << "\"";
  }
}

TEST_F(ActionsTest, ContactActionsAskThePluginItself) {
  const int contact = AddContact("B");
  EXPECT_EQ(Act(15120, 1, 0), 0);
  EXPECT_EQ(Act(15121, 1, contact), 0);
  const auto sent = host().calls().All();
  std::vector<host::RecordedCall> toSelf;
  for (const auto& c : sent) {
    if (c.service == "SendToPlugin") toSelf.push_back(c);
  }
  ASSERT_EQ(toSelf.size(), 2u);
  EXPECT_EQ(toSelf[0].id, 34000);
  EXPECT_EQ(toSelf[0].Int("receiver"), plugin());
  EXPECT_EQ(Unpacked(toSelf[0].message.p1), 0);
  EXPECT_EQ(Unpacked(toSelf[0].message.p2), 1);
  EXPECT_EQ(toSelf[1].id, 34001);
  EXPECT_EQ(Unpacked(toSelf[1].message.p1), contact);
  EXPECT_EQ(Unpacked(toSelf[1].message.p2), 1);
  auto asked = Last(11016);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(Unpacked(asked->message.p1), contact);
  EXPECT_GT(asked->sequence, toSelf[1].sequence);
}

TEST_F(ActionsTest, OtherActionsAndCodesDoNothing) {
  const uint64_t mark = host().calls().Mark();
  EXPECT_EQ(Act(15999, 1), 0);
  EXPECT_EQ(Act(15002, 10), 0);
  EXPECT_EQ(Act(15120, 2), 0);
  EXPECT_EQ(Call(22200, 0), 0);
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
  SetSettingText(3, dir_ + "/app/");
  EXPECT_EQ(Act(15002, 1), 1);
  EXPECT_EQ(Opened(), dir_ + "/app/doc/Vask.html");

  MakeFile("appdoc/Vask.html");
  SetSettingText(3, dir_ + "/app");
  EXPECT_EQ(Act(15002, 1), 1);
  EXPECT_EQ(Opened(), dir_ + "/appdoc/Vask.html");
}

}  // namespace
}  // namespace vask::test
