// Documentation tool: draws the program's windows as they appear and saves them as PNG files.
//   xvfb-run -a velk_screenshots FOLDER
// The main window runs as in the program (working folder with the shipped files, real ports,
// the simulated gauges) and has answered one client command.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <cstdio>

#include "info_window.h"
#include "main_window_fixture.h"
#include "password_window.h"
#include "several_vcps.h"

namespace {

bool Save(QWidget* window, const QDir& folder, const char* name) {
  window->show();
  QTest::qWait(50);
  const QString path = folder.filePath(name);
  if (window->grab().save(path)) return true;
  std::fprintf(stderr, "velk_screenshots: cannot write %s\n", qPrintable(path));
  return false;
}

// The main window's test set-up, used here to run the program's windows without a test.
class Screenshots : public MainWindowTest {
 public:
  void TestBody() override {}
  bool Run(const QDir& folder);
};

bool Screenshots::Run(const QDir& folder) {
  WriteSettingsFile({"40:0", "50:1", "82:4", "92:14", "1000:3", "1001:1", "1002:10"});
  QPointer<VCP_FORM> window = Start();
  if (!window) return false;
  bool ok = Save(start_form_.get(), folder, "startup_form.png");
  start_form_->close();
  tray_.Click();
  const int client = OpenClientPort();
  if (client >= 0) {
    if (write(client, "M1\r", 3) == 3) {
      for (int i = 0; i < 100 && window->List2->count() == 0; ++i) QTest::qWait(20);
    }
    close(client);
  }
  ok = Save(window, folder, "main_window.png") && ok;

  {
    SeveralVCPs several(window->session().ComPortExists());
    ok = Save(&several, folder, "several_ports.png") && ok;
    PasswordWindow password;
    password.QuitVisible = true;
    password.show();
    password.Text1->setText("secret");
    ok = Save(&password, folder, "password.png") && ok;
    Settings.ShowInfoWin = 1;
    InfoWindow info;
    ok = Save(&info, folder, "info_window.png") && ok;
  }
  window->Quit_Click();
  return WaitUnloaded(window) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: velk_screenshots FOLDER\n");
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(".")) return 1;
  Screenshots shots;
  return shots.Run(folder) ? 0 : 1;
}
