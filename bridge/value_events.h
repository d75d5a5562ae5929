// Every value the engine sends to a client, as one event, and the sink it is announced to.
// The engine calls the sink on its serving thread: a sink only hands the event on (a bounded
// queue) and never waits for a disk, a network or a lock held for long.
#pragma once

#include <cstdint>
#include <string>

enum class ValueStatus { Valid, OutOfRange, NoValue };
enum class ValueCause { Request, FootSwitch, DataKey };

struct ValueEvent {
  int64_t utc_ms = 0;   // when the value was sent, milliseconds since 1970-01-01 UTC
  std::string station;  // the station's name, as the sink was given it
  int slot = 0;         // port slot 1..4
  std::string port;     // "COM5"; empty when the slot has no COM number
  std::string client;   // the client as the port knows it ("1234 python3"); empty if unknown
  int device = 0;       // gauge input device.input
  int input = 0;
  double number = 0.0;  // the value the device library gave
  std::string text;     // the bytes sent to the client (8-bit, as written)
  ValueStatus status = ValueStatus::Valid;
  ValueCause cause = ValueCause::Request;

  bool operator==(const ValueEvent&) const = default;
};

class IValueEvents {
 public:
  virtual ~IValueEvents() = default;
  // Takes one event; returns at once, whatever the listeners behind it do. A sink may keep
  // the events of a serving step together until Flush.
  virtual void Announce(const ValueEvent& event) = 0;
  // Called by the engine after each serving step (and after a value announced outside one):
  // the events announced so far go on to the listeners. Returns at once.
  virtual void Flush() {}
};

// Returns "valid", "out_of_range", "no_value" and "request", "foot_switch", "data_key": the
// words the history and the published values use.
const char* ValueStatusWord(ValueStatus status);
const char* ValueCauseWord(ValueCause cause);
