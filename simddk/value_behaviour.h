// How the value of a simulated measuring input behaves over time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class ValueKind { kFixed, kRamp, kSine, kWalk };

// A fixed value, or a deterministic moving one. The meaning of the parameters by kind:
//   fixed: a = value
//   ramp:  a = from, b = to, c = period in seconds (saw tooth from a to b)
//   sine:  a = nominal, b = amplitude, c = period in seconds
//   walk:  a = nominal, b = largest step per 100 ms, c = largest distance from the nominal,
//          seed = start of the pseudo-random sequence
struct ValueBehaviour {
  ValueKind kind = ValueKind::kFixed;
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;
  uint64_t seed = 0;
};

// Parses "12.5", "fixed 12.5", "ramp 0 10 60", "sine 25 0.05 4" or "walk 10 0.002 0.02 7".
// Returns true and sets out on success; returns false and sets error (out untouched) otherwise.
bool ParseValueBehaviour(std::string_view text, ValueBehaviour& out, std::string& error);

// Describes a behaviour in the syntax ParseValueBehaviour reads.
std::string DescribeValueBehaviour(const ValueBehaviour& behaviour);

// The running value of one input. Walks advance one step per 100 ms of elapsed time.
class ValueGenerator {
 public:
  // The behaviour starts (ramp and sine at phase 0, a walk at its nominal) at origin seconds.
  explicit ValueGenerator(const ValueBehaviour& behaviour = {}, double origin = 0.0);
  // Returns the value at `seconds` on the simulation's clock; for a walk an earlier time than
  // the last one asked returns the current walk position.
  double ValueAt(double seconds);
  const ValueBehaviour& behaviour() const { return behaviour_; }

 private:
  ValueBehaviour behaviour_;
  double origin_ = 0.0;
  double walk_value_ = 0.0;
  uint64_t walk_state_ = 0;
  int64_t walk_steps_ = 0;
};
