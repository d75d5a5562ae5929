// Saving and loading named configurations from the setup window.
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "configuration_list.h"
#include "input_table.h"
#include "load_config.h"
#include "settings_file.h"
#include "setup_window_fixture.h"

namespace {

class NamedConfigurationTest : public SetupWindowTest {
 protected:
  // Clicks SaveCfg, types name into the input box and returns the message shown, if any.
  static QString Save(SetupWindow& window, const QString& name) {
    auto message = std::make_shared<QString>();
    auto finished = std::make_shared<bool>(false);
    OnModal<QInputDialog>([name, message, finished, &window](QInputDialog* box) {
      EXPECT_EQ(box->labelText(), "Save configuration as ...");
      box->setTextValue(name);
      box->accept();
      OnModal<QMessageBox>(
          [message, &window](QMessageBox* shown) {
            *message = shown->text();
            EXPECT_FALSE(window.Timer1->isActive()) << "the move timer ran behind the message";
            shown->accept();
          },
          finished);
    });
    QTest::mouseClick(window.SaveCfg, Qt::LeftButton);
    *finished = true;
    QCoreApplication::processEvents();
    return *message;
  }
};

int CountLines(const std::string& text) {
  int lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
    ++lines;
  }
  return lines;
}

bool HasKey(const std::string& text, int key) {
  const std::string line = std::to_string(key) + ":";
  return text.starts_with(line) || text.find("\r\n" + line) != std::string::npos;
}

}  // namespace

TEST_F(NamedConfigurationTest, SaveWritesTheDeviceKeysOnlyAndTakesOverTheRows) {
  ASSERT_TRUE(WriteSettings(""));
  const std::string settingsFile = dir.Read(kSettingsFileName);
  SetupWindow window(Library());
  window.show();
  window.Inputs->CAdr[1]->setText("saved");
  EXPECT_TRUE(Save(window, "  Test  ").isEmpty());
  const std::string saved = dir.Read("Test.con");
  EXPECT_EQ(CountLines(saved), 4838);
  for (int key : {10, 20, 40, 50, 60, 82, 83, 84, 91, 92, 93, 94}) {
    EXPECT_FALSE(HasKey(saved, key)) << key;
  }
  EXPECT_TRUE(HasKey(saved, 30));
  EXPECT_NE(saved.find("\r\n1001:saved\r\n"), std::string::npos);
  EXPECT_EQ(dir.Read(kSettingsFileName), settingsFile);
  // An empty name, and cancel, save nothing.
  EXPECT_TRUE(Save(window, "   ").isEmpty());
  OnModal<QInputDialog>([](QInputDialog* box) { box->reject(); });
  QTest::mouseClick(window.SaveCfg, Qt::LeftButton);
  EXPECT_EQ(ListConfigurations().size(), 1u);
}

TEST_F(NamedConfigurationTest, NamesThatLeaveTheFolderAreRefused) {
  std::filesystem::create_directory("sub");
  SetupWindow window(Library());
  window.show();
  for (const char* name : {"../outside", "sub/inside", ".hidden", "a..b", "sub\\x"}) {
    QString message = Save(window, name);
    EXPECT_TRUE(message.contains("cannot be used as a configuration name")) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/../outside.con"));
  EXPECT_TRUE(std::filesystem::is_empty("sub"));
  EXPECT_EQ(ListConfigurations().size(), 0u);
}

TEST_F(NamedConfigurationTest, AFailingSaveIsReported) {
  std::filesystem::create_directory("Blocked.con");  // a folder cannot be replaced by a file
  SetupWindow window(Library());
  window.show();
  EXPECT_TRUE(Save(window, "Blocked").contains("could not be saved"));
}

TEST_F(NamedConfigurationTest, LoadAppliesDeviceKeysAndKeepsProgramWideOnes) {
  WriteDdk(DdkWithInputs(3));
  Settings.Password = "pw";
  Settings.LanguageNo = 1;
  Settings.VcpCom1 = 7;
  Settings.HotKey2 = 3;
  dir.Write("Station.con",
            "10:2\r\n20:9\r\n60:x\r\n92:1\r\n30:1000\r\n200:1\r\n201:\"LOADED\"\r\n"
            "1000:3\r\n1001:L1\r\n9000:1\r\n");
  SetupWindow window(Library());
  window.show();
  OnModal<LoadConfig>([](LoadConfig* d) {
    EXPECT_FALSE(d->OKButton->isEnabled());
    QTest::mouseClick(d->List1->viewport(), Qt::LeftButton, {},
                      d->List1->visualItemRect(d->List1->item(0)).center());
    QTest::mouseClick(d->OKButton, Qt::LeftButton);
  });
  QTest::mouseClick(window.LoadCfg, Qt::LeftButton);
  EXPECT_EQ(Settings.CommandFormat, kOwnCommandFormat);
  EXPECT_EQ(Settings.Password, "pw");
  EXPECT_EQ(Settings.LanguageNo, 1);
  EXPECT_EQ(Settings.VcpCom1, 7);
  EXPECT_EQ(Settings.HotKey2, 3);
  EXPECT_EQ(window.Com_Format->currentIndex(), window.Com_Format->count() - 1);
  EXPECT_TRUE(window.Ch_Command_All[0]->isVisible());
  EXPECT_EQ(window.Ch_Command_All[0]->text(), "\"LOADED\"");
  EXPECT_EQ(window.Inputs->CAdr[1]->text(), "L1");
  EXPECT_EQ(window.FS_SELECT->currentIndex(), 1);
  // Cancel in the list loads nothing.
  SettingsRecord before = Settings;
  OnModal<LoadConfig>([](LoadConfig* d) { QTest::mouseClick(d->CancelButton, Qt::LeftButton); });
  QTest::mouseClick(window.LoadCfg, Qt::LeftButton);
  EXPECT_TRUE(Settings == before);
}

TEST_F(NamedConfigurationTest, LoadWithAMissingPresetShowsTheDeviceName) {
  dir.Write("Old.con", "30:17\r\n100:Old device\r\n");
  SetupWindow window(Library());
  window.show();
  OnModal<LoadConfig>([](LoadConfig* d) {
    d->List1->setCurrentRow(0);
    QTest::mouseClick(d->OKButton, Qt::LeftButton);
  });
  QTest::mouseClick(window.LoadCfg, Qt::LeftButton);
  EXPECT_EQ(Settings.CommandFormat, 17);
  EXPECT_EQ(window.Com_Format->currentIndex(), -1);
  EXPECT_EQ(window.Com_Format->placeholderText(), "Old device");
  EXPECT_FALSE(window.Ch_Command_All[0]->isVisible());
}
