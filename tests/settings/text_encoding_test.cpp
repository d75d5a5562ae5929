#include "text_encoding.h"

#include <gtest/gtest.h>

TEST(TextEncoding, KnownCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("\xB0\xB5\xE9\x80"), "\u00B0\u00B5\u00E9\u20AC");
  EXPECT_EQ(Utf8ToCp1252("\u00B0\u00B5\u00FC\u20AC\u2122"), "\xB0\xB5\xFC\x80\x99");
}

TEST(TextEncoding, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(TextEncoding, UnmappableAndBrokenInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("a\u4E2Db"), "a?b");
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");
  EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");       // truncated sequence
  EXPECT_EQ(Utf8ToCp1252("\xC3\x41"), "?A");  // bad continuation byte
  EXPECT_EQ(Utf8ToCp1252("\xFF\xFE"), "??");
}
