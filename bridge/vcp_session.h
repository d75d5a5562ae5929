// The run of the program without its windows: start-up, the poll tick, port re-creation, the
// setup button's sequence and the shutdown, in the one order both front ends share. The
// desktop program drives it from its window events and timers, the headless program from a
// plain loop; everything that touches a window goes through IMainView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device_library.h"
#include "key_state.h"
#include "main_view.h"
#include "port_bridge.h"
#include "settings_record.h"
#include "virtual_port.h"

inline constexpr const char* kDdkFileName = "Velk_VCP.DDK";
inline constexpr const char* kSeveralPortsEntry = "-->";
inline constexpr const char* kRecreatePortsText = "Create new COM-Ports. Please wait ...";

class VcpSession {
 public:
  // Returns true when COM<n> exists on the machine (the start-up port probe).
  using PortProbe = std::function<bool(int n)>;

  // ports are the four port elements of slots 1..4; all references must outlive the session.
  // Settings, the language texts and the settings, language and log files are the program's
  // (the files in the current directory).
  VcpSession(IMainView& view, IDeviceLibrary& device, std::array<IVirtualPort*, 4> ports,
             PortProbe probe, IKeyState& keys, SettingsRecord& settings = Settings);
  VcpSession(const VcpSession&) = delete;
  VcpSession& operator=(const VcpSession&) = delete;

  // The main window's initialisation: settings, command table, language, log, info window,
  // stale ports, port probe, port creation, Device_Init (offering the setup window once),
  // minimise, poll timer on. Returns true when the program now serves; false when start-up
  // ended early (the device library did not start twice): the ports are then deleted and
  // RequestClose has been called; that ended the run, Shutdown does nothing more. Runs once;
  // later calls return false and do nothing.
  bool Start();

  // The poll timer's tick (every 10 ms): runs the poll cycle while the timer is enabled;
  // does nothing otherwise and never re-enters itself.
  void Tick();

  // Input or a client came or went on a port between ticks: serves the current port at once
  // (PortBridge::ServeInput) under the same rule as the tick: only while the poll timer is
  // enabled, never inside another serving step.
  void ServeInput();

  // For a loop that can wait on port events instead of ticking (no key can change the port):
  // ticks that would only count (PortBridge::QuietTicks; -1: every tick would do nothing),
  // 0 while the poll timer is off; and one such tick counted without being run.
  int QuietTicks() const;
  void CountQuietTick();

  // The port selector's click on entry index (of PortSelectorItems()); the last entry, "-->",
  // opens the several-ports dialog first. Deletes and re-creates the ports. Does nothing while
  // Busy(), after shutdown, or for an index outside the entries. A refused port shows text 110
  // and leaves the poll timer off until a later choice succeeds.
  void COMPort2_Click(int index);

  // The setup button: closes the device library, shows the setup window, writes the settings,
  // rebuilds the command table and starts the library again. When it does not start, text 112
  // is shown, the ports are deleted and RequestClose is called; that ends the run, Shutdown
  // does nothing more. Does nothing after shutdown.
  void SetupButton_Click();
  // Takes over settings changed outside the program (the settings tool, or the file edited and
  // reloaded) as closing the setup window does: the device library closed and started again,
  // the command table rebuilt. The settings file is not written: next came from it. Only the slots
  // whose port number changed are made anew, so the clients of the other ports keep them. Returns
  // an empty text, or the reason when nothing was taken over: the previous settings stay in effect
  // (busy, a port that cannot be made, a device library that does not start with them). Port 1 at 0
  // (the first free number) keeps the number it has. When the library starts with neither
  // the new nor the previous settings (its device file went bad meanwhile), the previous
  // settings and the ports stay and the program serves on without gauges; the reason says so.
  std::string ApplySettings(const SettingsRecord& next);

  // Checks the real gauges among the inputs in use (GaugeHealth) while the poll timer runs;
  // the front ends call it about once a second. Returns the number of gauges followed (0
  // also while the timer is off).
  int CheckGauges();

  // True when several ports are set up.
  bool SeveralPorts() const { return s_.VcpCom2 != 0 || s_.VcpCom3 != 0 || s_.VcpCom4 != 0; }
  const SettingsRecord& settings() const { return s_; }
  IDeviceLibrary& device() { return device_; }

  // The shutdown sequence (Quit, any close request): poll timer off, Device_DeInit, ports
  // deleted, settings written, tray icon removed, RequestClose, log closed. Runs at most once;
  // later calls do nothing.
  void Shutdown();

  // 1 while start-up or port re-creation runs: the language and port selectors ignore their
  // events then.
  int16_t Busy() const { return busy_; }
  bool TimerEnabled() const { return timer_enabled_; }
  bool ShutDown() const { return shut_down_; }
  // Entry n (1..16) is 1 when the start-up probe found COM<n> on the machine.
  const std::array<int16_t, 101>& ComPortExists() const { return com_port_exists_; }
  // The port selector's entries as made at start-up.
  const std::vector<std::string>& PortSelectorItems() const { return selector_items_; }
  PortBridge& bridge() { return bridge_; }

 private:
  int16_t LanguageCode() const;
  // The first COM number the start-up probe found free; 0 when none is.
  int16_t FirstFreePortNumber() const;
  bool CreatePorts(bool stopAtFailure);
  void DeleteSlotPorts(const std::array<int16_t, 4>& numbers);
  std::array<int16_t, 4> SlotNumbers() const;
  void RecreateCommandTable();
  // Shared or exclusive ports, as the settings say, for every port from its next client on.
  void ApplyPortSharing();
  void EndWithoutDeviceLibrary();

  IMainView& view_;
  IDeviceLibrary& device_;
  std::array<IVirtualPort*, 4> ports_;
  PortProbe probe_;
  SettingsRecord& s_;
  IKeyState& keys_;
  PortBridge bridge_;
  int16_t busy_ = 0;
  bool started_ = false;
  bool timer_enabled_ = false;
  bool in_tick_ = false;
  bool shut_down_ = false;
  std::array<int16_t, 101> com_port_exists_{};
  std::vector<std::string> selector_items_;
};
