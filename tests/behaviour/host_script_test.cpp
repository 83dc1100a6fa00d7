// vask-host's scripted mode and its text edge: commands in, JSON events
// out, UTF-8 on the user's side and Windows-1250 on the plug-in's.
#include <string>
#include <vector>

#include "base/log.h"
#include "host/commands/command_table.h"
#include "host/commands/contact_columns.h"
#include "host/events/host_event.h"
#include "host/text/text_codec.h"
#include "script_fixture.h"
#include "tests/fixtures/probe_ids.h"
#include "win32.h"

namespace vask::test {
namespace {

using host::Cp1250ToUtf8;
using host::Utf8ToCp1250;
namespace probe = vask::test_probe;

TEST(HostTextTest, PolishTextCrossesTheEdgeBothWaysExactly) {
  const std::string utf8 = "Zażółć gęślą jaźń ZAŻÓŁĆ GĘŚLĄ JAŹŃ €";
  const std::string cp1250 =
      "Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1 ZA\xaf\xd3\xa3\xc6 G\xca\x8cL\xa5 JA\x8f\xd1 "
      "\x80";
  auto converted = Utf8ToCp1250(utf8);
  ASSERT_TRUE(converted);
  EXPECT_EQ(*converted, cp1250);
  EXPECT_EQ(Cp1250ToUtf8(cp1250), utf8);
}

TEST(HostTextTest, CharactersWindows1250CannotHoldAreRefusedOrShownNeverDropped) {
  std::string bad;
  EXPECT_FALSE(Utf8ToCp1250("ok 😀 ok", &bad));
  EXPECT_EQ(bad, "😀");
  EXPECT_FALSE(Utf8ToCp1250("日本", &bad));
  EXPECT_FALSE(Utf8ToCp1250("broken \xc3", &bad));  // cut UTF-8
  // 0x81 is undefined in Windows-1250: it shows as a replacement character.
  EXPECT_EQ(Cp1250ToUtf8("a\x81z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(Cp1250ToUtf8(""), "");
}

TEST(HostTextTest, UpperCaseCoversPolishLettersInWindows1250) {
  auto lower = Utf8ToCp1250("żółw ąćęńś ź");
  ASSERT_TRUE(lower);
  EXPECT_EQ(Cp1250ToUtf8(host::UpperCp1250(*lower)), "ŻÓŁW ĄĆĘŃŚ Ź");
}

// A typed line may hold anything: an event line stays one valid line.
TEST(HostTextTest, EventLinesEscapeWhatWouldBreakALineAndSurviveBadUtf8) {
  EXPECT_EQ(
      host::EventLine(host::Event("x").Str("k", "ł\"b\\c\nd\x01").Int("n", -3).Null("z").json()),
      "{\"event\":\"x\",\"k\":\"ł\\\"b\\\\c\\nd\\u0001\",\"n\":-3,\"z\":null}");
  const std::string bad = host::EventLine(host::Event("x").Str("k", "a\xff\xc3").json());
  EXPECT_EQ(bad.find('\n'), std::string::npos);
  EXPECT_EQ(host::TextOf(host::EventJson::parse(bad), "k"), "a\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(host::SplitWords("send  B  two  words", 3),
            (std::vector<std::string>{"send", "B", "two  words"}));
}

// A script host over the probe plug-in.
class ScriptHostTest : public ScriptFixture {
 protected:
  std::string PluginPath() const override { return BuildDir() + "/libvask_test_plugin.so"; }
  std::string Received() { return reinterpret_cast<const char*>(Call(probe::kReceived)); }
};

TEST_F(ScriptHostTest, CommandsReachThePluginAndAnswerAsEvents) {
  const std::string echo = std::to_string(probe::kEcho);
  EXPECT_TRUE(script_->Run("msg " + echo + " 40 2"));
  EXPECT_TRUE(script_->Run("add BETA"));
  EXPECT_TRUE(script_->Run("set " + std::to_string(kSettingChannel) + " Kanał"));
  EXPECT_TRUE(script_->Run("frobnicate"));
  EXPECT_FALSE(script_->Run("quit"));
  auto events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0], "{\"event\":\"answer\",\"id\":" + echo + ",\"answer\":42}");
  EXPECT_NE(events[1].find("\"event\":\"contact-added\",\"contact\":1,\"computer\":\"BETA\""),
            std::string::npos);
  EXPECT_NE(events[2].find("\"value\":\"Kanał\""), std::string::npos);
  EXPECT_NE(events[3].find("\"event\":\"error\""), std::string::npos);
  // Stored as the plug-in reads it; the contact was reported to it.
  EXPECT_EQ(GetSettingText(kSettingChannel), "Kana\xb3");
  EXPECT_EQ(ContactText(1, kColumnId), "BETA");
  EXPECT_NE(Received().find(std::to_string(kMsgContactReported)), std::string::npos);
}

// The "help" event is written from the command table: every command that
// runs is listed, and every command listed runs (none is unknown).
TEST_F(ScriptHostTest, HelpListsEveryCommandAndEveryListedCommandRuns) {
  script_->Run("help");
  const std::string help = host::TextOf(host::EventJson::parse(LastEvent()), "commands");
  size_t rows = 0;
  for (const host::CommandRow& row : host::CommandTable()) {
    if (row.run == nullptr) {
      EXPECT_EQ(host::FindCommand(row.name), nullptr);
      continue;
    }
    ++rows;
    EXPECT_EQ(host::FindCommand(row.name), &row);
    if (!row.automation) {
      EXPECT_NE(help.find(std::string(row.name) + (*row.usage ? " " : "")), std::string::npos)
          << row.name;
    }
  }
  EXPECT_GE(rows, 30u);
  // The typed commands belong to the row of the scripted command they name.
  EXPECT_EQ(host::FindTypedCommand("/opis"), host::FindCommand("describe"));
  EXPECT_EQ(host::FindTypedCommand("/status"), host::FindCommand("status"));
  EXPECT_EQ(host::FindTypedCommand("status"), nullptr);
}

// Each command reads its line once, as many words as it takes: the rest of
// a setting's line is its value, blanks and all; a command that takes no
// arguments refuses them.
TEST_F(ScriptHostTest, ACommandTakesTheRestOfItsLineAsItsLastWord) {
  script_->Run("add  BETA");
  script_->Run("set " + std::to_string(kSettingChannel) + "   Kanał  dwa ");
  script_->Run("  # a remark");
  script_->Run("icons now");
  script_->Run("add BETA GAMMA");
  auto events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_NE(events[0].find("\"computer\":\"BETA\""), std::string::npos) << events[0];
  EXPECT_NE(events[1].find("\"value\":\"Kanał  dwa \""), std::string::npos) << events[1];
  EXPECT_EQ(GetSettingText(kSettingChannel), "Kana\xb3  dwa ");
  EXPECT_NE(events[events.size() - 2].find("Nieznane polecenie: icons"), std::string::npos);
  EXPECT_NE(events.back().find("Użycie: add"), std::string::npos) << events.back();
}

// "clock" turns the plug-in's clock in this process and says the whole
// offset now in force; the test turns it back, as other tests share it.
TEST_F(ScriptHostTest, ClockTurnsThePluginsClockAndSaysTheOffset) {
  const long long before = _time64(nullptr);
  script_->Run("clock +3600");
  const long long turned = _time64(nullptr);
  script_->Run("clock -3600");
  script_->Run("clock soon");
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "{\"event\":\"clock\",\"seconds\":3600,\"offset\":3600}");
  EXPECT_EQ(events[1], "{\"event\":\"clock\",\"seconds\":-3600,\"offset\":0}");
  EXPECT_NE(events[2].find("\"event\":\"error\",\"command\":\"clock\""), std::string::npos);
  EXPECT_GE(turned - before, 3600);
  EXPECT_LT(_time64(nullptr) - before, 60);
}

TEST_F(ScriptHostTest, ATextWindows1250CannotHoldRefusesTheWholeCommand) {
  script_->Run("add BETA");
  script_->Run("send BETA tak 😀");
  script_->Run("status " + std::to_string(kStatusAvailable) + " 😀");
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_NE(events[1].find("\"event\":\"error\",\"command\":\"send\""), std::string::npos);
  EXPECT_NE(events[2].find("\"event\":\"error\",\"command\":\"status\""), std::string::npos);
  std::string received = Received();
  EXPECT_EQ(received.find(std::to_string(kMsgSendMessage)), std::string::npos);
  EXPECT_EQ(received.find(std::to_string(kMsgSetStatus)), std::string::npos);
}

TEST_F(ScriptHostTest, HostMessagesOfThePluginBecomeUtf8Events) {
  HostMessage log{};
  log.size = HostMessageSize(2);
  log.id = kMsgLog;
  log.p1 = reinterpret_cast<intptr_t>(
      "B\xb3\xb9"
      "d");  // "Błąd" in CP1250
  log.p2 = kLogLevel;
  control()->SendToHost(&log);
  HostMessage box{};
  box.size = HostMessageSize(2);
  box.id = kMsgErrorBox;
  box.p1 = reinterpret_cast<intptr_t>("\x9cwiat");
  control()->SendToHost(&box);
  auto events = Events();
  ASSERT_EQ(events.size(), 3u);  // the log line, the box's message, its host event
  const std::string boxId = std::to_string(kMsgErrorBox);
  EXPECT_NE(events[0].find("\"event\":\"host-message\",\"id\":" + std::to_string(kMsgLog) + ","),
            std::string::npos);
  EXPECT_NE(events[0].find("\"text\":\"Błąd\",\"level\":" + std::to_string(kLogLevel)),
            std::string::npos);
  EXPECT_NE(events[1].find("\"id\":" + boxId), std::string::npos);
  EXPECT_NE(events[2].find("\"event\":\"message-box\",\"id\":" + boxId + ",\"text\":\"świat\""),
            std::string::npos);
}

// The own details, the search keys and the labels share one table of
// columns: a word names the same column everywhere, numbers stay numbers,
// and own-details lists the own columns only.
TEST_F(ScriptHostTest, OwnDetailsTakeTheColumnsByWordOrNumberFromTheOneTable) {
  for (const host::ContactColumn& c : host::ContactColumns()) {
    if (c.key == nullptr) continue;
    EXPECT_EQ(host::ColumnForKey(c.key), c.column) << c.key;
    EXPECT_EQ(host::ColumnLabel(c.column), c.label) << c.key;
  }
  EXPECT_EQ(host::ColumnForKey("Imię"), kColumnFirstName);
  EXPECT_EQ(host::ColumnForKey("E-Mail"), kColumnEmail);
  EXPECT_EQ(host::ColumnForKey("imię"), kColumnFirstName);
  EXPECT_EQ(host::ColumnLabel(kColumnNet), "kolumna " + std::to_string(kColumnNet));

  script_->Run("own imię Ala");
  script_->Run("own " + std::to_string(kColumnQueryCity) + " Kraków");
  script_->Run("own rok dwa");
  script_->Run("own płeć " + std::to_string(kGenderFemale));
  script_->Run("own-details");
  auto events = Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(ContactText(kOwnEntry, kColumnFirstName), "Ala");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnQueryCity), "Krak\xf3w");
  EXPECT_NE(events[2].find("Rok urodzenia to liczba"), std::string::npos) << events[2];
  EXPECT_NE(events[3].find("\"column\":" + std::to_string(kColumnGender) + ",\"value\":\"" +
                           std::to_string(kGenderFemale) + "\""),
            std::string::npos)
      << events[3];
  const host::EventJson own = host::EventJson::parse(events[4]);
  const host::EventJson& columns = own.at("columns");
  for (const host::ContactColumn& c : host::ContactColumns()) {
    EXPECT_EQ(columns.contains(std::to_string(c.column)), c.own) << c.column;
  }
  EXPECT_EQ(columns.at(std::to_string(kColumnFirstName)), "Ala");
  EXPECT_EQ(columns.at(std::to_string(kColumnQueryCity)), "Kraków");
}

// The city, named by word or by number, fills the column a search's city is
// matched against too; that column named alone is set alone.
TEST_F(ScriptHostTest, OwnCityFillsTheColumnSearchesMatch) {
  script_->Run("own miasto Łódź");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnCity),
            "\xa3\xf3"
            "d\x9f");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnQueryCity),
            "\xa3\xf3"
            "d\x9f");
  script_->Run("own " + std::to_string(kColumnCity) + " Kraków");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnQueryCity), "Krak\xf3w");
  script_->Run("own " + std::to_string(kColumnQueryCity) + " Gdańsk");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnCity), "Krak\xf3w");
  EXPECT_EQ(ContactText(kOwnEntry, kColumnQueryCity), "Gda\xf1sk");
  // Each column filled is told.
  auto events = Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_NE(events[1].find("\"column\":" + std::to_string(kColumnQueryCity)), std::string::npos)
      << events[1];
}

}  // namespace
}  // namespace vask::test
