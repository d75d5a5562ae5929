#include "number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int DigitValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Copies the characters that matter for the number: with Blanks::Anywhere every blank goes,
// otherwise only the leading ones.
std::string Significant(std::string_view text, Blanks blanks) {
  std::string out;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  for (; i < text.size(); ++i) {
    if (blanks == Blanks::Anywhere && IsBlank(text[i])) continue;
    out.push_back(text[i]);
  }
  return out;
}

double RadixValue(std::string_view digits, int radix) {
  double value = 0;
  for (char c : digits) {
    int d = DigitValue(c);
    if (d >= radix) break;
    value = value * radix + d;
  }
  return value;
}

double DecimalValue(const std::string& t) {
  // Collect the longest prefix that forms sign, digits, point, digits, exponent.
  size_t i = 0;
  std::string number;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  bool anyDigit = false;
  while (i < t.size() && IsDigit(t[i])) {
    number.push_back(t[i++]);
    anyDigit = true;
  }
  if (i < t.size() && t[i] == '.') {
    number.push_back('.');
    ++i;
    while (i < t.size() && IsDigit(t[i])) {
      number.push_back(t[i++]);
      anyDigit = true;
    }
  }
  if (!anyDigit) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) exponent.push_back(t[j++]);
    if (j < t.size() && IsDigit(t[j])) {
      while (j < t.size() && IsDigit(t[j])) exponent.push_back(t[j++]);
      number += exponent;
    }
  }
  if (number.front() == '.') number.insert(number.begin(), '0');
  double value = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves value untouched on overflow or underflow; tell them apart by the
    // exponent sign.
    bool tiny = number.find("e-") != std::string::npos;
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return negative ? -value : value;
}

}  // namespace

double NumericValue(std::string_view text, Blanks blanks) {
  std::string t = Significant(text, blanks);
  if (t.size() >= 2 && t[0] == '&') {
    char p = t[1];
    if (p == 'h' || p == 'H') return RadixValue(std::string_view(t).substr(2), 16);
    if (p == 'o' || p == 'O') return RadixValue(std::string_view(t).substr(2), 8);
    return 0;
  }
  return DecimalValue(t);
}

std::optional<double> LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::string_view t = text.substr(i);
  bool starts = false;
  if (t.size() >= 3 && t[0] == '&') {
    const char p = t[1];
    const int radix = (p == 'h' || p == 'H') ? 16 : (p == 'o' || p == 'O') ? 8 : 0;
    starts = radix != 0 && DigitValue(t[2]) < radix;
  } else {
    size_t j = (!t.empty() && (t[0] == '+' || t[0] == '-')) ? 1 : 0;
    if (j < t.size() && t[j] == '.') ++j;
    starts = j < t.size() && IsDigit(t[j]);
  }
  if (!starts) return std::nullopt;
  return NumericValue(text);
}

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::round(v);  // halves away from zero
  if (std::fabs(v - std::trunc(v)) == 0.5) r = 2.0 * std::round(v / 2.0);
  return r;
}

std::optional<int16_t> RoundToInt16(double v) {
  double r = RoundHalfEven(v);
  if (!(r >= -32768.0 && r <= 32767.0)) return std::nullopt;
  return static_cast<int16_t>(r);
}

std::optional<int32_t> RoundToInt32(double v) {
  double r = RoundHalfEven(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
  return static_cast<int32_t>(r);
}
