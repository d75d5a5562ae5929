#include "value_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kDecimals = 6;
constexpr int kSignificant = 15;

// A decimal number: digits (no leading zeros unless it is zero) times 10^scale.
struct Decimal {
  std::string digits;
  int scale = 0;
};

// Keeps the first keep digits of d, rounding halves to the even neighbour.
void RoundDigits(Decimal& d, int keep) {
  const int length = static_cast<int>(d.digits.size());
  if (keep >= length) return;
  bool up = false;
  if (keep >= 0) {
    const char first = d.digits[static_cast<size_t>(keep)];
    const bool restZero =
        d.digits.find_first_not_of('0', static_cast<size_t>(keep) + 1) == std::string::npos;
    const bool lastOdd = keep > 0 && (d.digits[static_cast<size_t>(keep) - 1] - '0') % 2 == 1;
    up = first > '5' || (first == '5' && (!restZero || lastOdd));
  }
  d.scale += length - std::max(keep, 0);
  d.digits.resize(static_cast<size_t>(std::max(keep, 0)));
  if (up) {
    int i = static_cast<int>(d.digits.size()) - 1;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9')
      d.digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
    }
  }
  if (d.digits.empty()) d.digits = "0";
}

void StripTrailingZeros(Decimal& d) {
  while (d.digits.size() > 1 && d.digits.back() == '0') {
    d.digits.pop_back();
    ++d.scale;
  }
}

}  // namespace

std::string ShortestDecimalText(double value) {
  if (!std::isfinite(value)) return {};
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                              std::chars_format::scientific);
  std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  const size_t e = text.find('e');
  Decimal d;
  for (char c : text.substr(0, e)) {
    if (c != '.') d.digits.push_back(c);
  }
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  d.scale = exponent - (static_cast<int>(d.digits.size()) - 1);

  // Digits before the decimal point: exponent + 1; keep kDecimals after it.
  RoundDigits(d, exponent + 1 + kDecimals);
  if (d.digits.find_first_not_of('0') == std::string::npos) return "0";
  d.digits.erase(0, d.digits.find_first_not_of('0'));
  RoundDigits(d, kSignificant);
  StripTrailingZeros(d);

  const int length = static_cast<int>(d.digits.size());
  std::string out = value < 0 ? "-" : "";
  const int magnitude = length - 1 + d.scale;  // power of ten of the first digit
  if (magnitude >= kSignificant) {
    out += d.digits.substr(0, 1);
    if (length > 1) out += "." + d.digits.substr(1);
    return out + "E+" + std::to_string(magnitude);
  }
  if (d.scale >= 0) return out + d.digits + std::string(static_cast<size_t>(d.scale), '0');
  const int integerDigits = length + d.scale;
  if (integerDigits > 0) {
    return out + d.digits.substr(0, static_cast<size_t>(integerDigits)) + "." +
           d.digits.substr(static_cast<size_t>(integerDigits));
  }
  return out + "." + std::string(static_cast<size_t>(-integerDigits), '0') + d.digits;
}

ValueText FormatValueText(double value, const SettingsRecord& s) {
  ValueText v;
  if (!std::isfinite(value)) return v;
  std::string text = ShortestDecimalText(value);
  if (value == 0) text += ".0";
  if (s.DecPnt == 1) {
    for (char& c : text) {
      if (c == '.') c = ',';
    }
  }
  if (value >= 0 && s.PosSign == 1) text.insert(text.begin(), '+');

  const int width = s.NumOfChar;
  if (width <= 0) return v;
  const size_t length = text.size();
  if (length > static_cast<size_t>(width)) {
    // Digits before the separator end at the separator; an exponent text has no safe cut.
    size_t integerEnd = text.find_first_of(".,");
    if (integerEnd == std::string::npos || text.find('E') != std::string::npos) {
      integerEnd = length;
    }
    if (static_cast<size_t>(width) < integerEnd) {
      v.fits = false;
      v.uncut = text;
      v.text = text;
      return v;
    }
    text.resize(static_cast<size_t>(width));
  } else if (length < static_cast<size_t>(width)) {
    const size_t missing = static_cast<size_t>(width) - length;
    if (s.LeadZeros == 1) {
      const size_t at = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
      text.insert(at, missing, '0');
    } else {
      text.insert(0, missing, ' ');
    }
  }
  v.text = text;
  return v;
}
