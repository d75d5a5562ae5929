// Scaffolding of the engine tests: a temporary working folder holding the shipped data files
// and a device file, real pseudo-terminal ports, a client on a port link, a view that records
// what it is asked to do, and the real simulated device library.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ddk_library.h"
#include "key_state.h"
#include "main_view.h"
#include "port_bridge.h"
#include "pty_port.h"
#include "settings_record.h"

// Devices with fixed values: 1.1 = 1.234, 1.2 = 2.5, 1.3 = -0.5, 1.4 no value, 1.5 out of
// range, 1.7 = 7.7, 1.150 = 150.5, 2.1 = 21.25, 2.2 no answer; device 1 has foot switches
// 0 and 1, device 2 none.
extern const char* const kTestDdk;

// A fresh folder under /tmp that is the current directory while the object lives; it holds
// copies of the shipped presets and language files and the device file kTestDdk.
class WorkFolder {
 public:
  WorkFolder();
  ~WorkFolder();
  const std::string& path() const { return path_; }
  std::string Read(const std::string& name) const;
  void Write(const std::string& name, const std::string& text) const;
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
  std::string previous_;
};

// A client holding a port link open, as a serial program would.
class PortClient {
 public:
  explicit PortClient(const std::string& path);
  ~PortClient();
  bool ok() const { return fd_ >= 0; }
  void Write(const std::string& bytes);
  // Appends whatever has arrived to received() without waiting.
  void Poll();
  std::string Take();
  void Close();

 private:
  int fd_ = -1;
  std::string received_;
};

// Records the calls of the engine and the lifecycle as short lines, in order.
class RecordingView : public IMainView {
 public:
  void ShowMessage(int textNumber, const std::string& title) override;
  void ShowPlainMessage(const std::string& text) override;
  int32_t WindowHandle() override { return 77; }
  void ShowLogLists(bool visible) override;
  void ApplyLanguageTexts() override { Record("ApplyLanguageTexts"); }
  void SetDeviceLabel(const std::string& text) override { Record("SetDeviceLabel " + text); }
  void UpdateMonitorLists(const MonitorList&, const MonitorList&) override { ++list_updates; }
  void SetQuitAndPortSelectorEnabled(bool enabled) override;
  void SetPortSelectorEnabled(bool enabled) override;
  void SetPortSelectorItems(const std::vector<std::string>& items) override;
  void SelectPortSelectorEntry(int index) override;
  void SetPortSelectorText(const std::string& text) override;
  void SetPortIcon(int slot) override;
  void RefreshTrayIcon() override { Record("RefreshTrayIcon"); }
  void RemoveTrayIcon() override { Record("RemoveTrayIcon"); }
  void MinimiseToTray() override { Record("MinimiseToTray"); }
  void ShowInfoWindow() override { Record("ShowInfoWindow"); }
  void ShowSetupWindow() override;
  void ShowSeveralPortsDialog() override;
  void RequestClose() override { Record("RequestClose"); }
  void WaitAndProcessEvents(int ms) override;

  // Lines recorded since the last call, then forgotten.
  std::vector<std::string> Take();
  bool Saw(const std::string& line) const;

  std::vector<std::string> lines;
  int list_updates = 0;
  std::function<void()> on_plain_message;
  std::function<void()> on_setup_window;
  std::function<void()> on_several_ports;

 private:
  void Record(const std::string& line) { lines.push_back(line); }
};

// Runs the velk-ddk tool on the device file of the current folder; returns its exit status.
int Operator(const std::string& arguments);

// The engine on real ports: slot k is served by ports[k] in <work>/ports.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest();
  ~EngineTest() override;

  // Settings of preset number (inputs left to the test), port COM5 in slot 1.
  void UsePreset(int number);
  // Switches input (d, a) on with its command and measured-value addresses.
  void UseInput(int d, int a, const std::string& commandAdr, const std::string& meaValAdr,
                int16_t fs = 0);
  // Starts the device library, creates the ports of the slots that are on, builds the
  // command table and opens a client on slot 1's port; the first ticks see it.
  void Start();
  std::string PortPath(int slotIndex) const;
  // One poll tick, after following the ports' clients as the serving loop does on a wake-up.
  void Tick() {
    for (auto& port : ports) port->FollowClients();
    bridge->Timer1_Timer();
  }
  // Writes bytes, then ticks until expected bytes arrived (at most 1000 ticks) and a few
  // ticks more; returns everything that arrived.
  std::string Exchange(const std::string& bytes, size_t expected, PortClient* to = nullptr);
  std::string Exchange(const std::string& bytes, const std::string& expected,
                       PortClient* to = nullptr) {
    return Exchange(bytes, expected.size(), to);
  }
  std::string Exchange(const std::string& bytes, const char* expected, PortClient* to = nullptr) {
    return Exchange(bytes, std::string(expected).size(), to);
  }
  // Ticks (1 ms apart) and returns what arrived meanwhile.
  std::string Idle(int ticks = 20, PortClient* to = nullptr);

  WorkFolder work;
  SettingsRecord s;
  DdkLibrary library{VELK_DDK_SIM};
  std::array<std::unique_ptr<PtyPort>, 4> ports;
  SettableKeyState keys;
  RecordingView view;
  std::unique_ptr<PortBridge> bridge;
  std::unique_ptr<PortClient> client;
};
