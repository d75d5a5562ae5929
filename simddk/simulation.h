// The live state of the simulated gauges: values, foot switches, data-key queues, limits.
// Every method takes the internal lock briefly, so the control thread and the caller's
// thread may use one instance at the same time.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "ddk_description.h"
#include "real_devices.h"

// Data-key values waiting per device; a press beyond this is refused with an error answer.
inline constexpr size_t kDataKeyQueueMax = 256;

class Simulation {
 public:
  // Replaces the whole state with the devices of description; moving values start at time 0.
  // Inputs and foot switches that are real devices are read from real, which must stay
  // started until Stop (without it they report no value and stay released).
  void Start(const DdkDescription& description, const RealDevices* real = nullptr);
  // Forgets all devices; afterwards every device call reports "no device".
  void Stop();

  // Returns the status of the input (0 valid, 136 outside the tolerance limits, other
  // positive: no value, negative: no answer, also for an unknown or unplugged device or
  // input) and sets value (0 when there is none).
  int16_t Value(int16_t device, int16_t input, double& value);
  // Returns 1 while foot switch number (0 or 1) of the device is pressed, 0 otherwise.
  int16_t Trigger(int16_t device, int16_t number);
  // Takes the oldest data-key value queued for the device. Returns 0 and sets input and value
  // when one was waiting; returns 1 (leaving both untouched) otherwise.
  int16_t Collect(int16_t device, int16_t& input, double& value);
  // Queues a data-key press of the input, as a gauge that sends a value unasked does. Returns
  // false (nothing queued) for an unknown or unplugged device or a full queue.
  bool QueueDataKey(int16_t device, int16_t input, double value);
  // Stores the limits of the input: kind 2 tolerance limits (used for status 136), kind 1
  // control limits (kept only). Other kinds and unknown inputs are ignored.
  void LimitCheck(int16_t device, int16_t input, int16_t kind, double upper, double lower);

  // Where the input's values come from: "simulated", or "serial PATH" with the age of the
  // gauge's last reading in ms (-1 before the first). Returns false for an unknown input.
  bool Source(int16_t device, int16_t input, std::string& source, int32_t& age_ms);

  // Runs one control command line and returns its one-line answer, "OK ..." or "ERR ...".
  std::string Execute(std::string_view command);

 private:
  struct Limits {
    bool set = false;
    double upper = 0.0;
    double lower = 0.0;
  };
  struct Input {
    bool real = false;
    ValueGenerator generator;
    int16_t status = kStatusValid;
    Limits tolerance;
    Limits control;
  };
  struct Device {
    bool present = false;
    bool plugged = true;
    std::array<bool, kDdkFootSwitches> has_switch{};
    std::array<bool, kDdkFootSwitches> pressed{};
    std::array<bool, kDdkFootSwitches> real_switch{};
    std::map<int, Input> inputs;
    std::deque<std::pair<int16_t, double>> data_keys;
  };

  Device* FindDevice(int device);
  double Seconds() const;
  int16_t ValueLocked(int device_number, Device& device, int input_number, Input& input,
                      double& value);
  std::string ExecuteLocked(std::string_view command);

  std::string ShowDevice(int number, const Device& device) const;

  std::mutex mutex_;
  const RealDevices* real_ = nullptr;
  std::array<Device, kDdkDevices + 1> devices_;
  std::chrono::steady_clock::time_point start_;
};
