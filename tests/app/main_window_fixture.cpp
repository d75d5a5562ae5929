#include "main_window_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>

#include "language_file.h"
#include "settings_record.h"

namespace fs = std::filesystem;

MainWindowTest::MainWindowTest()
    : port_folder_(dir_.path() + "/ports"), device_(VELK_DDK_LIBRARY_PATH) {
  setenv("VELK_VCP_PORT_DIR", port_folder_.c_str(), 1);
  for (const char* name :
       {"VCP001.LAN", "VCP002.LAN", "VCP003.LAN", "LIB000.DRV", "Velk_VCP.DDK"}) {
    fs::copy_file(fs::path(VELK_DATA_DIR) / name, fs::path(dir_.path()) / name);
  }
  for (const char* name : {"1.ico", "2.ico", "3.ico", "4.ico"}) {
    fs::copy_file(fs::path(VELK_RUN_DIR) / name, fs::path(dir_.path()) / name);
  }
  Settings = SettingsRecord{};
  for (auto& port : ports_) port = std::make_unique<PtyPort>(port_folder_);
  events_ = std::make_unique<PortEvents>(
      std::array<PtyPort*, 4>{ports_[0].get(), ports_[1].get(), ports_[2].get(), ports_[3].get()});
  WriteSettingsFile({"40:0"});
}

MainWindowTest::~MainWindowTest() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<VCP_FORM*>(widget)) delete widget;
  }
  for (auto& port : ports_) port->DeletePort();
  unsetenv("VELK_VCP_PORT_DIR");
}

void MainWindowTest::WriteSettingsFile(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  dir_.Write("Velk_VCP.CFG", text);
}

QPointer<VCP_FORM> MainWindowTest::Start() {
  services_ = std::make_unique<VcpServices>(
      VcpServices{device_,
                  {ports_[0].get(), ports_[1].get(), ports_[2].get(), ports_[3].get()},
                  [this](int n) { return PortCanBeOpened(port_folder_, n); },
                  keys_,
                  tray_,
                  events_.get(),
                  recorder_});
  start_form_ = std::make_unique<Velk>(device_, [this] { return new VCP_FORM(*services_); });
  QPointer<VCP_FORM> window = start_form_->Form_Load();
  QCoreApplication::processEvents();  // the window system's answer to the minimise
  return window;
}

bool MainWindowTest::WaitUnloaded(QPointer<VCP_FORM>& window) {
  const QDeadlineTimer deadline(10000);
  while (window && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return window.isNull();
}

std::string MainWindowTest::PortPath(int n) const {
  return port_folder_ + "/COM" + std::to_string(n);
}

bool MainWindowTest::PortLinkExists(int n) const { return fs::is_symlink(PortPath(n)); }

int MainWindowTest::OpenClientPort() const {
  return open(PortPath(Settings.VcpCom1).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}
