// The stand-in host's status menu, settings page and contact actions come
// from what the plug-in declared, and act through the plug-in's own events.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/script_host.h"
#include "plugin_fixture.h"

namespace vask::test {
namespace {

class DeclaredUiTest : public PluginFixture {
 protected:
  void SetUp() override {
    PluginFixture::SetUp();
    out_ = open_memstream(&buffer_, &size_);
    ASSERT_NE(out_, nullptr);
    script_ = std::make_unique<host::ScriptHost>(host(), plugin(), out_, false);
  }
  void TearDown() override {
    // The unload's messages still reach the script host; then it goes,
    // before the host core it refers to is freed.
    host().UnloadAll();
    script_.reset();
    PluginFixture::TearDown();
    std::fclose(out_);
    std::free(buffer_);
  }
  // The last event the script host wrote.
  std::string LastEvent() {
    std::fflush(out_);
    std::string all(buffer_, size_);
    if (!all.empty() && all.back() == '\n') all.pop_back();
    return all.substr(all.rfind('\n') == std::string::npos ? 0 : all.rfind('\n') + 1);
  }
  std::FILE* out_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::unique_ptr<host::ScriptHost> script_;
};

TEST_F(DeclaredUiTest, StatusMenuListsTheDeclaredItemsAndChoosingOneSetsTheStatus) {
  script_->Run("menu");
  const std::string menu = LastEvent();
  EXPECT_NE(menu.find("\"index\":3,\"action\":15103,\"text\":\"Nie przeszkadzać\""), std::string::npos)
      << menu;
  script_->Run("menu 3");
  EXPECT_EQ(host().ownStatus().status, 34);
  EXPECT_EQ(Call(30031), 34);
  script_->Run("menu Niedostępny");
  EXPECT_EQ(Call(30031), 0);
  script_->Run("menu Zajęty");
  EXPECT_NE(LastEvent().find("\"event\":\"error\""), std::string::npos);
}

TEST_F(DeclaredUiTest, SettingsPageShowsBoundControlsAndTakesTheirValues) {
  script_->Run("page");
  const std::string page = LastEvent();
  EXPECT_NE(page.find("\"text\":\"Obsługuj WinPopup\",\"column\":15003,\"value\":\"1\""),
            std::string::npos)
      << page;
  script_->Run("page 15002 Biuro");
  EXPECT_EQ(GetSettingText(15002), "Biuro");
  // Column 15000 is a setting of the plug-in, but no control of the page
  // edits it.
  script_->Run("page 15000 34");
  EXPECT_NE(LastEvent().find("\"event\":\"error\""), std::string::npos);
  EXPECT_EQ(GetSetting(15000), 64);
}

TEST_F(DeclaredUiTest, OwnEntryActionIsOfferedOnlyWhileTheEngineRuns) {
  script_->Run("action 15120 me");
  EXPECT_NE(LastEvent().find("action-withdrawn"), std::string::npos) << LastEvent();
  Call(33005, 64);
  script_->Run("action 15120 me");
  EXPECT_NE(LastEvent().find("action-done"), std::string::npos) << LastEvent();
}

}  // namespace
}  // namespace vask::test
