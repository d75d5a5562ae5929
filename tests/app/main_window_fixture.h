// A main window started as the program starts it, in a fresh working folder with the shipped
// data files, real pseudo-terminal ports and the simulated device library.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ddk_library.h"
#include "key_state.h"
#include "port_events.h"
#include "port_folder.h"
#include "pty_port.h"
#include "temp_dir.h"
#include "tray_icon.h"
#include "vcp_form.h"
#include "velk_form.h"

// The simulated device library, counting the calls the program makes.
class CountingDevice : public IDeviceLibrary {
 public:
  explicit CountingDevice(std::string path) : real_(std::move(path)) {}
  std::vector<std::string> calls;

  void Device_PreInit() override {
    calls.push_back("PreInit");
    real_.Device_PreInit();
  }
  int16_t Device_Init(int16_t lang, const std::string& ddk, int32_t window) override {
    calls.push_back("Init");
    return real_.Device_Init(lang, ddk, window);
  }
  void Device_DeInit() override {
    calls.push_back("DeInit");
    real_.Device_DeInit();
  }
  int16_t Device_GetName(int16_t lang, const std::string& ddk, int16_t device, int16_t kind,
                         int16_t number, std::string& name) override {
    return real_.Device_GetName(lang, ddk, device, kind, number, name);
  }
  void Device_Setup(int16_t lang, const std::string& ddk, int32_t window) override {
    real_.Device_Setup(lang, ddk, window);
  }
  int16_t Device_Value(int16_t device, int16_t input, double& value) override {
    return real_.Device_Value(device, input, value);
  }
  int16_t Device_Trigger(int16_t device, int16_t input) override {
    return real_.Device_Trigger(device, input);
  }
  int16_t Device_Collect(int16_t device, int16_t& input, double& value) override {
    return real_.Device_Collect(device, input, value);
  }
  void Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper,
                         double lower) override {
    real_.Device_LimitCheck(device, input, kind, upper, lower);
  }
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }

 private:
  DdkLibrary real_;
};

// A notification area that records what the window does with it.
class FakeTray : public ITrayIcon {
 public:
  bool available = true;
  bool shown = false;
  int adds = 0;
  QIcon icon;
  QString tip;

  bool Available() const override { return available; }
  void Add(const QIcon& i, const QString& t) override {
    shown = true;
    ++adds;
    icon = i;
    tip = t;
  }
  void Remove() override { shown = false; }
  bool Shown() const override { return shown; }
  void Click() { LeftClicked(); }
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest();
  ~MainWindowTest() override;

  // Writes the settings file of the working folder: "key:value" lines.
  void WriteSettingsFile(const std::vector<std::string>& lines);
  // Runs the start-up form; returns the main window (null when it has already unloaded).
  QPointer<VCP_FORM> Start();
  // Lets events run until window is deleted, for at most 10 s; returns true when it was.
  static bool WaitUnloaded(QPointer<VCP_FORM>& window);
  // True when the port folder holds an entry COM<n>.
  bool PortLinkExists(int n) const;
  std::string PortPath(int n) const;
  // Opens the port of slot 1 as a client does; -1 when it cannot.
  int OpenClientPort() const;

  TempDir dir_;
  ValueRecorder* recorder_ = nullptr;  // the window's value listeners, when a test sets them
  std::string port_folder_;
  CountingDevice device_;
  std::array<std::unique_ptr<PtyPort>, 4> ports_;
  std::unique_ptr<PortEvents> events_;
  SettableKeyState keys_;
  FakeTray tray_;
  std::unique_ptr<VcpServices> services_;
  std::unique_ptr<Velk> start_form_;
};
