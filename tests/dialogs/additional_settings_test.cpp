#include "additional_settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialog_fixture.h"
#include "settings_record.h"

namespace {

class AdditionalSettingsTest : public DialogTest {
 protected:
  AdditionalSettingsTest() {
    for (int i = 1; i <= 10; ++i) {
      Settings.TabCommand[i] = "\"C" + std::to_string(i) + "\"";
      Settings.TabAnswer[i] = "\"A" + std::to_string(i) + "\"";
    }
    Settings.TabCommand[0] = "zero";
    Settings.TabCommand[11] = "eleven";
    Settings.UndefCommand = "\"?\",13";
    Settings.EndChar = "13";
    Settings.Blanks = 1;
    Settings.MultipleCommands = 1;
    Settings.Separator = "59";
  }
};

}  // namespace

TEST_F(AdditionalSettingsTest, ShowsTheSettingsAndOkWithoutEditsKeepsThem) {
  SettingsRecord before = Settings;
  AdditionalSettings dialog;
  EXPECT_EQ(dialog.windowTitle(), "  Additional settings");
  EXPECT_EQ(dialog.CS[3]->text(), "\"C4\"");
  EXPECT_EQ(dialog.CA[9]->text(), "\"A10\"");
  EXPECT_EQ(dialog.EndChar2->text(), "13");
  EXPECT_TRUE(dialog.Blanks->isChecked());
  EXPECT_TRUE(dialog.Separator2->isEnabled());
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(Settings == before);
}

TEST_F(AdditionalSettingsTest, OkStoresEditsAndTheSeparatorOfADisabledBox) {
  AdditionalSettings dialog;
  dialog.show();
  dialog.CS[3]->clear();
  QTest::keyClicks(dialog.CA[0], "  x");
  ClickCheckBox(dialog.MultipleCommands);
  EXPECT_FALSE(dialog.Separator2->isEnabled());
  EXPECT_EQ(dialog.Separator2->text(), "59");
  dialog.Separator2->setText("44");
  ClickCheckBox(dialog.Blanks);
  EXPECT_EQ(dialog.History->text(), "Keep every value sent in the value history");
  EXPECT_FALSE(dialog.History->isChecked());
  ClickCheckBox(dialog.History);
  QTest::mouseClick(dialog.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.HistoryOn, 1);
  EXPECT_EQ(Settings.TabCommand[4], "");
  EXPECT_EQ(Settings.TabCommand[3], "\"C3\"");
  EXPECT_EQ(Settings.TabCommand[5], "\"C5\"");
  EXPECT_EQ(Settings.TabAnswer[1], "\"A1\"  x");  // taken as typed, blanks included
  EXPECT_EQ(Settings.MultipleCommands, 0);
  EXPECT_EQ(Settings.Separator, "44");
  EXPECT_EQ(Settings.Blanks, 0);
  EXPECT_EQ(Settings.TabCommand[0], "zero");
  EXPECT_EQ(Settings.TabCommand[11], "eleven");
}

TEST_F(AdditionalSettingsTest, CancelAndEscapeChangeNothing) {
  SettingsRecord before = Settings;
  for (bool escape : {false, true}) {
    AdditionalSettings dialog;
    dialog.show();
    dialog.CS[0]->setText("changed");
    dialog.UndefCommand2->setText("changed");
    ClickCheckBox(dialog.Blanks);
    if (escape) {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
      QTest::mouseClick(dialog.Abbruch, Qt::LeftButton);
    }
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(Settings == before);
  }
}

TEST_F(AdditionalSettingsTest, TooltipsPreviewTheBytesAndFollowTheBlanksBox) {
  Settings.TabCommand[1] = "\"A B\",13";
  AdditionalSettings dialog;
  EXPECT_TRUE(dialog.CS[0]->toolTip().contains("Bytes: AB\\r"))
      << dialog.CS[0]->toolTip().toStdString();
  ClickCheckBox(dialog.Blanks);
  EXPECT_TRUE(dialog.CS[0]->toolTip().contains("Bytes: A B\\r"));
  dialog.CS[0]->setText("\"M\",<ch>");
  EXPECT_TRUE(dialog.CS[0]->toolTip().contains("M&lt;ch&gt;"));
  EXPECT_TRUE(dialog.EndChar2->toolTip().contains("Bytes: \\r"));
}
