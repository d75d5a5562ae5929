#include "wire_numbers.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cstring>

namespace velk::lan {
namespace {

// The classic locale; glibc hands out its built-in object without allocating.
locale_t ClassicLocale() {
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return classic;
}

}  // namespace

std::size_t FormatNumberText(double value, char* out, std::size_t size) {
  if (size == 0) return 0;
  const std::to_chars_result result =
      std::to_chars(out, out + size - 1, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) return 0;
  const auto length = static_cast<std::size_t>(result.ptr - out);
  if (length > kMaxNumberText) return 0;
  *result.ptr = '\0';
  return length;
}

double ReadAsDouble(const char* text) {
  const locale_t classic = ClassicLocale();
  if (classic == nullptr) return strtod(text, nullptr);
  return strtod_l(text, nullptr, classic);
}

int32_t ReadAsInt(const char* text) {
  const locale_t classic = ClassicLocale();
  const long value =
      classic == nullptr ? strtol(text, nullptr, 10) : strtol_l(text, nullptr, 10, classic);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

}  // namespace velk::lan
