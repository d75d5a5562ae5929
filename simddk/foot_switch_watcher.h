// The foot switches that are real devices, watched by one thread: a key of an input device
// (pressed while the key is down) or a modem-status line of a serial port (pressed while it is
// asserted). A switch whose device cannot be opened, or goes away, counts as released, is
// reported once and is tried again every second.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ddk_description.h"
#include "wakeable_thread.h"

// How often the modem-status lines are read.
inline constexpr int kModemPollMs = 20;

class FootSwitchWatcher {
 public:
  struct Switch {
    int16_t device = 0;
    int16_t number = 0;
    SwitchSource source;
  };

  FootSwitchWatcher() = default;
  FootSwitchWatcher(const FootSwitchWatcher&) = delete;
  FootSwitchWatcher& operator=(const FootSwitchWatcher&) = delete;
  ~FootSwitchWatcher();

  // Starts watching the switches (no thread when there are none). Returns false (reason in
  // error) when the thread cannot be started.
  bool Start(std::vector<Switch> switches, std::string& error);
  // Stops the thread and closes the devices. Safe to repeat.
  void Stop();

  // True when the device has a real switch with that number.
  bool Has(int device, int number) const;
  // True while the real switch is pressed; false for a switch that is not real.
  bool Pressed(int device, int number) const;
  // The switch's source, whether its device is open and its last error, for the operator;
  // empty for a switch that is not real.
  std::string Describe(int device, int number) const;

 private:
  struct State {
    int fd = -1;
    bool pressed = false;
    bool reported = false;
    std::string last_error;
    std::string pending;  // bytes of an input event not complete yet
    std::chrono::steady_clock::time_point retry{};
  };
  void Run();
  int Find(int device, int number) const;
  void Open(size_t index);
  void Lose(size_t index, const std::string& reason);

  std::vector<Switch> switches_;
  WakeableThread thread_;
  mutable std::mutex mutex_;
  std::vector<State> states_;
};
