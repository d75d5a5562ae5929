// Seconds since 1970-01-01 00:00:00 as the text "hh:mm:ss - MM/DD/YYYY".
#pragma once

#include <cstdint>

namespace velk::lan {

constexpr int kDateTimeTextSize = 22;

// Writes the date and time of `seconds` (no time-zone adjustment, Gregorian calendar) into
// `out` as 21 characters and a zero byte. Always succeeds.
void FormatDateTime(uint32_t seconds, char out[kDateTimeTextSize]);

}  // namespace velk::lan
