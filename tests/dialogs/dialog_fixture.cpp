#include "dialog_fixture.h"

#include <QTest>
#include <filesystem>

#include "device_items.h"
#include "language_file.h"
#include "settings_file.h"
#include "settings_record.h"

DialogTest::DialogTest() {
  for (const char* name : {"VCP001.LAN", "LIB000.DRV", "LIB001.DRV", "LIB002.DRV", "LIB003.DRV",
                           "LIB004.DRV", "LIB005.DRV"}) {
    std::filesystem::copy_file(std::string(VELK_DATA_DIR) + "/" + name, dir.path() + "/" + name);
  }
  EXPECT_TRUE(LoadLanguage(1));
  Settings = SettingsRecord{};
  EXPECT_TRUE(ReadSettings(""));
  Settings.LanguageNo = 1;
  WriteDdk(DdkWithInputs(3));
}

void DialogTest::WriteDdk(const std::string& text) {
  dir.Write(kDdkFileName, text);
  Library().Device_Setup(1, kDdkFileName, 0);
}

DdkLibrary& DialogTest::Library() {
  static DdkLibrary library;
  return library;
}

std::string DdkWithInputs(int count, int perDevice, bool footSwitches) {
  std::string text;
  int device = 0;
  for (int c = 0; c < count; ++c) {
    if (c % perDevice == 0) {
      text += "device: " + std::to_string(++device) + "\n";
      if (device == 1 && footSwitches) {
        text += "footswitch: 0\nname: Pedal\nfootswitch: 1\nname: Hand switch\n";
      }
    }
    text += "input: " + std::to_string(c % perDevice + 1) + "\nname: Gauge " +
            std::to_string(c + 1) + "\n";
  }
  if (count == 0 && footSwitches) {
    text += "device: 1\nfootswitch: 0\nname: Pedal\nfootswitch: 1\nname: Hand switch\n";
  }
  return text;
}

void ClickCheckBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}
