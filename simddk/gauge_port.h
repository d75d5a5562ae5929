// One serial port with the gauges on it, kept fresh by a reader thread: it sends each input's
// request on its cadence, takes the answer line as that input's latest reading, and takes a
// line that arrives unasked as a data-key press. The port is reopened when it comes back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ddk_description.h"
#include "wakeable_thread.h"

struct GaugeReading {
  int16_t status = kStatusNoValue;  // valid, or no value (none yet, no answer, no number, gone)
  double value = 0.0;               // the last number read, kept while the status says no value
  std::chrono::steady_clock::time_point at{};  // when the status was last settled
};

// Longest line taken from a gauge; the rest of a longer line is dropped.
inline constexpr size_t kGaugeLineMax = 256;
// Pause before a port that cannot be opened, or has gone, is tried again.
inline constexpr std::chrono::milliseconds kPortRetry{1000};

class GaugePort {
 public:
  struct Input {
    int16_t device = 0;
    int16_t input = 0;
    SerialSource source;
  };
  // Called from the reader thread with an unasked line's value.
  using DataKeySink = std::function<void(int16_t device, int16_t input, double value)>;

  // The inputs share the port at path with the line settings of the first one.
  GaugePort(std::vector<Input> inputs, DataKeySink sink);
  GaugePort(const GaugePort&) = delete;
  GaugePort& operator=(const GaugePort&) = delete;
  ~GaugePort();

  // Starts the reader thread. Returns false (reason in error) when it cannot be started.
  bool Start(std::string& error);
  // Stops the reader thread and closes the port. Safe to repeat.
  void Stop();

  const std::vector<Input>& inputs() const { return inputs_; }
  // The serial port's path (set at construction).
  const std::string& path() const { return path_; }
  // The latest reading of inputs()[index].
  GaugeReading Latest(size_t index) const;
  // "port open" or "port closed", the age of the reading and the last error, for the operator.
  std::string Describe(size_t index) const;

 private:
  void Run();
  void Settle(size_t index, int16_t status, double value);
  void SetError(const std::string& error);
  void SetOpen(bool open);

  std::vector<Input> inputs_;
  DataKeySink sink_;
  std::string path_;
  WakeableThread thread_;

  mutable std::mutex mutex_;
  std::vector<GaugeReading> readings_;
  bool open_ = false;
  std::string last_error_;
};
