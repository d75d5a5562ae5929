// Value texts and answer templates.
#include "value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "answer_template.h"

namespace {

SettingsRecord Format(int16_t chars, int16_t decPnt, int16_t leadZeros, int16_t posSign) {
  SettingsRecord s;
  s.NumOfChar = chars;
  s.DecPnt = decPnt;
  s.LeadZeros = leadZeros;
  s.PosSign = posSign;
  return s;
}

std::string Text(double value, const SettingsRecord& s) { return FormatValueText(value, s).text; }

TEST(ShortestDecimalText, RoundsToSixDecimalsHalvesToEven) {
  EXPECT_EQ(ShortestDecimalText(1.234), "1.234");
  EXPECT_EQ(ShortestDecimalText(0.5), ".5");
  EXPECT_EQ(ShortestDecimalText(-0.5), "-.5");
  EXPECT_EQ(ShortestDecimalText(2.0), "2");
  EXPECT_EQ(ShortestDecimalText(0.0), "0");
  EXPECT_EQ(ShortestDecimalText(1.2345675), "1.234568");
  EXPECT_EQ(ShortestDecimalText(1.2345665), "1.234566");
  EXPECT_EQ(ShortestDecimalText(0.0000005), "0");
  EXPECT_EQ(ShortestDecimalText(0.0000015), ".000002");
  EXPECT_EQ(ShortestDecimalText(-0.0000001), "0");
  EXPECT_EQ(ShortestDecimalText(0.9999999), "1");
  EXPECT_EQ(ShortestDecimalText(-99.9999996), "-100");
  EXPECT_EQ(ShortestDecimalText(150000), "150000");
}

TEST(ShortestDecimalText, FifteenSignificantDigitsThenExponent) {
  EXPECT_EQ(ShortestDecimalText(123456789.123456789), "123456789.123457");
  EXPECT_EQ(ShortestDecimalText(999999999999999.0), "999999999999999");
  EXPECT_EQ(ShortestDecimalText(1e15), "1E+15");
  EXPECT_EQ(ShortestDecimalText(-2.5e20), "-2.5E+20");
  EXPECT_EQ(ShortestDecimalText(std::numeric_limits<double>::quiet_NaN()), "");
  EXPECT_EQ(ShortestDecimalText(std::numeric_limits<double>::infinity()), "");
}

TEST(FormatValueText, DefaultFormat) {
  const SettingsRecord s = Format(9, 0, 1, 1);
  EXPECT_EQ(Text(1.234, s), "+0001.234");
  EXPECT_EQ(Text(-0.5, s), "-000000.5");
  EXPECT_EQ(Text(0.0, s), "+000000.0");
  EXPECT_EQ(Text(-0.0, s), "+000000.0");
  // Rounds to zero but is not zero: no ".0", and a negative value gets no plus sign.
  EXPECT_EQ(Text(-0.0000001, s), "000000000");
}

TEST(FormatValueText, WidthSignSeparatorAndPadding) {
  EXPECT_EQ(Text(1.5, Format(6, 0, 1, 0)), "0001.5");
  EXPECT_EQ(Text(-2.25, Format(8, 0, 0, 1)), "   -2.25");
  EXPECT_EQ(Text(12.5, Format(9, 1, 1, 1)), "+000012,5");
  EXPECT_EQ(Text(1.234, Format(8, 0, 0, 0)), "   1.234");
  EXPECT_EQ(Text(7, Format(3, 0, 1, 0)), "007");
}

TEST(FormatValueText, CutsDecimalsButNeverIntegerDigits) {
  const ValueText cutDecimals = FormatValueText(1.23456, Format(5, 0, 1, 1));
  EXPECT_TRUE(cutDecimals.fits);
  EXPECT_EQ(cutDecimals.text, "+1.23");
  EXPECT_EQ(Text(12.5, Format(3, 1, 1, 1)), "+12");

  const ValueText tooWide = FormatValueText(123456.789, Format(6, 0, 1, 1));
  EXPECT_FALSE(tooWide.fits);
  EXPECT_EQ(tooWide.uncut, "+123456.789");
  EXPECT_FALSE(FormatValueText(1234567, Format(6, 0, 0, 0)).fits);
  EXPECT_FALSE(FormatValueText(1e15, Format(4, 0, 0, 0)).fits);
}

TEST(FormatValueText, NoWidthOrNoNumberGivesEmptyText) {
  EXPECT_EQ(Text(1.5, Format(0, 0, 1, 1)), "");
  EXPECT_TRUE(FormatValueText(123456, Format(-3, 0, 1, 1)).fits);
  EXPECT_EQ(Text(std::nan(""), Format(9, 0, 1, 1)), "");
}

TEST(FillAnswerTemplate, PlaceholdersCodesQuotesAndBlanks) {
  EXPECT_EQ(FillAnswerTemplate("<mv>", "+0001.234", "10"), "+0001.234");
  EXPECT_EQ(FillAnswerTemplate("<ch>,\":\",<mv>,13,10", "+1", "30"), "30:+1\r\n");
  EXPECT_EQ(FillAnswerTemplate("\"ERR\",13,10", "+1", "30"), "ERR\r\n");
  EXPECT_EQ(FillAnswerTemplate("\" A B \",<xx>,300,&H41", "v", "c"), " A B A");
  EXPECT_EQ(FillAnswerTemplate("\"a,b\",,<mv>", "v", ""), "a,bv");
  EXPECT_EQ(FillAnswerTemplate("", "v", "c"), "");
}

}  // namespace
