#include "text_notation.h"

#include <gtest/gtest.h>

namespace {

class ConvStringTest : public ::testing::Test {
 protected:
  SettingsRecord s;
  std::string Conv(const std::string& text, int16_t antwort = 0, int16_t dev = 1, int16_t adr = 2) {
    return ConvString(text, dev, adr, antwort, s);
  }
};

}  // namespace

TEST_F(ConvStringTest, ItemsBecomeCharacters) {
  s.Inputs[1][2].CommandAdr = "B";
  EXPECT_EQ(Conv("\"M\",<ch>,13,10"), "MB\r\n");
  EXPECT_EQ(Conv("65"), "A");
  EXPECT_EQ(Conv("&H41"), "A");
  EXPECT_EQ(Conv("&O101, 66.5, 67.5"), "ABD");  // halves to even
  EXPECT_EQ(Conv(""), "");
  EXPECT_EQ(Conv(","), std::string(1, '\0'));
  EXPECT_EQ(Conv("x"), std::string(1, '\0'));  // no number reads as 0
  EXPECT_EQ(Conv("0,255"), std::string("\0\xFF", 2));
}

TEST_F(ConvStringTest, QuotesKeepCommasAndNeedThreeCharacters) {
  EXPECT_EQ(Conv("\"A,B\""), "A,B");
  EXPECT_EQ(Conv("\"A\",,\"B\""), "AB");  // an empty item adds nothing
  EXPECT_EQ(Conv("\"A"), "");             // quote and one character
  EXPECT_EQ(Conv("\"\""), "");
  EXPECT_EQ(Conv("  \"x y\"  ,13"), "x y\r");
}

TEST_F(ConvStringTest, LastCharacterAlwaysJoinsTheLastItem) {
  EXPECT_EQ(Conv("\"A\","), "A\"");  // the trailing comma joins the quoted item
  EXPECT_EQ(Conv("65, "), "A");      // a trailing blank trims away
}

TEST_F(ConvStringTest, BlanksAreDroppedFromCommandsOnly) {
  s.Blanks = 1;
  EXPECT_EQ(Conv("\"A B\""), "AB");
  EXPECT_EQ(Conv("\"A B\"", 1), "A B");
  s.Blanks = 0;
  EXPECT_EQ(Conv("\"A B\""), "A B");
}

TEST_F(ConvStringTest, PlaceholdersAndOutOfRangeCodesAddNothing) {
  s.Inputs[1][2].CommandAdr = "12";
  EXPECT_EQ(Conv("<mv>,<CH>,<ch>"), "12");
  EXPECT_EQ(Conv("256,-1,65,1e9"), "A");
  EXPECT_EQ(ConvString("<ch>", 10, 2, 0, s), "");
  EXPECT_EQ(ConvString("<ch>", 1, 202, 0, s), "");
  EXPECT_EQ(ConvString("<ch>", -1, -1, 0, s), "");
}

TEST_F(ConvStringTest, HighBytesPassUnchanged) {
  EXPECT_EQ(Conv("\"\xB0\xB5\",176", 1), "\xB0\xB5\xB0");
}
