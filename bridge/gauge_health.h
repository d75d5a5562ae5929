// Follows the real gauges among the inputs in use (those the device library names a gauge on
// a serial port): each change between answering and not answering is one line on standard
// error and in the activity log, once per change.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <utility>

#include "activity_log.h"
#include "device_library.h"
#include "settings_record.h"

class GaugeHealth {
 public:
  // Reports go to log and err; both must outlive this object.
  GaugeHealth(ActivityLog& log, std::ostream& err) : log_(log), err_(err) {}

  // Asks the library which inputs switched on in s are real gauges and reads their status
  // (the library's reading, which never waits for the gauge), reporting each one that stopped
  // answering or answers again. Returns the number of real gauges followed (0: no need to
  // check again until the inputs change).
  int Check(const SettingsRecord& s, IDeviceLibrary& device);
  // A status the engine read for input d.n: reported as Check does when d.n is a real gauge
  // found by an earlier Check; nothing otherwise.
  void Note(int d, int n, int16_t status);
  // Forgets every state (the device library was started anew): the next check starts over.
  void Forget() { gauges_.clear(); }

  // True for a status that carries a value (valid or out of range).
  static bool Answers(int16_t status) { return status == 0 || status == 136; }

 private:
  // A gauge that has not answered yet is not reported: one that only pushes has no value
  // until it sends one, and a port that cannot be opened the library reports itself.
  enum class State { kNotYet, kAnswering, kGone };
  struct Gauge {
    std::string source;
    State state = State::kNotYet;
  };
  void Settle(int d, int n, Gauge& gauge, bool answers);

  ActivityLog& log_;
  std::ostream& err_;
  std::map<std::pair<int, int>, Gauge> gauges_;
};
