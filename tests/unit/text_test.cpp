// Number formatting and parsing, the case-insensitive find, the log cut,
// the text-or-resource string and the per-thread buffers.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "base/log.h"
#include "fake_host.h"
#include "win32.h"

namespace vask::test {
namespace {

TEST(FormatNumber, RadixWidthAndCase) {
  EXPECT_STREQ(FormatNumber(255, 16, 0, true), "FF");
  EXPECT_STREQ(FormatNumber(255, 16, 4, false), "00ff");
  EXPECT_STREQ(FormatNumber(123456, 10, 3), "456");
  EXPECT_STREQ(FormatNumber(-5, 10, 4), "00-5");  // zeros before the sign
  EXPECT_STREQ(FormatNumber(0, 10), "0");
  EXPECT_STREQ(FormatNumber(7, 10, 1), "7");
  EXPECT_STREQ(FormatNumber(0x20F00000, 10, 0, true), "552599552");
  EXPECT_STREQ(FormatNumber(-1, 2), "11111111111111111111111111111111");
  EXPECT_STREQ(FormatNumber(10, 10, 0, true), "10");  // upper case is moot
  EXPECT_EQ(FormatNumberCopy(26, 16, 0, true), "1A");
}

TEST(FormatNumber, OutOfRangeRadixOrWidthStaysInBounds) {
  EXPECT_STREQ(FormatNumber(42, 0), "0");
  EXPECT_STREQ(FormatNumber(42, 99), "0");
  const std::string wide = FormatNumber(1, 10, 50000);
  EXPECT_LT(wide.size(), 10004u);
  EXPECT_EQ(wide.back(), '1');
  EXPECT_EQ(wide.find_first_not_of('0'), wide.size() - 1);
}

TEST(ParseNumber, PrefixesRunsAndQuirks) {
  EXPECT_EQ(ParseNumber(nullptr, 10), 0);
  EXPECT_EQ(ParseNumber("#1A", 255), 26);
  EXPECT_EQ(ParseNumber("0x10", 255), 16);
  EXPECT_EQ(ParseNumber("0X10", 255), 0);  // decimal: the run is the single 0
  EXPECT_EQ(ParseNumber("42", 255), 42);
  EXPECT_EQ(ParseNumber("1f", 10), 25);  // letters count whatever the radix
  EXPECT_EQ(ParseNumber("-5", 10), 0);
  EXPECT_EQ(ParseNumber("ff zz", 16), 255);
  EXPECT_EQ(ParseNumber("", 16), 0);
  EXPECT_EQ(ParseNumber("5F0E1C2B", 16), static_cast<int32_t>(0x5F0E1C2B));
  EXPECT_EQ(ParseNumber("FFFFFFFF", 16), -1);
}

TEST(FindNoCase, PointsIntoTheCallersText) {
  const char* text = "Komputer-BIURO";
  EXPECT_EQ(FindNoCase(text, "biuro"), text + 9);
  EXPECT_EQ(FindNoCase(text, "komp"), text);
  EXPECT_EQ(FindNoCase(text, "sala"), nullptr);
  EXPECT_EQ(FindNoCase(nullptr, "a"), nullptr);
  EXPECT_TRUE(ContainsNoCase("abc", ""));
  EXPECT_TRUE(ContainsNoCase("PiEtRo 2", "pietro"));
  EXPECT_FALSE(ContainsNoCase("abc", "abcd"));
}

// Only A to Z fold, whatever the locale: the Polish letters of code page
// 1250 are compared byte for byte (the runtime's _strlwr folded them once a
// Polish locale was set).
TEST(FindNoCase, FoldsOnlyAToZ) {
  const char* text = "Komputer-\xA3UCJA";  // ...ŁUCJA
  EXPECT_EQ(FindNoCase(text, "ucja"), text + 10);
  EXPECT_EQ(FindNoCase(text, "\xB3ucja"), nullptr);  // łucja
  EXPECT_EQ(FindNoCase(text, "\xA3ucja"), text + 9);
  EXPECT_FALSE(ContainsNoCase("", "a"));
  EXPECT_EQ(FoldCase('@'), '@');
  EXPECT_EQ(FoldCase('['), '[');
  EXPECT_EQ(FoldCase('Z'), 'z');
  char hex[] = "0x1f\xB9z";
  EXPECT_STREQ(UpperCaseAscii(hex), "0X1F\xB9Z");
}

TEST(Log, ALongLineArrivesAs254Characters) {
  FakeHost host;
  HostScope scope(host);
  const std::string line(300, 'x');
  Log("%s", line.c_str());
  LogAt(3, "krótko %d", 5);
  const auto sent = host.Sent(kMsgLog);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].p1Text, std::string(254, 'x'));
  EXPECT_EQ(Unpacked(sent[0].head.p2), kLogLevel);
  EXPECT_EQ(sent[0].head.size, HostMessageSize(2));
  EXPECT_EQ(sent[1].p1Text, "krótko 5");
  EXPECT_EQ(Unpacked(sent[1].head.p2), 3);
}

TEST(FormatText, CutTo10000AndTheBufferReused) {
  const std::string big(12000, 'y');
  const char* first = FormatText("%s", big.c_str());
  EXPECT_EQ(std::string(first), std::string(10000, 'y'));
  const char* second = FormatText("%d-%s", 7, "a");
  EXPECT_STREQ(second, "7-a");
  const char* third = FormatText("%s", big.c_str());
  // The same block and text buffer after the first use: nothing allocated.
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, third);
  EXPECT_EQ(std::strlen(third), 10000u);
}

TEST(ThreadBuffersTest, EachThreadHasItsOwnBlock) {
  const char* mine = FormatNumber(1, 10);
  EXPECT_EQ(FormatNumber(2, 10), mine);
  const char* theirs = nullptr;
  std::string theirText;
  std::thread other([&] {
    theirs = FormatNumber(99, 10);
    FormatText("%s", "inny");
    theirText = FormatNumber(99, 10);
    ReleaseThreadBuffers();
  });
  other.join();
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(theirText, "99");
  EXPECT_STREQ(mine, "2");  // untouched by the other thread

  ReleaseThreadBuffers();  // the next use creates a fresh block
  EXPECT_STREQ(FormatNumber(3, 10), "3");
}

TEST(TextOrResource, TextResourceIdOrNothing) {
  HMODULE program = GetModuleHandleA(nullptr);
  VaskRegisterString(program, 1001, "Zasób tekstowy");
  VaskRegisterString(program, 17, "siedemnaście");
  EXPECT_EQ(TextOrResource(1001), "Zasób tekstowy");
  EXPECT_EQ(TextOrResource(17), "siedemnaście");
  EXPECT_EQ(TextOrResource(18), "");    // its block exists, the string does not
  EXPECT_EQ(TextOrResource(4000), "");  // no block at all
  EXPECT_EQ(TextOrResource(0), "");
  static const char kText[] = "zwykły tekst";
  EXPECT_EQ(TextOrResource(reinterpret_cast<uintptr_t>(kText)), kText);
}

}  // namespace
}  // namespace vask::test
