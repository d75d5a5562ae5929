// Follows the real gauges among the inputs in use (those the device library names a gauge on
// a serial port): each change between answering and not answering is one line on standard
// error and in the activity log, once per change.
#pragma once

#include <map>
#include <ostream>
#include <utility>

#include "activity_log.h"
#include "device_library.h"
#include "settings_record.h"

class GaugeHealth {
 public:
  // Reads the status of every real gauge among the inputs switched on in s (the library's
  // reading, which never waits for the gauge) and reports each input whose state changed
  // since the last check; a gauge not answering at its first check counts as a change.
  // Returns the number of real gauges followed (0: no need to check again until the inputs
  // change).
  int Check(const SettingsRecord& s, IDeviceLibrary& device, ActivityLog& log, std::ostream& err);
  // Forgets every state (the device library was started anew): the next check starts over.
  void Forget() { answering_.clear(); }

  // True for a status that carries a value (valid or out of range).
  static bool Answers(int16_t status) { return status == 0 || status == 136; }

 private:
  std::map<std::pair<int, int>, bool> answering_;
};
