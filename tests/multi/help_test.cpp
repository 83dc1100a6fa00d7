// The help button in vask-host: the plug-in opens "doc/Vask.html" below the
// host's folder, and that is a file that exists, beside the library.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

class HostHelp : public MultiFixture {
 protected:
  void SetUp() override {
    MultiFixture::SetUp();
    bin_ = test::MakeTempDir("vask-help");
    ASSERT_FALSE(bin_.empty());
    // A stand-in opener that writes down what it was asked to open.
    const std::string opener = bin_ + "/xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << bin_ << "/opened.tmp'\nmv '"
                          << bin_ << "/opened.tmp' '" << bin_ << "/opened'\n";
    ASSERT_EQ(::chmod(opener.c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    // The hosts started from here inherit it.
    ::setenv("PATH", (bin_ + ":/usr/bin:/bin").c_str(), 1);
  }
  void TearDown() override {
    MultiFixture::TearDown();
    ::setenv("PATH", savedPath_.c_str(), 1);
    test::RemoveTree(bin_);
  }

  std::string bin_;
  std::string savedPath_;
};

TEST_F(HostHelp, TheHelpButtonOpensTheDocumentBesideThePlugin) {
  HostProcess& host = StartHost("A");
  size_t mark = host.Mark();
  host.Send("get " + std::to_string(kSettingHostFolder));
  auto folder = host.WaitFor(IsEvent("setting"), mark);
  ASSERT_TRUE(folder.has_value());
  EXPECT_EQ(JsonField(*folder, "value").value_or("").back(), '/') << *folder;

  mark = host.Mark();
  host.Send("page press " + std::to_string(kItemHelp));
  auto pressed = host.WaitFor(IsEvent("page-pressed"), mark);
  ASSERT_TRUE(pressed.has_value()) << "no help button on the settings page";
  EXPECT_EQ(JsonInt(*pressed, "answer"), 1);

  // The opener runs beside the host; its note is there within the bound.
  const std::string note = bin_ + "/opened";
  for (int i = 0; i < 2000 && !std::filesystem::exists(note); ++i) ::usleep(10000);
  std::string opened;
  std::ifstream(note) >> opened;
  ASSERT_FALSE(opened.empty()) << "the help action opened nothing";
  EXPECT_TRUE(std::filesystem::is_regular_file(opened)) << opened;
  std::error_code error;
  EXPECT_TRUE(std::filesystem::equivalent(opened, test::BuildDir() + "/doc/Vask.html", error))
      << opened;
}

}  // namespace
}  // namespace vask::multi
