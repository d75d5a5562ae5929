// The C runtime's "C" locale object behind classic_numbers.h.
#include "classic_numbers.h"

#include <locale.h>
#include <stdlib.h>

namespace velk::lan {
namespace {

_locale_t ClassicLocale() {
  static const _locale_t classic = _create_locale(LC_ALL, "C");
  return classic;
}

}  // namespace

double ClassicStrtod(const char* text) {
  const _locale_t classic = ClassicLocale();
  return classic == nullptr ? strtod(text, nullptr) : _strtod_l(text, nullptr, classic);
}

long long ClassicStrtoll(const char* text) {
  const _locale_t classic = ClassicLocale();
  return classic == nullptr ? _strtoi64(text, nullptr, 10)
                            : _strtoi64_l(text, nullptr, 10, classic);
}

}  // namespace velk::lan
