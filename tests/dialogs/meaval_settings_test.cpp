#include "meaval_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "dialog_fixture.h"
#include "settings_record.h"

namespace {

class MeaValSettingsTest : public DialogTest {
 protected:
  // Types text into Numofchar2, presses OK and returns the stored NumOfChar.
  int16_t StoredCount(const QString& text) {
    Settings.NumOfChar = -99;
    MeaVal_Settings dialog;
    dialog.show();
    dialog.Numofchar2->clear();
    QTest::keyClicks(dialog.Numofchar2, text);
    QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << text.toStdString();
    return Settings.NumOfChar;
  }
};

}  // namespace

TEST_F(MeaValSettingsTest, DefaultsShowNineCharactersPointZerosAndSign) {
  SettingsRecord defaults;
  Settings = defaults;
  MeaVal_Settings dialog;
  EXPECT_EQ(dialog.windowTitle(), "  Measured-value format");
  EXPECT_EQ(dialog.Numofchar2->text(), "9");
  ASSERT_EQ(dialog.DecPnt2->count(), 2);
  EXPECT_EQ(dialog.DecPnt2->itemText(0), dialog.DecPnt1->text());
  EXPECT_EQ(dialog.DecPnt2->currentIndex(), 0);
  EXPECT_TRUE(dialog.LeadZeros1->isChecked());
  EXPECT_TRUE(dialog.PosSign1->isChecked());
  EXPECT_EQ(dialog.Timeout2->text(), "");
  EXPECT_EQ(dialog.Range2->text(), "");
  Settings.NumOfChar = -3;
  MeaVal_Settings negative;
  EXPECT_EQ(negative.Numofchar2->text(), "-3");
}

TEST_F(MeaValSettingsTest, NumberOfCharactersIsReadAsANumberPrefix) {
  EXPECT_EQ(StoredCount("12"), 12);
  EXPECT_EQ(StoredCount(" 7abc"), 7);
  EXPECT_EQ(StoredCount("abc"), 0);
  EXPECT_EQ(StoredCount("6.5"), 6);
  EXPECT_EQ(StoredCount("7.5"), 8);
  EXPECT_EQ(StoredCount("&H10"), 16);
  EXPECT_EQ(StoredCount("&O17"), 15);
  EXPECT_EQ(StoredCount("1 2"), 12);
  EXPECT_EQ(StoredCount("1,5"), 1);
  EXPECT_EQ(StoredCount("-32768"), -32768);
  EXPECT_EQ(StoredCount("32767.4"), 32767);
}

TEST_F(MeaValSettingsTest, NumbersOutside16BitsAreRefusedAndTheDialogStaysOpen) {
  for (const char* text : {"32768", "-32769", "1e9", "&H10000"}) {
    Settings.NumOfChar = 9;
    SettingsRecord before = Settings;
    MeaVal_Settings dialog;
    dialog.show();
    dialog.Numofchar2->setText(text);
    dialog.Timeout2->setText("T");
    QString message;
    OnModal<QMessageBox>([&message](QMessageBox* box) {
      message = box->text();
      box->accept();
    });
    QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    EXPECT_TRUE(message.contains("-32768")) << text;
    EXPECT_TRUE(dialog.isVisible()) << text;
    EXPECT_TRUE(Settings == before) << text;
    // Corrected, the same dialog stores.
    dialog.Numofchar2->setText("8");
    QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Settings.NumOfChar, 8);
    EXPECT_EQ(Settings.Timeout, "T");
  }
}

TEST_F(MeaValSettingsTest, OkStoresTheOtherFieldsAndCancelNone) {
  Settings.Timeout = "\"TO\"";
  SettingsRecord before = Settings;
  {
    MeaVal_Settings dialog;
    dialog.show();
    dialog.DecPnt2->setCurrentIndex(1);
    ClickCheckBox(dialog.LeadZeros1);
    ClickCheckBox(dialog.PosSign1);
    dialog.Timeout2->setText(" x ");
    dialog.Range2->setText("\"R\",13");
    dialog.Numofchar2->setText("4");
    QTest::mouseClick(dialog.Abbruch, Qt::LeftButton);
    EXPECT_TRUE(Settings == before);
  }
  MeaVal_Settings dialog;
  dialog.show();
  EXPECT_TRUE(dialog.Timeout2->toolTip().contains("Bytes: TO"));
  dialog.DecPnt2->setCurrentIndex(1);
  ClickCheckBox(dialog.LeadZeros1);
  ClickCheckBox(dialog.PosSign1);
  dialog.Timeout2->setText(" x ");
  dialog.Range2->setText("\"R\",<mv>,13");
  EXPECT_TRUE(dialog.Range2->toolTip().contains("R&lt;mv&gt;\\r"));
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.DecPnt, 1);
  EXPECT_EQ(Settings.LeadZeros, 0);
  EXPECT_EQ(Settings.PosSign, 0);
  EXPECT_EQ(Settings.Timeout, " x ");
  EXPECT_EQ(Settings.Range, "\"R\",<mv>,13");
  EXPECT_EQ(Settings.NumOfChar, before.NumOfChar);
}
