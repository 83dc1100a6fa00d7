// What vask-host refuses before it starts, and how it says so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_lan.h"

namespace vask::multi {
namespace {

// Runs vask-host with `arguments` and no input; its exit code and stderr.
std::pair<int, std::string> RunHost(const std::string& arguments, const std::string& scratch) {
  const std::string err = scratch + "/stderr";
  const std::string command =
      test::BuildDir() + "/vask-host " + arguments + " </dev/null >/dev/null 2>" + err;
  const int status = std::system(command.c_str());
  std::stringstream text;
  text << std::ifstream(err).rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

// The emulated LAN ignores a directory others may enter; the plug-in would
// only say it could not make its slots. The host says what is wrong first.
TEST(HostStartup, ALanDirectoryOthersMayEnterIsRefusedWithWhatToDo) {
  const std::string scratch = test::MakeTempDir("vask-start");
  ASSERT_FALSE(scratch.empty());
  const std::string lan = scratch + "/lan";
  ASSERT_EQ(::mkdir(lan.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(lan.c_str(), 0755), 0);
  auto [code, text] = RunHost("--computer A --profile :memory: --lan-dir " + lan, scratch);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("chmod 700 " + lan), std::string::npos) << text;

  ASSERT_EQ(::chmod(lan.c_str(), 0700), 0);
  std::tie(code, text) = RunHost("--computer A --profile :memory: --lan-dir " + lan, scratch);
  EXPECT_EQ(code, 0) << text;
  test::RemoveTree(scratch);
}

// The LAN directory is made (closed to others) when it is missing, as the
// emulated LAN would make it; a file in its place, or a symbolic link to a
// directory, is refused in Polish before anything starts.
TEST(HostStartup, AMissingLanDirectoryIsMadeAndAFileInItsPlaceRefused) {
  const std::string scratch = test::MakeTempDir("vask-start");
  ASSERT_FALSE(scratch.empty());
  const std::string lan = scratch + "/lan";
  auto [code, text] = RunHost("--computer A --profile :memory: --lan-dir " + lan, scratch);
  EXPECT_EQ(code, 0) << text;
  struct stat info {};
  ASSERT_EQ(::lstat(lan.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  const std::string link = scratch + "/link";
  ASSERT_EQ(::symlink(lan.c_str(), link.c_str()), 0);
  std::tie(code, text) = RunHost("--computer A --profile :memory: --lan-dir " + link, scratch);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("katalog sieci " + link + " nie jest katalogiem"), std::string::npos) << text;

  const std::string file = scratch + "/file";
  std::ofstream(file) << "x";
  std::tie(code, text) = RunHost("--computer A --profile :memory: --lan-dir " + file, scratch);
  EXPECT_EQ(code, 1);
  EXPECT_NE(text.find("katalog sieci " + file + " nie jest katalogiem"), std::string::npos) << text;
  test::RemoveTree(scratch);
}

}  // namespace
}  // namespace vask::multi
