// The bridge's files in the LAN directory: the neighbours file as the
// bridge writes it and the Win32 subset's enumeration reads it, hostile
// names and comments included; and the bridge's capped log file.
#include "bridge/lan_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/log_file.h"
#include "bridge_link.h"
#include "win32.h"

namespace vask::bridge {
namespace {

class LanFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vask-lan-folder.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    lan_ = pattern;
    ::setenv("VASK_LAN_DIR", lan_.c_str(), 1);
    ::setenv("COMPUTERNAME", "ALPHA", 1);
    ::setenv("VASK_WORKGROUP", "WORKGROUP", 1);
    ::setenv("VASK_REAL_LAN", "1", 1);
  }
  void TearDown() override {
    ::unsetenv("VASK_REAL_LAN");
    std::system(("rm -rf '" + lan_ + "'").c_str());
  }

  std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  // The computers the enumeration lists in our workgroup, with comments.
  std::vector<std::pair<std::string, std::string>> Listed() {
    std::vector<std::pair<std::string, std::string>> out;
    HANDLE e = nullptr;
    if (WNetOpenEnumA(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &e) != NO_ERROR) return out;
    alignas(NETRESOURCEA) char buffer[16384];
    for (;;) {
      DWORD count = 100, size = sizeof buffer;
      if (WNetEnumResourceA(e, &count, buffer, &size) != NO_ERROR) break;
      auto* records = reinterpret_cast<NETRESOURCEA*>(buffer);
      for (DWORD i = 0; i < count; ++i) {
        out.emplace_back(records[i].lpRemoteName,
                         records[i].lpComment ? records[i].lpComment : "(none)");
      }
    }
    WNetCloseEnum(e);
    return out;
  }

  std::string lan_;
};

TEST_F(LanFolderTest, HostileNamesNeverReachTheNeighboursFileAndCommentsSurviveIntact) {
  LanFolder folder(lan_, "WORKGROUP");
  std::vector<Neighbour> neighbours = {
      {"BRAVO", "WORKGROUP", "Pokój 12, piętro 3", 0x0A000002, 0},
      {"TWO WORDS", "WORKGROUP", "", 0x0A000003, 0},
      {"EVIL\nWORKGROUP", "WORKGROUP", "", 0x0A000004, 0},
      {"CHARLIE", "WORK GROUP", "", 0x0A000005, 0},
      {"DELTA", "WORKGROUP", "a\nWORKGROUP MALLORY 1.2.3.4\t100%", 0x0A000006, 0},
      {"ECHO", "WORKGROUP", "", 0x0A000007, 0}};
  folder.WriteNeighbours(neighbours);
  std::string text = ReadFile(lan_ + "/" + bridge_link::kNeighboursName);
  EXPECT_EQ(text,
            "WORKGROUP BRAVO 10.0.0.2 Pokój%2012,%20piętro%203\n"
            "WORKGROUP DELTA 10.0.0.6 a%0AWORKGROUP%20MALLORY%201.2.3.4%09100%25\n"
            "WORKGROUP ECHO 10.0.0.7 \n");

  std::vector<std::pair<std::string, std::string>> expected = {
      {"\\\\BRAVO", "Pokój 12, piętro 3"},
      {"\\\\DELTA", "a\nWORKGROUP MALLORY 1.2.3.4\t100%"},
      {"\\\\ECHO", "(none)"}};
  EXPECT_EQ(Listed(), expected);
}

TEST_F(LanFolderTest, TheReaderRefusesLinesTheBridgeNeverWrites) {
  std::ofstream(lan_ + "/" + bridge_link::kNeighboursName)
      << "WORKGROUP BRAVO 10.0.0.2\n"        // the older form, no comment
      << "WORKGROUP TWO WORDS 10.0.0.3 x\n"  // a name with a blank: five fields
      << "WORKGROUP ../ETC 10.0.0.4\n"
      << "WORKGROUP\n"
      << "WORKGROUP " << std::string(16, 'L') << " 10.0.0.5\n"
      << "workgroup charlie 10.0.0.6 hi%20there\n";
  std::vector<std::pair<std::string, std::string>> expected = {{"\\\\BRAVO", "(none)"},
                                                               {"\\\\CHARLIE", "hi there"}};
  EXPECT_EQ(Listed(), expected);
}

TEST_F(LanFolderTest, ACommentIsTheFirstLineOfTheComputersFile) {
  ::mkdir((lan_ + "/WORKGROUP").c_str(), 0700);
  ::mkdir((lan_ + "/WORKGROUP/ALPHA").c_str(), 0700);
  std::ofstream(lan_ + "/WORKGROUP/ALPHA/comment") << "Biurko przy oknie\r\nsecond line\n";
  LanFolder folder(lan_, "workgroup");
  EXPECT_EQ(folder.Comment("alpha"), "Biurko przy oknie");
  EXPECT_EQ(folder.Comment("BRAVO"), "");
  std::ofstream(lan_ + "/WORKGROUP/ALPHA/comment") << std::string(60, 'x');
  EXPECT_EQ(folder.Comment("ALPHA"), std::string(43, 'x'));
}

// A slot name from the network reaches the local slot of that name in any
// case, Windows-1250 letters included, as the library matches them.
TEST_F(LanFolderTest, ADatagramReachesTheSlotWhoseNameDiffersOnlyInCase) {
  ::unsetenv("VASK_REAL_LAN");  // a local server only: no bridge to claim the name
  // "łódź" here, "ŁÓDŹ" as it comes off the wire (Windows-1250 bytes).
  HANDLE server = CreateMailslotA("\\\\.\\mailslot\\\xB3\xF3\x64\x9F", 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  LanFolder folder(lan_, "WORKGROUP");
  Backlog backlog;
  ASSERT_EQ(folder.Deliver("alpha", "\xA3\xD3\x44\x8F", {'h', 'i'}, &backlog),
            Delivery::kDelivered);
  EXPECT_EQ(folder.Deliver("ALPHA", "\xA3\xD3\x44\x9A", {'n', 'o'}, &backlog),  // another letter
            Delivery::kNoSlot);
  char buffer[8];
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(server, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "hi");
  CloseHandle(server);
}

TEST_F(LanFolderTest, TheLogFileIsCappedAndKeepsOnePreviousFile) {
  std::string path = lan_ + "/.bridge.log";
  std::vector<std::string> begun;
  {
    LogFile log(4096, false, [&](const std::string& p) { begun.push_back(p); });
    std::string error;
    ASSERT_TRUE(log.Open(path, &error)) << error;
    for (int i = 0; i < 1000; ++i) log.Write("line " + std::to_string(i) + std::string(40, '.'));
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_LE(info.st_size, 4096);
  ASSERT_EQ(::stat((path + ".1").c_str(), &info), 0);
  EXPECT_LE(info.st_size, 4096);
  EXPECT_GT(info.st_size, 4000);
  EXPECT_EQ(::stat((path + ".2").c_str(), &info), -1);
  // The newest lines are in the file, the ones just before in the old one.
  std::string current = ReadFile(path);
  EXPECT_NE(current.find("line 999."), std::string::npos);
  EXPECT_EQ(ReadFile(path + ".1").back(), '\n');
  EXPECT_GT(begun.size(), 10u);
  for (const std::string& p : begun) EXPECT_EQ(p, path);
}

}  // namespace
}  // namespace vask::bridge
