// The inputs and foot switches of a device file that are real devices: a reader thread per
// serial port and one watcher thread for the foot switches. The simulation asks it for the
// latest readings, which never waits for a gauge.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ddk_description.h"
#include "foot_switch_watcher.h"
#include "gauge_port.h"

class RealDevices {
 public:
  using DataKeySink = GaugePort::DataKeySink;

  RealDevices() = default;
  RealDevices(const RealDevices&) = delete;
  RealDevices& operator=(const RealDevices&) = delete;
  ~RealDevices() { Stop(); }

  // Starts reading every serial input and watching every real foot switch of description;
  // unasked gauge lines go to sink. Problems (a port that cannot be opened) are reported on
  // standard error and retried; only a thread that cannot be started is reported here and
  // leaves its items without readings.
  void Start(const DdkDescription& description, DataKeySink sink);
  // Stops every thread and closes every device. Safe to repeat.
  void Stop();

  // The latest reading of a real input; nothing for an input that is not real.
  std::optional<GaugeReading> Reading(int device, int input) const;
  // The serial port of a real input; empty for one that is not real.
  std::string Path(int device, int input) const;
  // The port state, age and last error of a real input; empty for one that is not real.
  std::string Describe(int device, int input) const;
  bool SwitchPressed(int device, int number) const { return switches_.Pressed(device, number); }
  std::string DescribeSwitch(int device, int number) const {
    return switches_.Describe(device, number);
  }

 private:
  std::vector<std::unique_ptr<GaugePort>> ports_;
  std::map<std::pair<int, int>, std::pair<size_t, size_t>> where_;  // input -> port, index
  FootSwitchWatcher switches_;
};
