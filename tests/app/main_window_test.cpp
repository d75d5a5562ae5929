#include <fcntl.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>

#include "history_query.h"
#include "info_window.h"
#include "language_file.h"
#include "main_window_fixture.h"
#include "modal.h"
#include "password_window.h"
#include "settings_file.h"
#include "settings_record.h"
#include "setup_window.h"
#include "several_vcps.h"
#include "ui_text.h"
#include "value_recorder.h"

namespace {

QImage IconImage(const QIcon& icon) { return icon.pixmap(64, 64).toImage(); }

TEST_F(MainWindowTest, StartUpCaptionsPortAndTray) {
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), " Velk Virtual COM Port Driver   V2.400");
  EXPECT_EQ(start_form_->lblVersion->text(), "Version 2.40.0");
  EXPECT_FALSE(start_form_->isVisible());
  EXPECT_TRUE(window->Image2->isVisibleTo(window));
  EXPECT_EQ(window->SetupButton->text(), LanguageText(511));
  EXPECT_EQ(window->Quit->text(), "Quit");
  EXPECT_EQ(window->Infobutton->text(), "Info");
  EXPECT_EQ(window->Label9->text(), "  " + FromEngineText(Settings.DeviceName));
  EXPECT_EQ(window->Language->currentText(), "  English");
  ASSERT_EQ(window->COMPort2->count(), 17);
  EXPECT_EQ(window->COMPort2->itemText(0), "  COM1");
  EXPECT_EQ(window->COMPort2->itemText(16), "-->");
  EXPECT_EQ(window->COMPort2->currentIndex(), 0);
  EXPECT_TRUE(window->PortFolderLabel->text().endsWith(QString::fromStdString(port_folder_)));
  EXPECT_TRUE(PortLinkExists(1));
  // Logging is off: the lists are hidden and the window is 3500 twips high.
  EXPECT_EQ(window->height(), 233);
  EXPECT_FALSE(window->List1->isVisibleTo(window));
  // Into the tray: hidden, the tray icon carries the caption.
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(tray_.shown);
  EXPECT_EQ(tray_.tip, window->windowTitle());
  EXPECT_TRUE(window->Timer1.isActive());
  ASSERT_GE(device_.calls.size(), 2u);
  EXPECT_EQ(device_.calls[0], "PreInit");
  EXPECT_EQ(device_.calls[1], "Init");
  EXPECT_EQ(device_.Count("PreInit"), 1);
}

TEST_F(MainWindowTest, InfoWindowAtStartComesBeforeThePorts) {
  WriteSettingsFile({"40:1", "50:1"});
  bool portExistedDuringInfo = true;
  WhenModal<InfoWindow>([&](InfoWindow* info) {
    portExistedDuringInfo = PortLinkExists(1);
    QTest::mouseClick(info->ShowInfoWin, Qt::LeftButton);
    QTest::mouseClick(info->OKButton, Qt::LeftButton);
  });
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  EXPECT_FALSE(portExistedDuringInfo);
  EXPECT_TRUE(PortLinkExists(1));
  EXPECT_EQ(Settings.ShowInfoWin, 0);
  EXPECT_GT(window->height(), 233);
  EXPECT_TRUE(window->List1->isVisibleTo(window));
}

// Each way of closing runs the shutdown once: the device library closed once, the port gone,
// the settings written, the window unloaded.
class ShutdownTest : public MainWindowTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShutdownTest, RunsOnceWhateverClosesTheWindow) {
  const std::string way = GetParam();
  if (way == "password quit") WriteSettingsFile({"40:0", "60:pw"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  ASSERT_TRUE(PortLinkExists(1));
  Settings.HotKey4 = 7;  // reaches the file only through the shutdown
  if (way == "quit") {
    window->Tray_LeftClick();
    QTest::mouseClick(window->Quit, Qt::LeftButton);
  } else if (way == "frame") {
    window->close();
  } else if (way == "password quit") {
    WhenModal<PasswordWindow>(
        [](PasswordWindow* prompt) { QTest::mouseClick(prompt->QuitButton, Qt::LeftButton); });
    tray_.Click();
  } else if (way == "quit then frame") {
    window->Quit_Click();
    window->close();
  }
  ASSERT_TRUE(WaitUnloaded(window));
  EXPECT_EQ(device_.Count("DeInit"), 1);
  EXPECT_FALSE(PortLinkExists(1));
  EXPECT_FALSE(tray_.shown);
  SettingsRecord written;
  ASSERT_TRUE(ReadSettings("", written));
  EXPECT_EQ(written.HotKey4, 7);
  EXPECT_EQ(written.VcpCom1, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, ShutdownTest,
                         ::testing::Values("quit", "frame", "password quit", "quit then frame"));

TEST_F(MainWindowTest, AllPortNumbersTakenShowsText110AndServesWithoutAPort) {
  std::filesystem::create_directories(port_folder_);
  for (int n = 1; n <= 16; ++n) std::filesystem::create_symlink("/dev/null", PortPath(n));
  auto seen = std::make_shared<SeenMessage>();
  AnswerNextMessage(seen);
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  EXPECT_EQ(seen->text, LanguageText(110));
  EXPECT_EQ(seen->title, "Velk Virtual COM Port Driver   V2.400");
  EXPECT_EQ(seen->icon, QMessageBox::Warning);
  EXPECT_EQ(Settings.VcpCom1, 0);
  ASSERT_EQ(window->COMPort2->count(), 1);
  EXPECT_EQ(window->COMPort2->itemText(0), "-->");
  EXPECT_TRUE(window->Timer1.isActive());
  EXPECT_EQ(std::filesystem::read_symlink(PortPath(1)), "/dev/null");
}

TEST_F(MainWindowTest, DeviceLibraryFailingTwiceEndsTheProgram) {
  std::filesystem::remove(dir_.path() + "/Velk_VCP.DDK");
  WhenModal<SetupWindow>(
      [](SetupWindow* setup) { QTest::mouseClick(setup->Abbruch, Qt::LeftButton); });
  auto seen = std::make_shared<SeenMessage>();
  AnswerNextMessage(seen);
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(WaitUnloaded(window));
  EXPECT_EQ(seen->text, LanguageText(112));
  EXPECT_EQ(seen->icon, QMessageBox::Warning);
  EXPECT_EQ(device_.Count("Init"), 2);
  EXPECT_FALSE(PortLinkExists(1));
  EXPECT_FALSE(start_form_->isVisible());
}

TEST_F(MainWindowTest, SetupWindowOfferedOnceWhenTheDeviceLibraryFails) {
  const std::string ddk = dir_.Read("Velk_VCP.DDK");
  std::filesystem::remove(dir_.path() + "/Velk_VCP.DDK");
  bool portDuringSetup = false;
  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    portDuringSetup = PortLinkExists(1);
    dir_.Write("Velk_VCP.DDK", ddk);  // the user repairs the device configuration
    QTest::mouseClick(setup->OKButton, Qt::LeftButton);
  });
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  EXPECT_TRUE(portDuringSetup);
  EXPECT_EQ(device_.Count("Init"), 2);
  EXPECT_TRUE(window->Timer1.isActive());
  EXPECT_TRUE(tray_.shown);
  EXPECT_FALSE(dir_.Read("Velk_VCP.CFG").empty());
}

TEST_F(MainWindowTest, SetupButtonRestartsTheDeviceLibraryAroundTheSetupWindow) {
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  tray_.Click();
  std::vector<std::string> callsDuringSetup;
  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    callsDuringSetup = device_.calls;
    QTest::mouseClick(setup->Abbruch, Qt::LeftButton);
  });
  QTest::mouseClick(window->SetupButton, Qt::LeftButton);
  ASSERT_FALSE(callsDuringSetup.empty());
  EXPECT_EQ(callsDuringSetup.back(), "DeInit");
  EXPECT_EQ(device_.calls.back(), "Init");
  EXPECT_TRUE(window->session().TimerEnabled());
  EXPECT_TRUE(PortLinkExists(1));
}

TEST_F(MainWindowTest, AChangeInTheSetupWindowIsOnRecord) {
  WriteSettingsFile({"40:0", "600:1"});
  ValueRecorder recorder;
  recorder_ = &recorder;
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  tray_.Click();
  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    setup->PWOnOff->setChecked(true);
    setup->PWord->setText("Secret");
    QTest::mouseClick(setup->OKButton, Qt::LeftButton);
  });
  QTest::mouseClick(window->SetupButton, Qt::LeftButton);
  std::vector<AuditEntry> entries;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (entries.empty() && std::chrono::steady_clock::now() < deadline) {
    QTest::qWait(50);
    entries.clear();
    std::string error;
    ReadAudit(
        kHistoryFileName, {}, [&](int64_t, const AuditEntry& e) { entries.push_back(e); }, error);
  }
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].how, "setup window");
  EXPECT_EQ(entries[0].process, "");
  // The password is on record as changed, never in words.
  EXPECT_EQ(entries[0].what, "settings: 60: (hidden) -> (hidden)");
  delete window.data();
}

TEST_F(MainWindowTest, PortSelectorSingleSeveralSingle) {
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window && PortLinkExists(1));
  const QImage programIcon = IconImage(window->windowIcon());

  // "-->": the several ports dialog switches port 2 on as COM4 with Ctrl+F2.
  WhenModal<SeveralVCPs>([](SeveralVCPs* dialog) {
    QTest::mouseClick(dialog->VCPOnOff[1], Qt::LeftButton);
    dialog->VCPSelect[1]->setCurrentIndex(dialog->ComToListIndex(4));
    dialog->KComb[1]->setCurrentIndex(14);
    auto pleaseWait = std::make_shared<SeenMessage>();
    AnswerNextMessage(pleaseWait);
    QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
  });
  window->COMPort2_Click(16);
  EXPECT_TRUE(PortLinkExists(1));
  EXPECT_TRUE(PortLinkExists(4));
  EXPECT_EQ(Settings.VcpCom2, 4);
  EXPECT_EQ(Settings.HotKey2, 14);
  EXPECT_TRUE(window->COMPort2->isEnabled());
  EXPECT_NE(IconImage(window->windowIcon()), programIcon);
  EXPECT_EQ(IconImage(window->windowIcon()), QImage("1.ico").scaled(64, 64));

  // Ctrl+F2 makes port 2 the current one and shows "2" in window and tray.
  keys_.Press(kVirtualKeyControl);
  keys_.Press(kVirtualKeyF1 + 1);
  window->Timer1_Timer();
  keys_.ReleaseAll();
  EXPECT_EQ(window->session().bridge().CurrentPort(), 1);
  EXPECT_EQ(IconImage(window->windowIcon()), QImage("2.ico").scaled(64, 64));
  EXPECT_EQ(IconImage(tray_.icon), QImage("2.ico").scaled(64, 64));

  // Back to one port: "  COM3" (entry 2).
  auto seen = std::make_shared<SeenMessage>();
  AnswerNextMessage(seen);
  window->COMPort2_Click(2);
  EXPECT_EQ(seen->text, "Create new COM-Ports. Please wait ...");
  EXPECT_FALSE(PortLinkExists(1));
  EXPECT_FALSE(PortLinkExists(4));
  EXPECT_TRUE(PortLinkExists(3));
  EXPECT_EQ(Settings.VcpCom1, 3);
  EXPECT_EQ(Settings.VcpCom2, 0);
  SettingsRecord written;
  ASSERT_TRUE(ReadSettings("", written));
  EXPECT_EQ(written.VcpCom1, 3);
}

TEST_F(MainWindowTest, LanguageSwitchRecaptionsButKeepsTheInfoButton) {
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  const QString infoCaption = window->Infobutton->text();
  window->Language_Click(1);
  EXPECT_EQ(Settings.LanguageNo, 2);
  std::array<std::string, kLastTextNumber + 1> german;
  ASSERT_TRUE(LoadLanguage(2, german));
  EXPECT_EQ(window->Quit->text(), FromEngineText(german[103]));
  EXPECT_EQ(window->COMPort1->text(), FromEngineText(german[101]));
  EXPECT_EQ(window->Label2->text(), FromEngineText(german[104]));
  EXPECT_NE(window->Quit->text(), "Quit");
  EXPECT_EQ(window->Infobutton->text(), infoCaption);
}

TEST_F(MainWindowTest, TrayRestoreBehindThePassword) {
  WriteSettingsFile({"40:0", "60:Secret"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  const auto restoreWith = [&](const QString& entry, bool cancel) {
    WhenModal<PasswordWindow>([entry, cancel](PasswordWindow* prompt) {
      EXPECT_TRUE(prompt->QuitButton->isVisible());
      QTest::keyClicks(prompt->Text1, entry);
      QTest::mouseClick(cancel ? prompt->Abbruch : prompt->OKButton, Qt::LeftButton);
    });
    tray_.Click();
  };
  restoreWith("secret", false);  // the comparison is case-sensitive
  EXPECT_TRUE(window->Timer3.isActive());
  window->Timer3_Timer();
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->isVisible());

  restoreWith("Secret", true);
  EXPECT_TRUE(window->Timer3.isActive());
  window->Timer3_Timer();
  QCoreApplication::processEvents();
  EXPECT_FALSE(window->isVisible());

  restoreWith("Secret", false);
  EXPECT_FALSE(window->Timer3.isActive());
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isMinimized());
  // A click while the window is shown does nothing.
  tray_.Click();
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, WithoutPasswordTheWindowOpensAtOnce) {
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  tray_.Click();
  EXPECT_TRUE(window->isVisible());
  QTest::mouseClick(window->Tray, Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(tray_.shown);
}

TEST_F(MainWindowTest, WithoutATrayMinimisingKeepsTheWindowInTheTaskBar) {
  tray_.available = false;
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->HasLeftScreen());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isMinimized());
  EXPECT_FALSE(tray_.shown);
}

TEST_F(MainWindowTest, WithoutATrayThePasswordGuardsTheWayBackFromTheTaskBar) {
  tray_.available = false;
  WriteSettingsFile({"40:0", "60:Secret"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window && window->isMinimized());
  bool asked = false;
  WhenModal<PasswordWindow>([&](PasswordWindow* prompt) {
    asked = true;
    QTest::keyClicks(prompt->Text1, "wrong");
    QTest::mouseClick(prompt->OKButton, Qt::LeftButton);
  });
  window->showNormal();  // the user clicks the window in the task bar
  for (int i = 0; i < 100 && !asked; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(asked);
  EXPECT_TRUE(window->Timer3.isActive());
  window->Timer3_Timer();
  EXPECT_TRUE(window->isMinimized());
}

// Sends command on an open client port and returns what arrives until a line feed (or
// nothing after a second) while the window's events run.
std::string AskPort(int client, const std::string& command) {
  EXPECT_EQ(write(client, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  std::string answer;
  const QDeadlineTimer deadline(1000);
  while (answer.find('\n') == std::string::npos && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    char buffer[256];
    const ssize_t got = read(client, buffer, sizeof buffer);
    if (got > 0) answer.append(buffer, static_cast<size_t>(got));
  }
  return answer;
}

TEST_F(MainWindowTest, ReadCommandChangedInTheSetupWindowIsServedAtOnce) {
  // Own command format: kind 1 reads one channel with M, its address and a carriage return.
  WriteSettingsFile({"30:1000", "40:0", "200:1", "202:\"M\",<ch>,13", "240:<mv>,13,10", "421:13",
                     "420:\"?\",13,10", "1000:1", "1001:1", "1002:10"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  tray_.Click();
  int client = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  EXPECT_EQ(AskPort(client, "M1\r"), "+0025.012\r\n");
  close(client);
  QTest::qWait(50);  // the program sees the client leave, so the setup button works

  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    setup->Ch_Command_Single[0]->setText("\"R\",<ch>,13");
    QTest::mouseClick(setup->OKButton, Qt::LeftButton);
  });
  QTest::mouseClick(window->SetupButton, Qt::LeftButton);
  EXPECT_EQ(Settings.ChCommandSingle[1], "\"R\",<ch>,13");

  client = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  EXPECT_EQ(AskPort(client, "R1\r"), "+0025.012\r\n");
  EXPECT_EQ(AskPort(client, "M1\r"), "?\r\n");
  close(client);
}

TEST_F(MainWindowTest, WhatAClientSentWhileTheSetupWindowWasOpenIsNotAnsweredToTheNext) {
  WriteSettingsFile({"30:1000", "40:0", "200:1", "202:\"M\",<ch>,13", "240:<mv>,13,10", "421:13",
                     "420:\"?\",13,10", "1000:1", "1001:1", "1002:10"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  tray_.Click();
  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    // Nothing is served now: one client asks, gives up and leaves.
    const int leaving = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_EQ(write(leaving, "M1\rM1\r", 6), 6);
    QTest::qWait(30);
    close(leaving);
    QTest::qWait(30);
    QTest::mouseClick(setup->Abbruch, Qt::LeftButton);
  });
  QTest::mouseClick(window->SetupButton, Qt::LeftButton);

  const int client = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  EXPECT_EQ(AskPort(client, "X\r"), "?\r\n");
  EXPECT_EQ(AskPort(client, "M1\r"), "+0025.012\r\n");
  QTest::qWait(50);
  char buffer[64];
  EXPECT_LE(read(client, buffer, sizeof buffer), 0) << "a foreign answer arrived";
  close(client);
}

TEST_F(MainWindowTest, AnswersQueuedWhenTheSetupWindowOpensDoNotKeepTheProgramBusy) {
  WriteSettingsFile({"30:1000", "40:0", "200:1", "202:\"M\",<ch>,13", "240:<mv>,13,10", "421:13",
                     "420:\"?\",13,10", "1000:1", "1001:1", "1002:10"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  const int client = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  // Far more answers than the pseudo-terminal holds: the rest waits in the program.
  std::string flood;
  for (int i = 0; i < 20000; ++i) flood += "M1\r";
  size_t written = 0;
  for (int i = 0; i < 300 && written < flood.size(); ++i) {
    const ssize_t n = write(client, flood.data() + written, flood.size() - written);
    if (n > 0) written += static_cast<size_t>(n);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  double busy = -1;
  WhenModal<SetupWindow>([&](SetupWindow* setup) {
    // Nothing is served now; the client reads what already reached it, so the port could
    // take more, which must not make the waiting spin.
    char buffer[65536];
    while (read(client, buffer, sizeof buffer) > 0) {
    }
    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    QTest::qWait(500);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    busy = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    QTest::mouseClick(setup->Abbruch, Qt::LeftButton);
  });
  QTest::mouseClick(window->SetupButton, Qt::LeftButton);
  EXPECT_GE(busy, 0);
  EXPECT_LT(busy, 0.25) << "seconds of CPU in half a second of waiting";
  close(client);
}

TEST_F(MainWindowTest, ClientCommandIsAnsweredWhileInTheTray) {
  WriteSettingsFile({"40:0", "50:1", "1000:3", "1001:1", "1002:10"});
  QPointer<VCP_FORM> window = Start();
  ASSERT_TRUE(window);
  const int client = open(PortPath(1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(client, 0);
  ASSERT_EQ(write(client, "M1\r", 3), 3);
  std::string answer;
  const QDeadlineTimer deadline(5000);
  while (answer.find('\n') == std::string::npos && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    char buffer[256];
    const ssize_t got = read(client, buffer, sizeof buffer);
    if (got > 0) answer.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(answer, "10:+0025.012\r\n");
  // While a client holds the port, neither Quit nor the port selector can be used.
  EXPECT_FALSE(window->Quit->isEnabled());
  EXPECT_FALSE(window->COMPort2->isEnabled());
  ASSERT_EQ(window->List1->count(), 1);
  EXPECT_EQ(window->List1->item(0)->text(), "M1\r");
  close(client);
}

}  // namespace
