// Building the command table from the settings, with the real simulated library naming the
// foot switches.
#include "command_table.h"

#include <gtest/gtest.h>

#include "bridge_fixture.h"
#include "presets.h"

namespace {

class CommandTableTest : public ::testing::Test {
 protected:
  CommandTableTest() {
    SetDefaultSettings(s);
    s.CommandFormat = 0;
    EXPECT_TRUE(LoadPreset(s));
  }
  void Build() { CreateCommandTab(tab, s, library); }

  WorkFolder work;
  SettingsRecord s;
  DdkLibrary library{VELK_DDK_SIM};
  CommandTab tab;
};

TEST_F(CommandTableTest, ActiveInputsGetCommandsLimitsAndFlags) {
  s.Inputs[1][3] = {1, 1, " 01 ", "30"};
  Build();
  const CommandEntry& e = tab.Entry(1, 3);
  EXPECT_EQ(tab.AllCommand[1], "M*\r");
  EXPECT_EQ(tab.AllLength[1], 3);
  EXPECT_EQ(e.SingleCommand[1], "M 01 \r");
  EXPECT_EQ(e.SingleLength[1], 6);
  EXPECT_EQ(e.LimitCommand[USL], "USL01,");
  EXPECT_EQ(e.LimitCommand[LSL], "LSL01,");
  EXPECT_EQ(e.LimitLength[UCL], 6);
  EXPECT_EQ(e.LimitValue[USL], 999999.999999);
  EXPECT_EQ(e.LimitValue[UCL], 999999.999999);
  EXPECT_EQ(e.LimitValue[LCL], -999999.999999);
  EXPECT_EQ(e.LimitValue[LSL], -999999.999999);
  EXPECT_EQ(e.Active, 1);
  EXPECT_EQ(e.FootSwitch, 1);
  EXPECT_EQ(e.DataKey, 1);
  EXPECT_EQ(tab.DeviceUsed[1], 1);
  EXPECT_EQ(tab.EndText, "\r");
  EXPECT_EQ(tab.SeparatorText, "\r");
  EXPECT_EQ(tab.UndefAnswer, "?\r\n");
  EXPECT_EQ(tab.ExtraCommand[1], "ID?\r");
  EXPECT_EQ(tab.ExtraAnswer[1], "GENERIC 8-CHANNEL INTERFACE\r\n");
  EXPECT_EQ(tab.ExtraLength[4], 0);
  EXPECT_EQ(tab.FsQuery, "FS?\r");
  EXPECT_EQ(tab.FsAnswerDown, "FS:1\r\n");
}

TEST_F(CommandTableTest, KindsOffAndInputsOffGiveNoCommands) {
  s.Inputs[1][1] = {1, 0, "1", "10"};
  s.Inputs[2][5] = {0, 1, "5", "50"};
  s.ChCommandOn[2] = 0;
  Build();
  EXPECT_EQ(tab.AllLength[2], 0);
  EXPECT_EQ(tab.Entry(1, 1).SingleLength[2], 0);
  EXPECT_GT(tab.Entry(1, 1).SingleLength[3], 0);
  const CommandEntry& off = tab.Entry(2, 5);
  EXPECT_EQ(off.Active + off.FootSwitch + off.DataKey, 0);
  for (int k = 1; k <= kKinds; ++k) EXPECT_EQ(off.SingleLength[k], 0);
  for (int j = USL; j <= LSL; ++j) EXPECT_EQ(off.LimitLength[j], 0);
  EXPECT_EQ(tab.DeviceUsed[2], 0);
}

TEST_F(CommandTableTest, RebuildResetsLimitsAndFlags) {
  s.Inputs[1][1] = {1, 0, "1", "10"};
  Build();
  tab.Entry(1, 1).LimitValue[USL] = 3;
  tab.Entry(1, 1).Active = 0;
  Build();
  EXPECT_EQ(tab.Entry(1, 1).LimitValue[USL], 999999.999999);
  EXPECT_EQ(tab.Entry(1, 1).Active, 1);
}

TEST_F(CommandTableTest, BlanksAreDroppedFromCommandsNotFromAnswers) {
  s.Blanks = 1;
  s.ChCommandAll[1] = "\"M A\",13";
  s.UndefCommand = "\"N A\"";
  Build();
  EXPECT_EQ(tab.AllCommand[1], "MA\r");
  EXPECT_EQ(tab.UndefAnswer, "N A");
}

TEST_F(CommandTableTest, SeparatorOnlyWithMultipleCommands) {
  s.MultipleCommands = 0;
  Build();
  EXPECT_EQ(tab.SeparatorText, "");
}

TEST_F(CommandTableTest, FootSwitchSelectionCountsTheSwitchesTheLibraryNames) {
  Build();
  EXPECT_EQ(tab.FsTrigger[1].device, 1);
  EXPECT_EQ(tab.FsTrigger[1].input, 0);
  s.FsSelect = 1;
  Build();
  EXPECT_EQ(tab.FsTrigger[1].device, 1);
  EXPECT_EQ(tab.FsTrigger[1].input, 1);
  s.FsSelect = 2;
  Build();
  EXPECT_EQ(tab.FsTrigger[1].device, 0);
  EXPECT_EQ(tab.FsTrigger[1].input, 0);
}

TEST_F(CommandTableTest, AdditionalTriggersAndTheirDevices) {
  s.FsSelect = 5;
  s.AddInputAdr1 = "1.1";
  s.AddInputAdr2 = "0";
  Build();
  EXPECT_EQ(tab.FsTrigger[2].device, 1);
  EXPECT_EQ(tab.FsTrigger[2].input, 1);
  EXPECT_EQ(tab.FsTrigger[3].device, 0);
  // Device 1 has no active input; its foot switch alone puts it in use.
  EXPECT_EQ(tab.DeviceUsed[1], 1);

  for (const char* bad : {"", "1", "x.1", "1.y", "2.0", "9.0", "-1.0", "1.1.1", "99999.1"}) {
    s.AddInputAdr1 = bad;
    Build();
    EXPECT_EQ(tab.FsTrigger[2].device, 0) << bad;
  }
}

}  // namespace
