#include "several_vcps.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "language_file.h"
#include "modal.h"
#include "settings_record.h"

namespace {

class SeveralVCPsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    LanguageTexts[101] = "Virtual COM port";
    LanguageTexts[111] = "Port missing or twice";
    LanguageTexts[130] = "Hot key";
    exists_.fill(0);
    exists_[1] = 1;  // COM1 and COM2 are real ports
    exists_[2] = 1;
  }

  ComPortTable exists_{};
};

TEST_F(SeveralVCPsTest, ListsOnlyFreeNumbersAndTranslatesPositions) {
  Settings.VcpCom1 = 5;
  SeveralVCPs dialog(exists_);
  dialog.show();
  ASSERT_EQ(dialog.VCPSelect[0]->count(), 14);
  EXPECT_EQ(dialog.VCPSelect[0]->itemText(0), "COM3");
  EXPECT_EQ(dialog.VCPSelect[3]->itemText(13), "COM16");
  EXPECT_EQ(dialog.VCPSelect[0]->currentIndex(), 2);
  EXPECT_EQ(dialog.ComToListIndex(5), 2);
  EXPECT_EQ(dialog.ComToListIndex(2), -1);
  EXPECT_EQ(dialog.ComToListIndex(0), -1);
  EXPECT_EQ(dialog.ComToListIndex(17), -1);
  EXPECT_EQ(dialog.ListIndexToCom(0), 3);
  EXPECT_EQ(dialog.ListIndexToCom(13), 16);
  EXPECT_EQ(dialog.ListIndexToCom(14), 0);
  EXPECT_EQ(dialog.ListIndexToCom(-1), 0);
  EXPECT_EQ(dialog.windowTitle(), "  ");
  EXPECT_EQ(dialog.palette().color(QPalette::Window), QColor(240, 233, 208));
  EXPECT_EQ(dialog.Label2->text(), "Hot key");
}

TEST_F(SeveralVCPsTest, HotKeyEntriesInTheOrderOfTheirNumbers) {
  SeveralVCPs dialog(exists_);
  dialog.show();
  ASSERT_EQ(dialog.KComb[2]->count(), 49);
  EXPECT_EQ(dialog.KComb[2]->itemText(0), "---");
  EXPECT_EQ(dialog.KComb[2]->itemText(1), "F1");
  EXPECT_EQ(dialog.KComb[2]->itemText(12), "F12");
  EXPECT_EQ(dialog.KComb[2]->itemText(13), "Ctrl+F1");
  EXPECT_EQ(dialog.KComb[2]->itemText(25), "Alt+F1");
  EXPECT_EQ(dialog.KComb[2]->itemText(48), "Alt+Ctrl+F12");
}

TEST_F(SeveralVCPsTest, RowsFollowTheSettingsAndPortOneCannotBeSwitched) {
  Settings.VcpCom1 = 0;
  Settings.VcpCom3 = 9;
  Settings.HotKey3 = 14;
  Settings.NetPort[3] = "4003";
  Settings.NetProtocol[3] = "rfc2217";
  Settings.NetPort[4] = "4004";
  Settings.NetBind[4] = "0.0.0.0";  // no allow list: invalid
  SeveralVCPs dialog(exists_);
  dialog.show();
  EXPECT_EQ(dialog.NetworkPort[0]->text(), "");
  EXPECT_EQ(dialog.NetworkPort[2]->text(), "network: 127.0.0.1:4003 rfc2217");
  EXPECT_EQ(dialog.NetworkPort[3]->text(), "network: invalid");
  EXPECT_FALSE(dialog.VCPOnOff[0]->isChecked());
  EXPECT_FALSE(dialog.VCPOnOff[0]->isEnabled());
  EXPECT_FALSE(dialog.VCPSelect[0]->isEnabled());
  EXPECT_TRUE(dialog.VCPOnOff[2]->isChecked());
  EXPECT_TRUE(dialog.KComb[2]->isEnabled());
  EXPECT_EQ(dialog.VCPSelect[2]->currentText(), "COM9");
  EXPECT_EQ(dialog.KComb[2]->currentText(), "Ctrl+F2");

  QTest::mouseClick(dialog.VCPOnOff[1], Qt::LeftButton);
  EXPECT_TRUE(dialog.VCPSelect[1]->isEnabled());
  QTest::mouseClick(dialog.VCPOnOff[2], Qt::LeftButton);
  EXPECT_FALSE(dialog.VCPSelect[2]->isEnabled());
  EXPECT_EQ(dialog.VCPSelect[2]->currentText(), "COM9");
}

TEST_F(SeveralVCPsTest, RefusesANumberChosenTwiceNamingTheLaterPort) {
  Settings.VcpCom1 = 3;
  Settings.VcpCom2 = 7;
  Settings.VcpCom4 = 7;
  const SettingsRecord before = Settings;
  SeveralVCPs dialog(exists_);
  dialog.show();
  auto seen = std::make_shared<SeenMessage>();
  AnswerNextMessage(seen);
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(seen->count, 1);
  EXPECT_EQ(seen->text, "COM-Port No.4");
  EXPECT_EQ(seen->title, "Port missing or twice");
  EXPECT_EQ(seen->icon, QMessageBox::Critical);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(Settings == before);
}

TEST_F(SeveralVCPsTest, RefusesAPortThatIsOnWithoutANumber) {
  Settings.VcpCom1 = 3;
  Settings.VcpCom3 = 2;  // COM2 is a real port now: no selection in row 2
  SeveralVCPs dialog(exists_);
  dialog.show();
  EXPECT_EQ(dialog.VCPSelect[2]->currentIndex(), -1);
  auto seen = std::make_shared<SeenMessage>();
  AnswerNextMessage(seen);
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(seen->text, "COM-Port No.3");
  EXPECT_EQ(Settings.VcpCom3, 2);
}

TEST_F(SeveralVCPsTest, OkStoresNumbersAndHotKeysAlsoOfRowsThatAreOff) {
  Settings.VcpCom1 = 3;
  Settings.VcpCom3 = 8;
  SeveralVCPs dialog(exists_);
  dialog.show();
  QTest::mouseClick(dialog.VCPOnOff[1], Qt::LeftButton);
  dialog.VCPSelect[1]->setCurrentIndex(dialog.ComToListIndex(6));
  dialog.KComb[1]->setCurrentIndex(13);
  dialog.KComb[2]->setCurrentIndex(37);
  QTest::mouseClick(dialog.VCPOnOff[2], Qt::LeftButton);  // port 3 off
  EXPECT_FALSE(dialog.EveryPort->isChecked());
  QTest::mouseClick(dialog.EveryPort, Qt::LeftButton);
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(Settings.AnswerEveryPort, 1);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Settings.VcpCom1, 3);
  EXPECT_EQ(Settings.VcpCom2, 6);
  EXPECT_EQ(Settings.VcpCom3, 0);
  EXPECT_EQ(Settings.VcpCom4, 0);
  EXPECT_EQ(Settings.HotKey2, 13);
  EXPECT_EQ(Settings.HotKey3, 37);
}

TEST_F(SeveralVCPsTest, CancelChangesNothing) {
  Settings.VcpCom1 = 3;
  const SettingsRecord before = Settings;
  SeveralVCPs dialog(exists_);
  dialog.show();
  QTest::mouseClick(dialog.VCPOnOff[3], Qt::LeftButton);
  dialog.VCPSelect[3]->setCurrentIndex(4);
  QTest::mouseClick(dialog.CancelButton, Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(Settings == before);
}

}  // namespace
