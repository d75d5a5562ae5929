// Every value the engine sends to a client, as one event, and the sink it is announced to.
// The engine calls the sink on its serving thread and only lends it the value's texts: the sink
// packs what it keeps (no string of its own per event) and hands the events on after each
// serving step; it never waits for a disk, a network or a lock held for long.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gauge_labels.h"

enum class ValueStatus { Valid, OutOfRange, NoValue };
enum class ValueCause { Request, FootSwitch, DataKey };

// The tolerance limits (USL, LSL) and control limits (UCL, LCL) in force for an input when its
// value was sent, as a client's limit commands set them; a limit not set is empty.
struct ValueLimits {
  std::optional<double> usl, ucl, lcl, lsl;

  bool operator==(const ValueLimits&) const = default;
};

struct ValueEvent {
  int64_t utc_ms = 0;   // when the value was sent (its serving step's answers went out),
                        // milliseconds since 1970-01-01 UTC
  std::string station;  // the station's name
  int slot = 0;         // port slot 1..4
  std::string port;     // "COM5"; empty when the slot has no COM number
  std::string client;   // the client as the port knows it ("1234 python3"); empty if unknown
  int device = 0;       // gauge input device.input
  int input = 0;
  double number = 0.0;  // the value the device library gave
  std::string text;     // the bytes sent to the client (8-bit, as written)
  ValueStatus status = ValueStatus::Valid;
  ValueCause cause = ValueCause::Request;
  std::string name = {};  // the gauge input's name (English, 8-bit); empty when there is none
  std::string unit = {};  // its unit from the device file; empty when it gives none
  ValueLimits limits = {};

  bool operator==(const ValueEvent&) const = default;
};

// A value as the engine sends it; the texts are lent for the call only.
struct SentValue {
  int slot = 0;             // port slot 1..4
  int com = 0;              // its COM number; 0 when it has none
  std::string_view client;  // as the port knows it; empty if unknown
  int device = 0;           // gauge input device.input
  int input = 0;
  double number = 0.0;    // the value the device library gave
  std::string_view text;  // the bytes sent to the client
  ValueStatus status = ValueStatus::Valid;
  ValueCause cause = ValueCause::Request;
  const GaugeLabel* label = nullptr;  // the input's name and unit (kept for the process); none
  ValueLimits limits = {};
};

class IValueEvents {
 public:
  virtual ~IValueEvents() = default;
  // Takes a value sent; it goes on to the listeners at the next Flush. Returns at once.
  virtual void Announce(const SentValue& value) = 0;
  // The values announced since the last call were sent at utc_ms (milliseconds since
  // 1970-01-01 UTC); they go on to the listeners, in their order. Called by the engine after
  // each serving step that sent values (and after a value sent outside one). Returns at once,
  // whatever the listeners do.
  virtual void Flush(int64_t utc_ms) = 0;
};

// Returns "valid", "out_of_range", "no_value" and "request", "foot_switch", "data_key": the
// words the history and the published values use.
const char* ValueStatusWord(ValueStatus status);
const char* ValueCauseWord(ValueCause cause);

// Returns the time now in milliseconds since 1970-01-01 UTC.
int64_t UtcNowMs();
