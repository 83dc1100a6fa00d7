// String resources, ShellExecuteA and the CRT helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_lan.h"
#include "win32.h"

namespace {

namespace test = vask::test;

TEST(StringResourceTest, BlockIsFoundAndSizedAndItsStringsLoad) {
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  VaskRegisterString(program, 33, "Rozmowa");  // block 3 holds ids 32 to 47
  VaskRegisterString(program, 40, "abc");

  HRSRC block = FindResourceA(program, MAKEINTRESOURCEA(33 / 16 + 1), RT_STRING);
  ASSERT_NE(block, nullptr);
  // 16 length words plus two bytes per character of both strings.
  EXPECT_EQ(SizeofResource(program, block), 16u * 2 + 7 * 2 + 3 * 2);

  char buffer[64];
  EXPECT_EQ(LoadStringA(program, 33, buffer, sizeof buffer), 7);
  EXPECT_STREQ(buffer, "Rozmowa");
  EXPECT_EQ(LoadStringA(program, 33, buffer, 4), 3);  // cut to the buffer
  EXPECT_STREQ(buffer, "Roz");
}

TEST(StringResourceTest, MissingResourceGivesNothing) {
  HMODULE program = GetModuleHandleA(nullptr);
  VaskRegisterString(program, 5000, "x");
  EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCEA(99), RT_STRING), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceA(program, MAKEINTRESOURCEA(5000 / 16 + 1), RT_ICON), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  char buffer[8] = "junk";
  EXPECT_EQ(LoadStringA(program, 5001, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  // Another module has a table of its own.
  int other = 0;
  EXPECT_EQ(LoadStringA(static_cast<HMODULE>(&other), 5000, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetModuleHandleA("libnot-loaded-anywhere.so"), nullptr);
}

class ShellExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir("vask-shell");
    ASSERT_FALSE(dir_.empty());
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    test::RemoveTree(dir_);
  }
  // A stand-in xdg-open that records its argument.
  void InstallOpener() {
    std::string script = dir_ + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > " << dir_ << "/opened.tmp\nmv "
                          << dir_ << "/opened.tmp " << dir_ << "/opened\n";
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    ::setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
  }
  std::string dir_;
  std::string savedPath_;
};

TEST_F(ShellExecuteTest, OpensTheDocumentWithXdgOpen) {
  InstallOpener();
  ASSERT_EQ(::mkdir((dir_ + "/doc").c_str(), 0700), 0);
  std::ofstream(dir_ + "/doc/Vask.html") << "<html></html>";
  // A Windows-style relative path under the named folder.
  HINSTANCE result =
      ShellExecuteA(nullptr, "open", "doc\\Vask.html", nullptr, dir_.c_str(), SW_SHOWNORMAL);
  EXPECT_GT(reinterpret_cast<INT_PTR>(result), 32);
  std::string opened;
  DWORD start = GetTickCount();
  while (!std::filesystem::exists(dir_ + "/opened") && GetTickCount() - start < 20000) Sleep(5);
  std::ifstream(dir_ + "/opened") >> opened;
  EXPECT_EQ(opened, dir_ + "/doc/Vask.html");
}

TEST_F(ShellExecuteTest, FailuresAreAtMost32) {
  InstallOpener();
  EXPECT_EQ(reinterpret_cast<INT_PTR>(
                ShellExecuteA(nullptr, "open", "missing.html", nullptr, dir_.c_str(), 1)),
            SE_ERR_FNF);
  std::ofstream(dir_ + "/here.html") << "x";
  ::setenv("PATH", (dir_ + "/nowhere").c_str(), 1);  // no xdg-open at all
  EXPECT_EQ(reinterpret_cast<INT_PTR>(
                ShellExecuteA(nullptr, "open", "here.html", nullptr, dir_.c_str(), 1)),
            SE_ERR_NOASSOC);
}

std::string Format(size_t count, int* result, const char* format, ...) {
  std::string buffer(16, '#');
  va_list args;
  va_start(args, format);
  *result = _vsnprintf(buffer.data(), count, format, args);
  va_end(args);
  return buffer;
}

TEST(CrtTest, VsnprintfDoesNotTerminateWhatDoesNotFit) {
  int result = 0;
  EXPECT_EQ(Format(8, &result, "%s", "abc"), std::string("abc\0####", 4) + std::string(12, '#'));
  EXPECT_EQ(result, 3);
  EXPECT_EQ(Format(4, &result, "%d", 123456), "1234" + std::string(12, '#'));
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Format(6, &result, "%d", 123456), "123456" + std::string(10, '#'));  // exactly full
  EXPECT_EQ(result, 6);
}

TEST(CrtTest, ItoaWritesSignOnlyInRadixTen) {
  char buffer[40];
  EXPECT_STREQ(_itoa(-5, buffer, 10), "-5");
  EXPECT_STREQ(_itoa(255, buffer, 16), "ff");
  EXPECT_STREQ(_itoa(-1, buffer, 16), "ffffffff");
  EXPECT_STREQ(_itoa(-2147483647 - 1, buffer, 10), "-2147483648");
  EXPECT_STREQ(_itoa(-2147483647 - 1, buffer, 2), "10000000000000000000000000000000");
  EXPECT_STREQ(_itoa(0, buffer, 10), "0");
}

TEST(CrtTest, CaseFoldingTouchesAsciiLettersOnly) {
  char text[] = "Komputer-BIURO \xa5\xb9 z";  // CP1250 A and a with ogonek
  EXPECT_STREQ(_strlwr(text), "komputer-biuro \xa5\xb9 z");
  EXPECT_STREQ(_strupr(text), "KOMPUTER-BIURO \xa5\xb9 Z");
  char* copy = _strdup(text);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, text);
  EXPECT_STREQ(copy, text);
  std::free(copy);
  EXPECT_EQ(_strdup(nullptr), nullptr);
}

// The clock the plug-in reads its times from: 64 bits wide on every build,
// the i386 one included, and the same second as the system's.
TEST(CrtTest, Time64IsTheSystemsClockInSixtyFourBits) {
  static_assert(sizeof(_time64(nullptr)) == 8);
  long long out = 0;
  const long long before = static_cast<long long>(std::time(nullptr));
  const long long now = _time64(&out);
  const long long after = static_cast<long long>(std::time(nullptr));
  EXPECT_EQ(out, now);
  // time_t of an i386 build wraps in 2038; until then both agree.
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

}  // namespace
