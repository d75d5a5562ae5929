#include "input_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "setup_window_fixture.h"

TEST_F(SetupWindowTest, FiveInputsHideTheLastRowsAndTwentyScrollToThirteen) {
  WriteDdk(DdkWithInputs(5));
  {
    SetupWindow window(Library());
    window.show();
    InputTable& table = *window.Inputs;
    EXPECT_FALSE(table.VScroll1->isEnabled());
    EXPECT_EQ(table.VScroll1->maximum(), 1);
    EXPECT_TRUE(table.CAdr[5]->isVisible());
    for (int k = 6; k <= 8; ++k) {
      EXPECT_FALSE(table.CAdr[k]->isVisible()) << k;
      EXPECT_FALSE(table.State[k]->isVisible()) << k;
    }
    EXPECT_EQ(table.Address[5]->text(), "ADR1.5");
    EXPECT_EQ(table.GauInput[5]->text(), "  Gauge 5");
  }
  WriteDdk(DdkWithInputs(20, 12));
  SetupWindow window(Library());
  window.show();
  InputTable& table = *window.Inputs;
  EXPECT_TRUE(table.VScroll1->isEnabled());
  EXPECT_EQ(table.VScroll1->minimum(), 1);
  EXPECT_EQ(table.VScroll1->maximum(), 13);
  EXPECT_TRUE(table.CAdr[8]->isVisible());
  table.VScroll1->setValue(13);
  EXPECT_EQ(table.Address[8]->text(), "ADR2.8");  // running number 20
  EXPECT_EQ(table.Address[1]->text(), "ADR2.1");  // running number 13
}

TEST_F(SetupWindowTest, PagingKeepsEditsForTheInputsTheyWereMadeFor) {
  WriteDdk(DdkWithInputs(20));
  Settings.Inputs[1][2].State = 1;
  SetupWindow window(Library());
  window.show();
  InputTable& table = *window.Inputs;
  table.CAdr[2]->setText("two");
  const int16_t fsBefore = Settings.Inputs[1][2].FS;
  ClickCheckBox(table.FS[2]);
  QTest::keyClick(table.VScroll1, Qt::Key_Down);
  EXPECT_EQ(table.VScroll1->value(), 2);
  EXPECT_EQ(table.TopRow, 2);
  EXPECT_EQ(Settings.Inputs[1][2].CommandAdr, "two");
  EXPECT_EQ(Settings.Inputs[1][2].FS, fsBefore ? 0 : 1);
  EXPECT_EQ(table.CAdr[1]->text(), "two");
  table.MVAdr[8]->setText("nine");
  table.VScroll1->setValue(1);
  EXPECT_EQ(Settings.Inputs[1][9].MeaValAdr, "nine");
  EXPECT_EQ(table.CAdr[2]->text(), "two");
  EXPECT_EQ(table.Address[2]->text(), "ADR1.2");
}

TEST_F(SetupWindowTest, StateTicksEnableTheRowsFields) {
  Settings.Inputs[1][1].State = 1;
  Settings.Inputs[1][2].State = 0;
  Settings.Inputs[1][2].CommandAdr = "kept";
  SetupWindow window(Library());
  window.show();
  InputTable& table = *window.Inputs;
  EXPECT_TRUE(table.CAdr[1]->isEnabled());
  EXPECT_FALSE(table.CAdr[2]->isEnabled());
  EXPECT_FALSE(table.MVAdr[2]->isEnabled());
  EXPECT_FALSE(table.FS[2]->isEnabled());
  EXPECT_EQ(table.CAdr[2]->text(), "kept");
  ClickCheckBox(table.State[2]);
  EXPECT_TRUE(table.CAdr[2]->isEnabled());
  EXPECT_TRUE(table.MVAdr[2]->isEnabled());
  EXPECT_TRUE(table.FS[2]->isEnabled());
}

TEST_F(SetupWindowTest, FootSwitchListAndAPastTheEndChoice) {
  Settings.FsSelect = 5;
  {
    SetupWindow window(Library());
    ASSERT_EQ(window.FS_SELECT->count(), 2);
    EXPECT_EQ(window.FS_SELECT->itemText(0), "Device 1  -  Pedal");
    EXPECT_EQ(window.FS_SELECT->itemText(1), "Device 1  -  Hand switch");
    EXPECT_EQ(window.FS_SELECT->currentIndex(), 0);
    EXPECT_EQ(Settings.FsSelect, 0);
  }
  Settings.FsSelect = 1;
  SetupWindow window(Library());
  EXPECT_EQ(window.FS_SELECT->currentIndex(), 1);
  WriteDdk(DdkWithInputs(2, 120, false));
  SetupWindow none(Library());
  EXPECT_EQ(none.FS_SELECT->count(), 0);
  QTest::mouseClick(none.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.FsSelect, 1);  // no list, no choice to take over
}

TEST_F(SetupWindowTest, DriverSetupRereadsInputsAndFootSwitches) {
  Settings.FsSelect = 1;
  SetupWindow window(Library());
  window.show();
  EXPECT_EQ(window.Inputs->VScroll1->maximum(), 1);
  WriteDdk(DdkWithInputs(12, 120, false).replace(0, 0, "device: 3\nfootswitch: 1\nname: Knee\n"));
  QTest::mouseClick(window.DDK_SETUP, Qt::LeftButton);
  EXPECT_EQ(window.Inputs->VScroll1->maximum(), 5);
  EXPECT_EQ(Settings.FsSelect, 0);
  ASSERT_EQ(window.FS_SELECT->count(), 1);
  EXPECT_EQ(window.FS_SELECT->itemText(0), "Device 3  -  Knee");
  // Preset 0 defaults for the new inputs: 1..8 in use, 9..12 cleared.
  EXPECT_EQ(Settings.Inputs[1][8].MeaValAdr, "80");
  EXPECT_EQ(Settings.Inputs[1][12].State, 0);
  EXPECT_TRUE(window.Timer1->isActive());
}
