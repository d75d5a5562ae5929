#include "presets.h"

#include <gtest/gtest.h>

#include "settings_file.h"
#include "temp_dir.h"

namespace {

class PresetTest : public ::testing::Test {
 protected:
  TempDir dir;
  SettingsRecord s;
};

}  // namespace

TEST_F(PresetTest, FileNames) {
  EXPECT_EQ(PresetFileName(0), "LIB000.DRV");
  EXPECT_EQ(PresetFileName(7), "LIB007.DRV");
  EXPECT_EQ(PresetFileName(12), "LIB012.DRV");
  EXPECT_EQ(PresetFileName(1234), "LI1234.DRV");
}

TEST_F(PresetTest, AppliesOnlyCommandFormatKeys) {
  dir.Write("LIB005.DRV",
            "100:Five\r\n241:12\r\n10:2\r\n30:7\r\n60:pw\r\n1000:1\r\n239.6:rounded\r\n"
            "420:\"?\"\r\n502:\r\n59\r\n");
  s.CommandFormat = 5;
  s.Separator = "old";
  ASSERT_TRUE(LoadPreset(s));
  EXPECT_EQ(s.DeviceName, "Five");
  EXPECT_EQ(s.NumOfChar, 12);
  EXPECT_EQ(s.LanguageNo, 1);
  EXPECT_EQ(s.CommandFormat, 5);
  EXPECT_EQ(s.Password, "");
  EXPECT_EQ(s.Inputs[1][1].State, 0);
  EXPECT_EQ(s.AnswerString, "rounded");  // key 239.6 is key 240 in a preset
  EXPECT_EQ(s.UndefCommand, "\"?\"");
  EXPECT_EQ(s.Separator, "59");  // a line without a colon continues key 502
  EXPECT_EQ(s.Timeout, "");      // keys the file lacks keep their values
}

TEST_F(PresetTest, OwnFormatAndMissingFilesChangeNothing) {
  SettingsRecord before = s;
  s.CommandFormat = kOwnCommandFormat;
  before.CommandFormat = kOwnCommandFormat;
  dir.Write("LI1000.DRV", "100:never\r\n");
  EXPECT_TRUE(LoadPreset(s));
  EXPECT_TRUE(s == before);
  s.CommandFormat = 3;
  before.CommandFormat = 3;
  EXPECT_FALSE(LoadPreset(s));
  EXPECT_TRUE(s == before);
}

TEST_F(PresetTest, ReadSettingsStartsFromPresetZero) {
  dir.Write("LIB000.DRV", "100:Zero\r\n421:13\r\n");
  dir.Write(kSettingsFileName, "421:10\r\n");
  SettingsRecord r;
  ReadSettings("", r);
  EXPECT_EQ(r.DeviceName, "Zero");
  EXPECT_EQ(r.EndChar, "10");  // the settings file wins over the preset
}

TEST_F(PresetTest, CatalogueListsExistingFilesInOrder) {
  dir.Write("LIB000.DRV", "100:A\r\n");
  dir.Write("LIB001.DRV", "241:3\r\n100: B \r\n100:second\r\n");
  dir.Write("LIB004.DRV", "nothing\r\n");
  std::vector<PresetEntry> list = PresetCatalogue("Own");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].number, 0);
  EXPECT_EQ(list[0].name, "A");
  EXPECT_EQ(list[1].number, 1);
  EXPECT_EQ(list[1].name, "B");
  EXPECT_EQ(list[2].number, 4);
  EXPECT_EQ(list[2].name, "LIB004.DRV");
  EXPECT_EQ(list[3].number, kOwnCommandFormat);
  EXPECT_EQ(list[3].name, "Own");
}
