#include "language_file.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace {

class LanguageTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::array<std::string, kLastTextNumber + 1> texts;
};

}  // namespace

TEST_F(LanguageTest, LineRules) {
  dir.Write("VCP001.LAN",
            "0:\"comment\"\r\nbefore any number\r\n"
            "501: \"OK\"\r\n"
            "200:'Name:'\r\n"
            " 120 :  [Info]  \r\n"
            "130:\"x\"\r\n130:\"replaced\"\r\n"
            "110:\"first\"\r\n\"continued\"\r\n"
            "2.5:\"two\"\r\n"
            "1000:\"last\"\r\n1001:\"beyond\"\r\n99999:\"far\"\r\n-5:\"neg\"\r\n"
            "140:x\r\n141:\"\"\r\n");
  texts[0] = "kept?";
  ASSERT_TRUE(LoadLanguage(1, texts));
  EXPECT_EQ(texts[0], "");
  EXPECT_EQ(texts[501], "OK");
  EXPECT_EQ(texts[200], "Name:");
  EXPECT_EQ(texts[120], "Info");
  EXPECT_EQ(texts[130], "replaced");
  EXPECT_EQ(texts[110], "continued");
  EXPECT_EQ(texts[2], "two");
  EXPECT_EQ(texts[1000], "last");
  EXPECT_EQ(texts[140], "");  // shorter than its two delimiters
  EXPECT_EQ(texts[141], "");
}

TEST_F(LanguageTest, SwitchingClearsEveryTextButThousand) {
  dir.Write("VCP001.LAN", "100:\"English only\"\r\n1000:\"x\"\r\n");
  dir.Write("VCP002.LAN", "101:\"Deutsch \xFC\"\r\n");
  ASSERT_TRUE(LoadLanguage(1, texts));
  ASSERT_TRUE(LoadLanguage(2, texts));
  EXPECT_EQ(texts[100], "");
  EXPECT_EQ(texts[101], "Deutsch \xFC");
  EXPECT_EQ(texts[1000], "x");
}

TEST_F(LanguageTest, MissingFileFallsBackToEnglish) {
  dir.Write("VCP001.LAN", "100:\"English\"\r\n");
  EXPECT_TRUE(LoadLanguage(3, texts));
  EXPECT_EQ(texts[100], "English");
  EXPECT_EQ(LanguageFileName(3), "VCP003.LAN");
  std::remove("VCP001.LAN");
  EXPECT_FALSE(LoadLanguage(2, texts));
  EXPECT_EQ(texts[100], "");
}
