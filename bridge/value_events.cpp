#include "value_events.h"

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
