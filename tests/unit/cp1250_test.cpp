// The plug-in's texts are Windows-1250 bytes, as the host on Windows reads them.
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Cp1250Test, PolishLiteralsCompileToWindows1250Bytes) {
  EXPECT_EQ(std::string("Dostępny"), std::string("Dost\xEApny"));
  // ą ł ś ż ź ć ń ó Ę Ł Ś Ż
  EXPECT_EQ(std::string("ąłśżźćńóĘŁŚŻ"),
            std::string("\xB9\xB3\x9C\xBF\x9F\xE6\xF1\xF3\xCA\xA3\x8C\xAF"));
  EXPECT_EQ(sizeof("Wystąpił błąd"), 14u);  // one byte per letter, NUL included
}

}  // namespace
