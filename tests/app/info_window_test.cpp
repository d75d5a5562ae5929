#include "info_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "language_file.h"
#include "settings_record.h"

namespace {

class InfoWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    LanguageTexts[400] = "Info";
    LanguageTexts[120] = "About this program";
    LanguageTexts[121] = "Do not show at start";
  }
};

TEST_F(InfoWindowTest, CheckBoxIsTheInverseOfTheSetting) {
  Settings.ShowInfoWin = 1;
  InfoWindow window;
  window.show();
  EXPECT_EQ(window.windowTitle(), " Info");
  EXPECT_EQ(window.palette().color(QPalette::Window), QColor(240, 233, 208));
  EXPECT_EQ(window.Label1->text(), "About this program");
  EXPECT_EQ(window.ShowInfoWin->text(), "Do not show at start");
  EXPECT_FALSE(window.ShowInfoWin->isChecked());
  QTest::mouseClick(window.ShowInfoWin, Qt::LeftButton);
  QTest::mouseClick(window.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.ShowInfoWin, 0);

  InfoWindow again;
  again.show();
  EXPECT_TRUE(again.ShowInfoWin->isChecked());
  QTest::mouseClick(again.ShowInfoWin, Qt::LeftButton);
  QTest::mouseClick(again.OKButton, Qt::LeftButton);
  EXPECT_EQ(Settings.ShowInfoWin, 1);
}

TEST_F(InfoWindowTest, ClosingByTheFrameChangesNothing) {
  Settings.ShowInfoWin = 1;
  InfoWindow window;
  window.show();
  QTest::mouseClick(window.ShowInfoWin, Qt::LeftButton);
  window.close();
  EXPECT_EQ(Settings.ShowInfoWin, 1);
}

}  // namespace
