#include "value_events.h"

#include <chrono>

int64_t UtcNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const char* ValueStatusWord(ValueStatus status) {
  switch (status) {
    case ValueStatus::Valid:
      return "valid";
    case ValueStatus::OutOfRange:
      return "out_of_range";
    case ValueStatus::NoValue:
      return "no_value";
  }
  return "no_value";
}

const char* ValueCauseWord(ValueCause cause) {
  switch (cause) {
    case ValueCause::Request:
      return "request";
    case ValueCause::FootSwitch:
      return "foot_switch";
    case ValueCause::DataKey:
      return "data_key";
  }
  return "request";
}
