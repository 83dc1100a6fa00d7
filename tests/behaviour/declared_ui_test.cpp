// The stand-in host's status menu, settings page and contact actions come
// from what the plug-in declared, and act through the plug-in's own events.
#include <string>

#include "script_fixture.h"

namespace vask::test {
namespace {

using DeclaredUiTest = ScriptFixture;

TEST_F(DeclaredUiTest, StatusMenuListsTheDeclaredItemsAndChoosingOneSetsTheStatus) {
  script_->Run("menu");
  const std::string menu = LastEvent();
  EXPECT_NE(menu.find("\"index\":3,\"action\":" + std::to_string(kItemStatusDnd) +
                      ",\"text\":\"Nie przeszkadzać\""),
            std::string::npos)
      << menu;
  script_->Run("menu 3");
  EXPECT_EQ(host().ownStatus().status, kStatusDnd);
  EXPECT_EQ(Call(kMsgOwnStatus), kStatusDnd);
  script_->Run("menu Niedostępny");
  EXPECT_EQ(Call(kMsgOwnStatus), kStatusOffline);
  script_->Run("menu Zajęty");
  EXPECT_NE(LastEvent().find("\"event\":\"error\""), std::string::npos);
}

TEST_F(DeclaredUiTest, SettingsPageShowsBoundControlsAndTakesTheirValues) {
  script_->Run("page");
  const std::string page = LastEvent();
  EXPECT_NE(page.find("\"text\":\"Obsługuj WinPopup\",\"column\":" +
                      std::to_string(kSettingWinPopup) + ",\"value\":\"1\""),
            std::string::npos)
      << page;
  script_->Run("page " + std::to_string(kSettingChannel) + " Biuro");
  EXPECT_EQ(GetSettingText(kSettingChannel), "Biuro");
  // The last status is a setting of the plug-in, but no control of the page
  // edits it.
  script_->Run("page " + std::to_string(kSettingLastStatus) + " " + std::to_string(kStatusDnd));
  EXPECT_NE(LastEvent().find("\"event\":\"error\""), std::string::npos);
  EXPECT_EQ(GetSetting(kSettingLastStatus), kStatusAvailable);
}

TEST_F(DeclaredUiTest, OwnEntryActionIsOfferedOnlyWhileTheEngineRuns) {
  const std::string action = "action " + std::to_string(kItemRefreshOwn) + " me";
  script_->Run(action);
  EXPECT_NE(LastEvent().find("action-withdrawn"), std::string::npos) << LastEvent();
  Call(kMsgSetStatus, kStatusAvailable);
  script_->Run(action);
  EXPECT_NE(LastEvent().find("action-done"), std::string::npos) << LastEvent();
}

}  // namespace
}  // namespace vask::test
