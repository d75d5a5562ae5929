// The numeric value of a text, as every file reader and every dialog of the program reads it.
//
// One rule everywhere: leading blanks are skipped; then either an optional sign, digits, an
// optional decimal point with digits and an optional exponent (E or D, optional sign, digits),
// or a radix prefix &H (hexadecimal) or &O (octal) with its digits. Reading stops at the first
// character that cannot continue the number; a text that does not start with a number reads
// as 0. The decimal point is always ".", whatever the process locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

enum class Blanks {
  Leading,   // only leading blanks are skipped (file keys and values, command items)
  Anywhere,  // blanks anywhere in the text are ignored (numbers typed into dialogs)
};

// Returns the numeric value of text by the rule above; 0 when it does not start with a number.
// A number too large for a double reads as +/- infinity.
double NumericValue(std::string_view text, Blanks blanks = Blanks::Leading);

// Returns the numeric value of text by the rule above (leading blanks skipped), or nullopt when
// the text does not start with a number, where NumericValue reads 0.
std::optional<double> LeadingNumber(std::string_view text);

// Returns v rounded to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double v);

// Returns v rounded (halves to even) when the result fits a 16-bit signed integer; nullopt when
// it does not (or v is not a number), so callers never store a wrapped value.
std::optional<int16_t> RoundToInt16(double v);

// Returns v rounded (halves to even) when the result fits a 32-bit signed integer; nullopt
// otherwise.
std::optional<int32_t> RoundToInt32(double v);
