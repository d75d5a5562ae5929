// The classic locale of glibc behind classic_numbers.h.
#include "classic_numbers.h"

#include <locale.h>
#include <stdlib.h>

namespace velk::lan {
namespace {

// glibc hands out its built-in classic locale object without allocating.
locale_t ClassicLocale() {
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return classic;
}

}  // namespace

double ClassicStrtod(const char* text) {
  const locale_t classic = ClassicLocale();
  return classic == nullptr ? strtod(text, nullptr) : strtod_l(text, nullptr, classic);
}

long long ClassicStrtoll(const char* text) {
  const locale_t classic = ClassicLocale();
  return classic == nullptr ? strtoll(text, nullptr, 10) : strtoll_l(text, nullptr, 10, classic);
}

}  // namespace velk::lan
