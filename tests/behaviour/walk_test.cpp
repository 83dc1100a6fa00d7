// The walk of the network neighbourhood from the search form, over the
// emulated LAN: computers run while they hold a slot, workgroups are folders.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "tests/support/lan_peer.h"
#include "tests/support/stuck_slot.h"

namespace vask::test {
namespace {

constexpr const char* kWalkError =
    "Wyst\xb9pi\xb3 b\xb3\xb9"
    "d podczas wyszukiwania!";

class WalkTest : public PluginFixture {
 protected:
  void TearDown() override {
    host().PressCancel();
    peers_.clear();
    PluginFixture::TearDown();
  }

  // A running computer of `workgroup` (the platform reads the workgroup at
  // each call), with an optional comment.
  void AddComputer(const std::string& name, const std::string& workgroup = "WORKGROUP",
                   const char* comment = nullptr) {
    setenv("VASK_WORKGROUP", workgroup.c_str(), 1);
    peers_.push_back(std::make_unique<LanPeer>(name));
    setenv("VASK_WORKGROUP", workgroup_.c_str(), 1);
    ASSERT_TRUE(peers_.back()->ok()) << name;
    if (comment)
      std::ofstream(lanDir() + "/" + workgroup + "/" + name + "/comment") << comment << "\n";
  }

  // Runs a walk request to its end; the host's record afterwards.
  FoundContact Walk(const std::string& uid) {
    FoundContact request{};
    request.size = sizeof request;
    request.status = 0;
    std::strncpy(request.uid, uid.c_str(), sizeof request.uid - 1);
    auto search = std::async(
        std::launch::async, [&] { return Call(kMsgSearch, reinterpret_cast<intptr_t>(&request)); });
    EXPECT_EQ(search.wait_for(10s), std::future_status::ready) << "the walk ends by itself";
    EXPECT_EQ(search.get(), 0);
    return request;
  }

  std::set<std::string> FoundNames() {
    std::set<std::string> names;
    for (const FoundContact& found : host().foundContacts()) names.insert(found.uid);
    return names;
  }
  const FoundContact* Found(const std::string& uid, std::vector<FoundContact>& all) {
    all = host().foundContacts();
    for (const FoundContact& found : all) {
      if (uid == found.uid) return &found;
    }
    return nullptr;
  }
  bool Logged(const std::string& text) {
    return host().calls().CountIf([&](const host::RecordedCall& c) {
      return c.IsHostMessage() && c.id == kMsgLog && c.Text("text") == text;
    }) > 0;
  }

  std::vector<std::unique_ptr<LanPeer>> peers_;
};

TEST_F(WalkTest, FilterIsMatchedAgainstTheListedName) {
  AddComputer("PC12");
  AddComputer("OFFICE-PC");
  AddComputer("SERVER");

  Walk("pc");
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12", "OFFICE-PC"}));
  EXPECT_TRUE(Logged("- Enumerating network resources of '/'..."));

  host().ClearFoundContacts();
  Walk("\\");
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12", "OFFICE-PC", "SERVER"}))
      << "one backslash is in every listed name";

  host().ClearFoundContacts();
  Walk("SERV*");
  EXPECT_TRUE(FoundNames().empty()) << "a uid that contains \"*\" is a plain filter";
}

TEST_F(WalkTest, StarWalksTheOwnWorkgroupAndClearsTheRequest) {
  AddComputer("PC12");
  AddComputer("FAR", "OTHER");
  FoundContact request = Walk("*");
  EXPECT_EQ(request.uid[0], '\0');
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12"}));
  EXPECT_EQ(Count(kMsgErrorBox), 0u);
}

TEST_F(WalkTest, AtWalksEveryWorkgroupFromTheRoot) {
  AddComputer("PC12");
  AddComputer("FAR", "OTHER");
  AddComputer("NEAR", "OTHER");
  FoundContact request = Walk("@");
  EXPECT_STREQ(request.uid, "@");
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12", "FAR", "NEAR"}));
  EXPECT_TRUE(Logged("- Enumerating network resources of '/'..."));
  EXPECT_TRUE(Logged("- Enumerating network resources of 'Vask emulated LAN'..."));
  EXPECT_TRUE(Logged("- Enumerating network resources of 'OTHER'..."));
  EXPECT_TRUE(Logged("- Enumerating network resources of 'WORKGROUP'..."));
  EXPECT_FALSE(Logged("- Enumerating network resources of '\\\\PC12'..."))
      << "computers are not entered";
}

// Workgroup folders another hand made, one in lower case and one longer
// than a NetBIOS name: both walked, their computers found, no error box.
TEST_F(WalkTest, LowerCaseAndLongWorkgroupFoldersAreWalkedWithoutAnError) {
  AddComputer("PC12");
  StuckSlot lower(lanDir(), "dom", "PC7");
  StuckSlot longer(lanDir(), "ABCDEFGHIJKLMNOPQRST", "PC8");
  ASSERT_TRUE(lower.ok() && longer.ok());
  Walk("@");
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12", "PC7", "PC8"}));
  EXPECT_EQ(Count(kMsgErrorBox), 0u);
  EXPECT_TRUE(Logged("- Enumerating network resources of 'dom'..."));
  EXPECT_TRUE(Logged("- Enumerating network resources of 'ABCDEFGHIJKLMNOPQRST'..."));
}

TEST_F(WalkTest, ComputerRecordCarriesNameCommentAndProvider) {
  AddComputer("PC12", "WORKGROUP", "Biuro");
  AddComputer("BARE");
  const std::string longComment(120, 'c');
  AddComputer("LONG", "WORKGROUP", longComment.c_str());
  Walk("*");

  std::vector<FoundContact> all;
  const FoundContact* pc = Found("PC12", all);
  ASSERT_NE(pc, nullptr);
  EXPECT_STREQ(pc->column17, "Biuro (PC12)");
  EXPECT_STREQ(pc->provider, "Vask emulated LAN");
  EXPECT_EQ(Unpacked(pc->status), kStatusOffline);
  EXPECT_EQ(pc->net, NET_LAN);
  EXPECT_EQ(pc->size, sizeof(FoundContact));
  EXPECT_STREQ(pc->column6, "");
  EXPECT_EQ(pc->gender, 0);

  const FoundContact* bare = Found("BARE", all);
  ASSERT_NE(bare, nullptr);
  EXPECT_STREQ(bare->column17, "") << "no comment, and the level's record reused";

  const FoundContact* cut = Found("LONG", all);
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(std::string(cut->column17), longComment.substr(0, 100));

  EXPECT_TRUE(Logged(
      "   > found '\\\\PC12' disp=2 type=0 usage=2 local='' c='Biuro' p='Vask emulated LAN'"));
  EXPECT_TRUE(
      Logged("   > found '\\\\BARE' disp=2 type=0 usage=2 local='' c='' p='Vask emulated LAN'"));
}

TEST_F(WalkTest, ContainerThatCannotBeOpenedShowsOneErrorAndTheWalkGoesOn) {
  AddComputer("FAR", "OTHER");
  AddComputer("PC12");
  // The workgroup vanishes between being listed and being opened.
  const std::string other = lanDir() + "/OTHER";
  SetAnswer(kMsgLog, [other](HostMessage* m) -> std::optional<intptr_t> {
    const char* text = reinterpret_cast<const char*>(m->p1);
    if (text && std::strcmp(text, "- Enumerating network resources of 'OTHER'...") == 0) {
      std::error_code error;
      std::filesystem::rename(other, other + "-gone", error);
    }
    return std::nullopt;
  });
  Walk("@");
  ASSERT_EQ(Count(kMsgErrorBox), 1u);
  EXPECT_EQ(Last(kMsgErrorBox)->Text("text"), kWalkError);
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"PC12"}));
  EXPECT_EQ(Count(kMsgSearchNoticeHide), 1u);
}

TEST_F(WalkTest, CancelDeepInTheTreeUnwindsEveryLevel) {
  AddComputer("FAR1", "OTHER");
  AddComputer("FAR2", "OTHER");
  AddComputer("PC12");
  AddComputer("NEXT", "ZED");
  // Cancel when the first computer of the first workgroup is reported.
  SetAnswer(kMsgFoundContact, [this](HostMessage*) -> std::optional<intptr_t> {
    host().PressCancel();
    return std::nullopt;
  });
  Walk("@");
  EXPECT_EQ(FoundNames(), (std::set<std::string>{"FAR1"}));
  EXPECT_FALSE(Logged("- Enumerating network resources of 'WORKGROUP'..."));
  EXPECT_FALSE(Logged("- Enumerating network resources of 'ZED'..."));
  EXPECT_TRUE(host().openNotices().empty());
}

}  // namespace
}  // namespace vask::test
