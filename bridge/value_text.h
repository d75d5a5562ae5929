// The value text of a measured value: rounded, in the user's value format, of a fixed width.
#pragma once

#include <string>

#include "settings_record.h"

struct ValueText {
  std::string text;   // the value text to answer with
  bool fits = true;   // false: the width would cut digits before the decimal separator
  std::string uncut;  // when it does not fit: the whole text before the cut
};

// Returns the value text of value by s.NumOfChar, s.DecPnt, s.LeadZeros and s.PosSign: rounded
// to 6 decimals (halves to even), at most 15 significant digits, no leading zero before the
// decimal separator, no trailing zeros, exactly zero as "0.0"; then the plus sign, then cut or
// padded (zeros after the sign, or blanks in front) to NumOfChar characters. A cut that
// removes only decimals is made; one that would remove digits before the separator is not:
// fits is false and text holds the uncut text. NumOfChar of 0 or below gives an empty text.
// Magnitudes of 10^15 and above are written as a mantissa and "E+" exponent (1E+15), which
// is never cut. A value that is not finite gives an empty text.
ValueText FormatValueText(double value, const SettingsRecord& s);

// Returns the shortest decimal text of value rounded to 6 decimals (halves to even) with at
// most 15 significant digits: "-" for negatives, ".5" for 0.5, "2" for 2.0, "0" for zero and
// for values that round to zero, "1E+15" style from 10^15 on. Empty for a value that is not
// finite.
std::string ShortestDecimalText(double value);
