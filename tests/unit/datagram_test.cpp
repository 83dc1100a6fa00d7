// The datagram codec: the exact bytes on the wire, how received bytes split
// into fields, and how number fields read.
#include "transport/datagram.h"

#include <gtest/gtest.h>

#include <string>

namespace vask {
namespace {

using namespace std::string_literals;

DatagramFields Split(const std::string& bytes) {
  DatagramFields fields;
  SplitFields(bytes, '\0', fields);
  return fields;
}

TEST(Datagram, PingAsThirdDatagramHasNoBodyField) {
  EXPECT_EQ(BuildDatagram(3, "A", "B", "PING", ""), "3\0A\0B\0PING\0"s);
}

TEST(Datagram, BodyAddsItsBytesAndOneNul) {
  EXPECT_EQ(BuildDatagram(12, "PC1", "*", "STATUS",
                          "64\0"s
                          "2097152\0"s),
            "12\0PC1\0*\0STATUS\0"
            "64\0"
            "2097152\0\0"s);
  EXPECT_EQ(BuildDatagram(-7, "A", "B", "X", "x"), "-7\0A\0B\0X\0x\0"s);
}

TEST(Datagram, BodyEndingInNulGivesEmptyLastFieldOnReceipt) {
  const DatagramFields fields = Split(BuildDatagram(1, "A", "B", "STATUS",
                                                    "0\0"s
                                                    "2097152\0"s));
  ASSERT_EQ(fields.size(), 7u);
  EXPECT_EQ(fields[4], "0");
  EXPECT_EQ(fields[5], "2097152");
  EXPECT_EQ(fields[6], "");
}

TEST(Datagram, SplittingRules) {
  EXPECT_TRUE(Split("").empty());
  EXPECT_EQ(Split("a\0b\0"s), (DatagramFields{"a", "b"}));
  EXPECT_EQ(Split("a\0\0"s), (DatagramFields{"a", ""}));
  EXPECT_EQ(Split("a\0b"s), (DatagramFields{"a", "b"}));
  EXPECT_EQ(Split("\0a"s), (DatagramFields{"", "a"}));
  EXPECT_EQ(Split("\0"s), (DatagramFields{""}));
  EXPECT_EQ(Split("abc"), (DatagramFields{"abc"}));
  // Bytes above 0x7F are plain text.
  EXPECT_EQ(Split("\xB9\xEA\0|\0"s), (DatagramFields{"\xB9\xEA", "|"}));
}

TEST(Datagram, SplittingAppendsToTheList) {
  DatagramFields fields{"kept"};
  SplitFields("x\0y"s, '\0', fields);
  EXPECT_EQ(fields, (DatagramFields{"kept", "x", "y"}));
}

TEST(Datagram, NumberFieldsReadLikeAtoi) {
  EXPECT_EQ(AtoiField("12"), 12);
  EXPECT_EQ(AtoiField("  \t-5x"), -5);
  EXPECT_EQ(AtoiField("+7"), 7);
  EXPECT_EQ(AtoiField("abc"), 0);
  EXPECT_EQ(AtoiField(""), 0);
  EXPECT_EQ(AtoiField("- 5"), 0);
  EXPECT_EQ(AtoiField("2147483647"), 2147483647);
  EXPECT_EQ(AtoiField("-2147483648"), INT32_MIN);
}

}  // namespace
}  // namespace vask
