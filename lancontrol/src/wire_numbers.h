// Numbers as text on the wire, always with "." as decimal point whatever the locale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::lan {

// Longest number text that fits a request.
constexpr std::size_t kMaxNumberText = 95;

// Writes `value` as "%f" writes it in the classic locale (sign, digits, ".", six decimals)
// into `out` (room for `size` bytes, zero-terminated). Returns the text length, or 0 when
// the text is longer than kMaxNumberText or does not fit `out`.
std::size_t FormatNumberText(double value, char* out, std::size_t size);

// Returns the number at the start of `text` as atof reads it in the classic locale
// (white space skipped, longest numeric prefix, 0 when there is none).
double ReadAsDouble(const char* text);

// Returns the number at the start of `text` as atoi reads it in the classic locale
// (0 when there is none; values outside 32 bits keep their low 32 bits).
int32_t ReadAsInt(const char* text);

}  // namespace velk::lan
