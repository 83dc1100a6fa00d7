// What the plug-in declares to the host at start (settings columns, icons,
// interface items) and the start sequence around the host's "restore the
// last status" setting.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace vask::test {
namespace {

// The plug-in's texts are Windows-1250 bytes.
const std::string kAvailable = "Dost\xEApny";
const std::string kDnd = "Nie przeszkadza\xE6";
const std::string kOffline = "Niedost\xEApny";
const std::string kOnlyListed =
    "Komunikuj si\xEA TYLKO z komputerami na li\x9C"
    "cie";
const std::string kWinPopup = "Obs\xB3uguj WinPopup";
const std::string kResend = "Wysy\xB3\x61j ponownie wiadomo\x9C\x63i bez potwierdzenia";
const std::string kChannel = "Nazwa kana\xB3u";
const std::string kTransportField =
    "Wysy\xB3\x61nie\x01mailsloty, oba albo udp (oba: ka\xBF\x64y komputer us\xB3yszy)";
const std::string kTransport = "Wysy\xB3\x61nie (mailsloty / oba / udp)";

class RegistrationTest : public PluginFixture {
 protected:
  void BeforeStart() override {
    if (restore_ >= 0) SetSetting(kSettingRestoreStatus, restore_);
    if (stored_ >= 0) SetSetting(kSettingLastStatus, stored_);
  }
  int Status() { return static_cast<int>(Call(kMsgOwnStatus)); }
  size_t ThreadsStarted() {
    return host().calls().CountIf(
        [](const host::RecordedCall& c) { return c.service == "BeginThread"; });
  }
  int restore_ = -1;
  int stored_ = -1;
};

TEST_F(RegistrationTest, SettingsColumnsInOrder) {
  const auto columns = host().definedColumns();
  const struct {
    int column, type;
    intptr_t defaultInt;
    const char* defaultText;
    const char* name;
  } expected[] = {
      {kSettingLastStatus, kColumnInt, kStatusAvailable, "", "Vask/Status"},
      {kSettingStatusInfo, kColumnText, 0, "", "Vask/StatusInfo"},
      {kSettingOnlyListed, kColumnInt, 0, "", ""},
      {kSettingChannel, kColumnText, 0, "Vask", ""},
      {kSettingWinPopup, kColumnInt, 1, "", ""},
      // The plug-in's own state after the five of the settings page.
      {kSettingResend, kColumnInt, 1, "", "Vask/Resend"},
      {kSettingUnanswered, kColumnText, 0, "", "Vask/Unanswered"},
      {kSettingMessageNumber, kColumnInt, 0, "", "Vask/MessageNumber"},
      {kSettingSequence, kColumnInt, 0, "", "Vask/Sequence"},
      {kSettingTransport, kColumnText, 0, "oba", "Vask/Transport"},
  };
  ASSERT_EQ(columns.size(), std::size(expected));
  for (size_t i = 0; i < columns.size(); ++i) {
    SCOPED_TRACE(expected[i].column);
    EXPECT_EQ(columns[i].table, kTableSettings);
    EXPECT_EQ(columns[i].column, expected[i].column);
    EXPECT_EQ(columns[i].type, expected[i].type);
    if (expected[i].type == kColumnInt) {
      EXPECT_EQ(columns[i].defaultInt, expected[i].defaultInt);
    }
    EXPECT_EQ(columns[i].defaultText, expected[i].defaultText);
    EXPECT_EQ(columns[i].name, expected[i].name);
  }
}

// The nineteen items of the first version, with the switch for sending
// unanswered messages again among the settings' check boxes and the field
// of the ways datagrams go, with its label, after the channel's.
TEST_F(RegistrationTest, TwentyTwoItemsInOrder) {
  const auto added = host().calls().HostMessages(kMsgAddItem);
  ASSERT_EQ(added.size(), 22u);
  // The settings page's controls have no action id of their own (0); a
  // control bound to a settings column carries the column as its parameter.
  constexpr int kPage = kItemSettingsGroup;
  constexpr int kStatusMenu = kItemStatusOffline;
  const struct {
    int parent, action, style;
    std::string text;
    int param, width, height, size;
  } expected[] = {
      {kParentStatus, kStatusMenu, 16, "Vask", kIconOffline, 0, 0, 74},
      {kStatusMenu, kItemStatusAvailable, 0, kAvailable, kIconAvailable, 0, 0, 74},
      {kStatusMenu, kItemStatusBrb, 0, "Zaraz wracam", kIconBrb, 0, 0, 74},
      {kStatusMenu, kItemStatusDnd, 0, kDnd, kIconDnd, 0, 0, 74},
      {kStatusMenu, kItemStatusOffline, 0, kOffline, kIconOffline, 0, 0, 74},
      {kParentOwnDetails, kItemRefreshOwn, 0x1000000, "Vask", kIconPlugin, 0, 0, 74},
      {kParentContactDetails, kItemRefreshContact, 0x1000000, "Vask", kIconPlugin, 0, 0, 74},
      {kParentSettings, kPage, 16, "Vask", kIconPlugin, 0, 0, 74},
      {kPage, 0, 0x110040, "res://dll/111.ico", 0, 150, 50, 74},
      {kPage, 0, 0x81180, "<about>", 0, 0, 50, 74},
      {kPage, 0, 0xF0000, "", 0, 0, 0, 74},
      {kPage, kItemHelp, 0xE0180, "POMOC", 0, 40, 40, 78},
      {kPage, 0, 0x100000, "", 0, 0, 0, 74},
      {kPage, 0, 0xF0000, "Ustawienia", 0, 0, 0, 74},
      {kPage, 0, 0x60000, kOnlyListed, kSettingOnlyListed, 0, 0, 74},
      {kPage, 0, 0x60000, kWinPopup, kSettingWinPopup, 0, 0, 74},
      {kPage, 0, 0x60000, kResend, kSettingResend, 0, 0, 74},
      {kPage, 0, 0x160040, "<label>", kSettingChannel, 0, 0, 74},
      {kPage, 0, 0x90000, kChannel, 0, 0, 0, 74},
      {kPage, 0, 0x160040, kTransportField, kSettingTransport, 0, 0, 74},
      {kPage, 0, 0x90000, kTransport, 0, 0, 0, 74},
      {kPage, 0, 0x100000, "", 0, 0, 0, 74},
  };
  const int adjust = sizeof(void*) == 4 ? 0 : 4;  // the wider text pointer
  for (size_t i = 0; i < added.size(); ++i) {
    SCOPED_TRACE(i + 1);
    const host::RecordedCall& c = added[i];
    EXPECT_EQ(c.Int("parent"), expected[i].parent);
    EXPECT_EQ(c.Int("action"), expected[i].action);
    EXPECT_EQ(c.Int("contact"), -2);
    EXPECT_EQ(c.Int("position"), -1);
    EXPECT_EQ(c.Int("mask"), kActionMaskAdd);
    EXPECT_EQ(c.Int("status"), expected[i].style);
    EXPECT_EQ(c.Int("statusMask"), -1);
    EXPECT_EQ(c.Int("param"), expected[i].param);
    EXPECT_EQ(c.Int("width"), expected[i].width);
    EXPECT_EQ(c.Int("height"), expected[i].height);
    EXPECT_EQ(c.Int("size"), expected[i].size + adjust);
    if (expected[i].size == 78) {
      EXPECT_EQ(c.Int("extra1", -1), 0);
      EXPECT_EQ(c.Int("extra2", -1), 0);
    }
    if (expected[i].text.rfind('<', 0) != 0) {
      EXPECT_EQ(c.Text("text"), expected[i].text);
    }
  }
  const std::string about = added[9].Text("text");
  EXPECT_EQ(about.rfind("\r\n", 0), 0u);
  const size_t second = about.find("\r\n", 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(about.substr(second - 4, 4), " 0.1");
  EXPECT_EQ(about[second + 2], ' ');
}

// The eight icons in their order: each its resource group, id and kind.
// Swapping two of them, in the code or in the resource script, fails here.
TEST_F(RegistrationTest, EightIconsEachWithItsGroupIdAndKind) {
  struct Icon {
    int group;
    int32_t id;
    int32_t kind;
    const char* picture;  // the group's file in resources/vask.rc
    int status;           // the status it shows, or -1
  };
  const Icon expected[] = {
      {120, kIconPlugin, kIconKindIcon, "plugin.ico", -1},
      {101, kIconAvailable, kIconKindIcon, "available.ico", kStatusAvailable},
      {102, kIconOffline, kIconKindIcon, "offline.ico", kStatusOffline},
      {103, kIconBrb, kIconKindIcon, "be_right_back.ico", kStatusBrb},
      {105, kIconAway, kIconKindIcon, "auto_away.ico", kStatusAway},
      {104, kIconDnd, kIconKindIcon, "do_not_disturb.ico", kStatusDnd},
      {110, kIconMessage, kIconKindIcon, "message.ico", -1},
      {121, kIconSmall, kIconKindSmall, "plugin_small.ico", -1},
  };
  const auto icons = host().calls().HostMessages(kMsgRegisterIcon);
  ASSERT_EQ(icons.size(), std::size(expected));
  std::ifstream script(std::string(VASK_SOURCE_DIR) + "/resources/vask.rc");
  std::map<int, std::string> pictures;
  for (std::string line; std::getline(script, line);) {
    std::istringstream words(line);
    int group = 0;
    std::string type, file;
    if (words >> group >> type >> file && type == "ICON") pictures[group] = file;
  }
  for (size_t i = 0; i < icons.size(); ++i) {
    SCOPED_TRACE("icon " + std::to_string(i + 1));
    const auto& c = icons[i];
    EXPECT_EQ(c.Int("resourceId"), expected[i].group);
    EXPECT_EQ(c.Int("iconId"), expected[i].id);
    EXPECT_EQ(c.Int("kind"), expected[i].kind);
    EXPECT_EQ(c.Int("module"), reinterpret_cast<intptr_t>(control()->ModuleHandle()));
    // Every id carries the network in bits 20 to 27; a status icon is
    // 0x40F00000 and sixteen times its status.
    EXPECT_EQ((expected[i].id >> 20) & 0xFF, NET_LAN);
    if (expected[i].status >= 0) {
      EXPECT_EQ(expected[i].id, 0x40F00000 + 16 * expected[i].status);
    }
    EXPECT_EQ(pictures[expected[i].group], std::string("\"") + expected[i].picture + "\"");
  }
}

// The host keeps every declared item: the settings page's labels and
// pictures share action id 0 under one parent and must not replace one
// another, or the page would show only its last control.
TEST_F(RegistrationTest, HostKeepsEverySettingsPageItem) {
  std::vector<std::string> texts;
  for (const auto& item : host().items()) {
    if (item.parent == kItemSettingsGroup) texts.push_back(item.text);
  }
  ASSERT_EQ(texts.size(), 14u);
  EXPECT_EQ(texts[0], "res://dll/111.ico");
  EXPECT_EQ(texts[4], "");
  EXPECT_EQ(texts[6], kOnlyListed);
  EXPECT_EQ(texts[7], kWinPopup);
  EXPECT_EQ(texts[8], kResend);
  EXPECT_EQ(texts[10], kChannel);
  EXPECT_EQ(texts[11], kTransportField);
  EXPECT_EQ(texts[12], kTransport);
}

TEST_F(RegistrationTest, ChannelLabelIs73Bytes) {
  const auto added = host().calls().HostMessages(kMsgAddItem);
  ASSERT_EQ(added.size(), 22u);
  const std::string label = added[17].Text("text");
  ASSERT_EQ(label.size(), 73u);
  EXPECT_EQ(label.substr(0, 4), "Vask");
  EXPECT_EQ(label[4], '\x03');
  EXPECT_EQ(label.substr(5, 9), std::to_string(kIconPlugin));
  EXPECT_EQ(label[14], '\x01');
  EXPECT_EQ(label.substr(15, 6),
            "Mo\xBF"
            "esz");
}

TEST_F(RegistrationTest, WithSetting11OffTheStartStaysOffline) {
  auto announced = Last(kMsgAnnounceStatus);
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), kStatusOffline);
  EXPECT_EQ(announced->Text("text"), "");
  EXPECT_EQ(Count(kMsgAnnounceStatus), 1u);
  EXPECT_EQ(Status(), kStatusOffline);
  EXPECT_EQ(ThreadsStarted(), 0u);
}

class RestoringRegistrationTest : public RegistrationTest {
 protected:
  RestoringRegistrationTest() { restore_ = 1; }
};

TEST_F(RestoringRegistrationTest, WithSetting11OnTheStoredStatusStartsTheEngine) {
  EXPECT_EQ(Status(), kStatusAvailable);
  EXPECT_EQ(ThreadsStarted(), 1u);
  const auto announcements = host().calls().HostMessages(kMsgAnnounceStatus);
  ASSERT_EQ(announcements.size(), 2u);
  EXPECT_EQ(Unpacked(announcements[0].message.p2), kStatusOffline);
  EXPECT_EQ(Unpacked(announcements[1].message.p2), kStatusAvailable);
}

// 50 and 70: stored numbers that are no status.
class StoredFiftyTest : public RegistrationTest {
 protected:
  StoredFiftyTest() { restore_ = 1, stored_ = 50; }
};
TEST_F(StoredFiftyTest, IsRestoredAsDoNotDisturb) { EXPECT_EQ(Status(), kStatusDnd); }

class StoredSeventyTest : public RegistrationTest {
 protected:
  StoredSeventyTest() { restore_ = 1, stored_ = 70; }
};
TEST_F(StoredSeventyTest, IsRestoredAsAvailable) { EXPECT_EQ(Status(), kStatusAvailable); }

TEST_F(RestoringRegistrationTest, StatusInfoColumnIsNeverReadBack) {
  // A host that answers 246 as it came: the stand-in host would put the
  // description it keeps into the answer, which the plug-in does read.
  host().SetAnswer(kMsgAnnounceStatus, [](HostMessage*) { return std::optional<intptr_t>(0); });
  SetSettingText(kSettingStatusInfo, "stary opis");
  Call(kMsgSetStatus, kStatusBrb, 0);
  Call(kMsgSetStatus, kStatusOffline, 0);
  Call(kMsgStart);
  Call(kMsgSettingsChanged);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(kMsgOwnStatusInfo)), "");
  EXPECT_EQ(host().calls().CountIf([](const host::RecordedCall& c) {
    return (c.service == "GetValue" || c.service == "SetValue") && c.message.p1 == kTableSettings &&
           c.message.p3 == kSettingStatusInfo;
  }),
            0u);
}

}  // namespace
}  // namespace vask::test
