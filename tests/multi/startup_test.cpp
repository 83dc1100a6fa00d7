// What vask-host refuses before it starts, and how it says so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

}  // namespace
}  // namespace vask::multi
