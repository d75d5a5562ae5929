// The names and units of the gauge inputs as the value events refer to them. Each different
// pair is kept once for the life of the process, so that an event carries a pointer to its
// label instead of two strings, and a listener may read that label at any time later.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct GaugeLabel {
  std::string name;  // the input's name as the device library gives it (8-bit, English)
  std::string unit;  // its unit (8-bit); empty when the device file gives none
};

// Different labels kept at most; further ones share the empty label.
inline constexpr size_t kMaxGaugeLabels = 100000;

// Returns the kept label with this name and unit, keeping a copy first when it is new; the
// label stays valid and unchanged until the process ends. Thread-safe. Takes a lock and may
// allocate: called when the command table is built, never per value. Never fails: once
// kMaxGaugeLabels different labels are kept, a new pair gives the empty label.
const GaugeLabel* InternGaugeLabel(std::string_view name, std::string_view unit);
