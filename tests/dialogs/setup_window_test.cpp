#include "setup_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "additional_settings.h"
#include "input_table.h"
#include "load_config.h"
#include "meaval_settings.h"
#include "password_window.h"
#include "presets.h"
#include "settings_file.h"
#include "setup_window_fixture.h"

TEST_F(SetupWindowTest, CancelUndoesPresetOwnFormatSubDialogsAndALoadedConfiguration) {
  dir.Write("A.con", "30:3\r\n100:Loaded\r\n1001:Z\r\n243:0\r\n");
  Settings.Password = "secret";
  ASSERT_TRUE(WriteSettings(""));
  const std::string fileBefore = dir.Read(kSettingsFileName);
  for (bool escape : {false, true}) {
    SettingsRecord before = Settings;
    SetupWindow window(Library());
    window.show();
    window.Com_Format->setCurrentIndex(PositionOfPreset(window, 4));
    ASSERT_EQ(Settings.CommandFormat, 4);
    ChooseOwnFormat(window, "kwzq");
    ASSERT_EQ(Settings.CommandFormat, kOwnCommandFormat);
    window.Ch_Command_All[0]->setText("\"X\"");
    window.Inputs->CAdr[1]->setText("edited");
    OnModal<AdditionalSettings>([](AdditionalSettings* d) {
      d->CS[0]->setText("extra");
      ClickCheckBox(d->Blanks);
      QTest::mouseClick(d->OKButton, Qt::LeftButton);
    });
    QTest::mouseClick(window.Add_Settings, Qt::LeftButton);
    ASSERT_EQ(Settings.TabCommand[1], "extra");
    OnModal<MeaVal_Settings>([](MeaVal_Settings* d) {
      d->Numofchar2->setText("3");
      QTest::mouseClick(d->OKButton, Qt::LeftButton);
    });
    QTest::mouseClick(window.Answer_Setup, Qt::LeftButton);
    ASSERT_EQ(Settings.NumOfChar, 3);
    OnModal<LoadConfig>([](LoadConfig* d) {
      d->List1->setCurrentRow(0);
      QTest::mouseClick(d->OKButton, Qt::LeftButton);
    });
    QTest::mouseClick(window.LoadCfg, Qt::LeftButton);
    ASSERT_EQ(Settings.Inputs[1][1].CommandAdr, "Z");
    window.PWord->setText("other");
    if (escape) {
      QTest::keyClick(&window, Qt::Key_Escape);
    } else {
      QTest::mouseClick(window.Abbruch, Qt::LeftButton);
    }
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(window.Timer1->isActive());
    EXPECT_TRUE(Settings == before);
    EXPECT_EQ(dir.Read(kSettingsFileName), fileBefore);
  }
}

TEST_F(SetupWindowTest, OwnFormatNeedsTheServiceCodeInAnyCase) {
  SetupWindow window(Library());
  window.show();
  const int presetPosition = window.Com_Format->currentIndex();
  for (const char* wrong : {"kwz", "KWZQ ", ""}) {
    ChooseOwnFormat(window, wrong);
    EXPECT_EQ(Settings.CommandFormat, 0) << wrong;
    EXPECT_EQ(window.Com_Format->currentIndex(), presetPosition) << wrong;
    EXPECT_FALSE(window.Ch_Command_All[0]->isVisible()) << wrong;
  }
  // Cancel in the prompt refuses too.
  OnModal<PasswordWindow>([](PasswordWindow* p) { QTest::mouseClick(p->Abbruch, Qt::LeftButton); });
  window.Com_Format->setCurrentIndex(window.Com_Format->count() - 1);
  EXPECT_EQ(Settings.CommandFormat, 0);

  SettingsRecord preset0 = Settings;
  ChooseOwnFormat(window, "kWzQ");
  EXPECT_EQ(Settings.CommandFormat, kOwnCommandFormat);
  EXPECT_TRUE(window.Ch_Command_All[0]->isVisible());
  EXPECT_TRUE(window.Answer_Setup->isVisible());
  EXPECT_TRUE(window.FS_COMMAND[2]->isVisible());
  EXPECT_EQ(window.Ch_Command_All[0]->text().toStdString(), preset0.ChCommandAll[1]);
  EXPECT_EQ(window.Ch_Command_Single[0]->text().toStdString(), preset0.ChCommandSingle[1]);
  EXPECT_EQ(window.Ch_Command_Cb[0]->isChecked(), preset0.ChCommandOn[1] != 0);
  EXPECT_TRUE(window.Ch_Command_Single[0]->toolTip().contains("M&lt;ch&gt;\\r"));
  // Choosing the own format keeps the addresses the inputs have.
  EXPECT_EQ(Settings.Inputs[1][3].CommandAdr, preset0.Inputs[1][3].CommandAdr);
  EXPECT_EQ(window.Inputs->CAdr[3]->text().toStdString(), preset0.Inputs[1][3].CommandAdr);
}

TEST_F(SetupWindowTest, ChoosingAPresetAppliesItAndItsDefaultAddresses) {
  WriteDdk(DdkWithInputs(10));
  SetupWindow window(Library());
  window.show();
  window.Com_Format->setCurrentIndex(PositionOfPreset(window, 3));
  SettingsRecord expected;
  expected.CommandFormat = 3;
  ASSERT_TRUE(LoadPreset(expected));
  EXPECT_EQ(Settings.CommandFormat, 3);
  EXPECT_EQ(Settings.DeviceName, expected.DeviceName);
  EXPECT_EQ(Settings.ChCommandSingle, expected.ChCommandSingle);
  EXPECT_EQ(Settings.NumOfChar, expected.NumOfChar);
  EXPECT_EQ(Settings.Inputs[1][9].CommandAdr, "X");
  EXPECT_EQ(Settings.Inputs[1][10].MeaValAdr, "Y");
  EXPECT_FALSE(window.Ch_Command_All[0]->isVisible());
  EXPECT_EQ(window.Inputs->CAdr[1]->text(), "1");

  window.Com_Format->setCurrentIndex(PositionOfPreset(window, 0));
  EXPECT_EQ(Settings.Inputs[1][8].MeaValAdr, "80");
  EXPECT_EQ(Settings.Inputs[1][9].State, 0);
  EXPECT_EQ(Settings.Inputs[1][9].CommandAdr, "");
}

TEST_F(SetupWindowTest, MissingPresetFileShowsTheOwnFormat) {
  std::remove("LIB005.DRV");
  Settings.CommandFormat = 5;
  SetupWindow window(Library());
  window.show();
  EXPECT_EQ(window.Com_Format->currentIndex(), window.Com_Format->count() - 1);
  EXPECT_EQ(window.Com_Format->currentText(), "Own command format");
  EXPECT_TRUE(window.Ch_Command_All[0]->isVisible());
  EXPECT_EQ(Settings.CommandFormat, 5);
}

TEST_F(SetupWindowTest, OkStoresPasswordOnlyWhenTickedAndWritesTheSettingsFile) {
  Settings.Password = "   ";
  {
    SetupWindow window(Library());
    window.show();
    EXPECT_FALSE(window.PWOnOff->isChecked());
    EXPECT_FALSE(window.PWord->isEnabled());
    window.PWord->setText("ignored");
    QTest::mouseClick(window.OKButton, Qt::LeftButton);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(Settings.Password, "");
    EXPECT_NE(dir.Read(kSettingsFileName).find("\r\n60:\r\n"), std::string::npos);
  }
  SetupWindow window(Library());
  window.show();
  ClickCheckBox(window.PWOnOff);
  EXPECT_TRUE(window.PWord->isEnabled());
  QTest::keyClicks(window.PWord, "  open sesame ");
  window.FS_SELECT->setCurrentIndex(1);
  QTest::mouseClick(window.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.Password, "open sesame");
  EXPECT_EQ(Settings.FsSelect, 1);
  EXPECT_NE(dir.Read(kSettingsFileName).find("\r\n60:open sesame\r\n"), std::string::npos);
  EXPECT_NE(dir.Read(kSettingsFileName).find("\r\n9000:1\r\n"), std::string::npos);
}

TEST_F(SetupWindowTest, OkStoresTheOwnFormatAndTableEditsAndReportsAFailingWrite) {
  SetupWindow window(Library());
  window.show();
  ChooseOwnFormat(window, "KWZQ");
  window.Ch_Command_All[6]->setText("\"ALL\",13");
  ClickCheckBox(window.Ch_Command_Cb[6]);
  window.Answer_String->setText("<ch>,\" \",<mv>");
  window.FS_COMMAND[0]->setText("\"F\"");
  window.Inputs->MVAdr[2]->setText("m2");
  std::remove(kSettingsFileName);
  std::filesystem::create_directory(kSettingsFileName);  // a folder cannot be replaced
  QString message;
  bool moving = true;
  OnModal<QMessageBox>([&](QMessageBox* box) {
    message = box->text();
    moving = window.Timer1->isActive();
    box->accept();
  });
  QTest::mouseClick(window.OKButton, Qt::LeftButton);
  EXPECT_TRUE(message.contains("could not be written")) << message.toStdString();
  EXPECT_FALSE(moving) << "the move timer ran while the message box was open";
  EXPECT_EQ(window.result(), QDialog::Accepted);
  EXPECT_EQ(Settings.ChCommandAll[7], "\"ALL\",13");
  EXPECT_EQ(Settings.ChCommandOn[7], SettingsBackup.ChCommandOn[7] ? 0 : 1);
  EXPECT_EQ(Settings.AnswerString, "<ch>,\" \",<mv>");
  EXPECT_EQ(Settings.FsCommand[1], "\"F\"");
  EXPECT_EQ(Settings.Inputs[1][2].MeaValAdr, "m2");
}

TEST_F(SetupWindowTest, AltAndArrowsMoveTheWindowByAThirdPerTick) {
  SetupWindow window(Library());
  window.show();
  window.move(300, 300);
  const QPoint start = window.pos();
  const QSize size = window.frameGeometry().size();
  MoveKeys keys;
  window.KeyState = [&keys] { return keys; };
  keys.right = true;
  window.Timer1_Timer();
  EXPECT_EQ(window.pos(), start);
  keys.alt = true;
  window.Timer1_Timer();
  EXPECT_EQ(window.pos(), start + QPoint(size.width() / 3, 0));
  keys = {true, false, false, true, false};
  window.Timer1_Timer();
  EXPECT_EQ(window.pos(), start + QPoint(size.width() / 3, size.height() / 3));
}

TEST_F(SetupWindowTest, HeldKeysAreTrackedFromTheWindowsKeyEvents) {
  SetupWindow window(Library());
  window.show();
  window.move(300, 300);
  const QPoint start = window.pos();
  QTest::keyPress(window.PWord, Qt::Key_Alt, Qt::AltModifier);
  QTest::keyPress(window.Com_Format, Qt::Key_Left, Qt::AltModifier);
  window.Timer1_Timer();
  EXPECT_EQ(window.pos(), start - QPoint(window.frameGeometry().width() / 3, 0));
  QTest::keyRelease(window.Com_Format, Qt::Key_Left, Qt::AltModifier);
  window.Timer1_Timer();
  EXPECT_EQ(window.pos(), start - QPoint(window.frameGeometry().width() / 3, 0));
  QTest::keyRelease(window.PWord, Qt::Key_Alt);
}
