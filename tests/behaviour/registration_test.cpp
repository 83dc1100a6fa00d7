// What the plug-in declares to the host at start (settings columns, icons,
// interface items) and the start sequence around setting 11.
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace vask::test {
namespace {

// The plug-in's texts are Windows-1250 bytes.
const std::string kAvailable = "Dost\xEApny";
const std::string kDnd = "Nie przeszkadza\xE6";
const std::string kOffline = "Niedost\xEApny";
const std::string kOnlyListed = "Komunikuj si\xEA TYLKO z komputerami na li\x9C" "cie";
const std::string kWinPopup = "Obs\xB3uguj WinPopup";
const std::string kChannel = "Nazwa kana\xB3u";

class RegistrationTest : public PluginFixture {
 protected:
  void BeforeStart() override {
    if (restore_ >= 0) SetSetting(11, restore_);
    if (stored_ >= 0) SetSetting(15000, stored_);
  }
  int Status() { return static_cast<int>(Call(30031)); }
  size_t ThreadsStarted() {
    return host().calls().CountIf([](const host::RecordedCall& c) { return c.service == "BeginThread"; });
  }
  int restore_ = -1;
  int stored_ = -1;
};

TEST_F(RegistrationTest, SettingsColumnsInOrder) {
  const auto columns = host().definedColumns();
  ASSERT_EQ(columns.size(), 5u);
  const struct {
    int column, type;
    intptr_t defaultInt;
    const char* defaultText;
    const char* name;
  } expected[] = {
      {15000, kColumnInt, 64, "", "Vask/Status"},
      {15004, kColumnText, 0, "", "Vask/StatusInfo"},
      {15001, kColumnInt, 0, "", ""},
      {15002, kColumnText, 0, "Vask", ""},
      {15003, kColumnInt, 1, "", ""},
  };
  for (size_t i = 0; i < columns.size(); ++i) {
    SCOPED_TRACE(expected[i].column);
    EXPECT_EQ(columns[i].table, 0);
    EXPECT_EQ(columns[i].column, expected[i].column);
    EXPECT_EQ(columns[i].type, expected[i].type);
    if (expected[i].type == kColumnInt) {
      EXPECT_EQ(columns[i].defaultInt, expected[i].defaultInt);
    }
    EXPECT_EQ(columns[i].defaultText, expected[i].defaultText);
    EXPECT_EQ(columns[i].name, expected[i].name);
  }
}

TEST_F(RegistrationTest, NineteenItemsInOrder) {
  const auto added = host().calls().HostMessages(10101);
  ASSERT_EQ(added.size(), 19u);
  const struct {
    int parent, action, style;
    std::string text;
    int param, width, height, size;
  } expected[] = {
      {50, 15100, 16, "Vask", 0x40F00000, 0, 0, 74},
      {15100, 15101, 0, kAvailable, 0x40F00400, 0, 0, 74},
      {15100, 15102, 0, "Zaraz wracam", 0x40F00410, 0, 0, 74},
      {15100, 15103, 0, kDnd, 0x40F00220, 0, 0, 74},
      {15100, 15100, 0, kOffline, 0x40F00000, 0, 0, 74},
      {400, 15120, 0x1000000, "Vask", 0x20F00000, 0, 0, 74},
      {402, 15121, 0x1000000, "Vask", 0x20F00000, 0, 0, 74},
      {43, 15000, 16, "Vask", 0x20F00000, 0, 0, 74},
      {15000, 0, 0x110040, "res://dll/111.ico", 0, 150, 50, 74},
      {15000, 0, 0x81180, "<about>", 0, 0, 50, 74},
      {15000, 0, 0xF0000, "", 0, 0, 0, 74},
      {15000, 15002, 0xE0180, "POMOC", 0, 40, 40, 78},
      {15000, 0, 0x100000, "", 0, 0, 0, 74},
      {15000, 0, 0xF0000, "Ustawienia", 0, 0, 0, 74},
      {15000, 0, 0x60000, kOnlyListed, 15001, 0, 0, 74},
      {15000, 0, 0x60000, kWinPopup, 15003, 0, 0, 74},
      {15000, 0, 0x160040, "<label>", 15002, 0, 0, 74},
      {15000, 0, 0x90000, kChannel, 0, 0, 0, 74},
      {15000, 0, 0x100000, "", 0, 0, 0, 74},
  };
  const int adjust = sizeof(void*) == 4 ? 0 : 4;  // the wider text pointer
  for (size_t i = 0; i < added.size(); ++i) {
    SCOPED_TRACE(i + 1);
    const host::RecordedCall& c = added[i];
    EXPECT_EQ(c.Int("parent"), expected[i].parent);
    EXPECT_EQ(c.Int("action"), expected[i].action);
    EXPECT_EQ(c.Int("contact"), -2);
    EXPECT_EQ(c.Int("position"), -1);
    EXPECT_EQ(c.Int("mask"), 863);
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

// The host keeps every declared item: the settings page's labels and
// pictures share action id 0 under one parent and must not replace one
// another, or the page would show only its last control.
TEST_F(RegistrationTest, HostKeepsEverySettingsPageItem) {
  std::vector<std::string> texts;
  for (const auto& item : host().items()) {
    if (item.parent == 15000) texts.push_back(item.text);
  }
  ASSERT_EQ(texts.size(), 11u);
  EXPECT_EQ(texts[0], "res://dll/111.ico");
  EXPECT_EQ(texts[4], "");
  EXPECT_EQ(texts[6], kOnlyListed);
  EXPECT_EQ(texts[7], kWinPopup);
  EXPECT_EQ(texts[9], kChannel);
}

TEST_F(RegistrationTest, ChannelLabelIs73Bytes) {
  const auto added = host().calls().HostMessages(10101);
  ASSERT_EQ(added.size(), 19u);
  const std::string label = added[16].Text("text");
  ASSERT_EQ(label.size(), 73u);
  EXPECT_EQ(label.substr(0, 4), "Vask");
  EXPECT_EQ(label[4], '\x03');
  EXPECT_EQ(label.substr(5, 9), "552599552");  // 0x20F00000
  EXPECT_EQ(label[14], '\x01');
  EXPECT_EQ(label.substr(15, 6), "Mo\xBF" "esz");
}

TEST_F(RegistrationTest, WithSetting11OffTheStartStaysOffline) {
  auto announced = Last(246);
  ASSERT_TRUE(announced.has_value());
  EXPECT_EQ(Unpacked(announced->message.p2), 0);
  EXPECT_EQ(announced->Text("text"), "");
  EXPECT_EQ(Count(246), 1u);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(ThreadsStarted(), 0u);
}

class RestoringRegistrationTest : public RegistrationTest {
 protected:
  RestoringRegistrationTest() { restore_ = 1; }
};

TEST_F(RestoringRegistrationTest, WithSetting11OnTheStoredStatusStartsTheEngine) {
  EXPECT_EQ(Status(), 64);
  EXPECT_EQ(ThreadsStarted(), 1u);
  const auto announcements = host().calls().HostMessages(246);
  ASSERT_EQ(announcements.size(), 2u);
  EXPECT_EQ(Unpacked(announcements[0].message.p2), 0);
  EXPECT_EQ(Unpacked(announcements[1].message.p2), 64);
}

class StoredFiftyTest : public RegistrationTest {
 protected:
  StoredFiftyTest() { restore_ = 1, stored_ = 50; }
};
TEST_F(StoredFiftyTest, IsRestoredAsDoNotDisturb) { EXPECT_EQ(Status(), 34); }

class StoredSeventyTest : public RegistrationTest {
 protected:
  StoredSeventyTest() { restore_ = 1, stored_ = 70; }
};
TEST_F(StoredSeventyTest, IsRestoredAsAvailable) { EXPECT_EQ(Status(), 64); }

TEST_F(RestoringRegistrationTest, StatusInfoColumnIsNeverReadBack) {
  SetSettingText(15004, "stary opis");
  Call(33005, 65, 0);
  Call(33005, 0, 0);
  Call(22100);
  Call(21020);
  EXPECT_STREQ(reinterpret_cast<const char*>(Call(30032)), "");
  EXPECT_EQ(host().calls().CountIf([](const host::RecordedCall& c) {
    return (c.service == "GetValue" || c.service == "SetValue") && c.message.p1 == kTableSettings &&
           c.message.p3 == 15004;
  }),
            0u);
}

}  // namespace
}  // namespace vask::test
