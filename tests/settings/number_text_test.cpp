#include "number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

TEST(NumericValue, ReadsTheLeadingNumber) {
  EXPECT_EQ(NumericValue("  42abc"), 42);
  EXPECT_EQ(NumericValue("-1.5e2x"), -150);
  EXPECT_EQ(NumericValue("+.25"), 0.25);
  EXPECT_EQ(NumericValue("3.5E"), 3.5);  // an exponent without digits ends the number
  EXPECT_EQ(NumericValue("2D3"), 2000);
  EXPECT_EQ(NumericValue("&H41"), 65);
  EXPECT_EQ(NumericValue("&hff"), 255);
  EXPECT_EQ(NumericValue("&O101"), 65);
  EXPECT_EQ(NumericValue("&O19"), 1);  // 9 is no octal digit
  EXPECT_EQ(NumericValue("abc"), 0);
  EXPECT_EQ(NumericValue(""), 0);
  EXPECT_EQ(NumericValue("."), 0);
  EXPECT_EQ(NumericValue("-"), 0);
  EXPECT_EQ(NumericValue("1 2"), 1);
}

TEST(NumericValue, BlanksAnywhereJoinsDigits) {
  EXPECT_EQ(NumericValue(" 1 2 . 5 ", Blanks::Anywhere), 12.5);
  EXPECT_EQ(NumericValue("& H 1 0", Blanks::Anywhere), 16);
}

TEST(NumericValue, IgnoresTheProcessLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
    GTEST_SKIP() << "no comma locale installed";
  }
  EXPECT_EQ(NumericValue("1.5"), 1.5);
  EXPECT_EQ(NumericValue("1,5"), 1);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(NumericValue, HugeNumbersDoNotWrap) {
  EXPECT_TRUE(std::isinf(NumericValue("1e999")));
  EXPECT_EQ(NumericValue("1e-999"), 0);
  EXPECT_FALSE(RoundToInt16(NumericValue("1e999")));
  EXPECT_EQ(NumericValue(std::string(5000, '9')), NumericValue("1e5000"));
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.6), 3);
  EXPECT_EQ(RoundHalfEven(-0.4), 0);
}

TEST(Rounding, Int16RangeIsChecked) {
  EXPECT_EQ(RoundToInt16(32767.4), 32767);
  EXPECT_EQ(RoundToInt16(-32768.5), -32768);  // half to even stays in range
  EXPECT_FALSE(RoundToInt16(32767.5));
  EXPECT_FALSE(RoundToInt16(-32769));
  EXPECT_FALSE(RoundToInt16(NAN));
  EXPECT_EQ(RoundToInt32(70000), 70000);
  EXPECT_FALSE(RoundToInt32(3e9));
}

TEST(LeadingNumber, TellsANumberFromNone) {
  const struct {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"  +012.345 mm", 12.345},
      {"-0.5", -0.5},
      {".25", 0.25},
      {"&H1F", 31.0},
      {"&o17", 15.0},
      {"0", 0.0},
      {"1e3x", 1000.0},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"ERR", std::nullopt},
      {"-", std::nullopt},
      {"+.", std::nullopt},
      {"&H", std::nullopt},
      {"&O9", std::nullopt},
      {"&X1", std::nullopt},
      {"mm 12", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}
