#include "system_language.h"

#include <cstdlib>
#include <string>

namespace {

struct LocaleId {
  std::string_view name;
  uint16_t id;
};

// German and French regions the program distinguishes, plus their bare language codes.
constexpr LocaleId kLocales[] = {
    {"de_DE", 1031}, {"de_CH", 2055}, {"de_AT", 3079}, {"de_LU", 4103},
    {"de_LI", 5127}, {"fr_FR", 1036}, {"fr_BE", 2060}, {"fr_CA", 3084},
    {"fr_CH", 4108}, {"fr_LU", 5132}, {"de", 1031},    {"fr", 1036},
};

}  // namespace

uint16_t LangIdFromLocaleName(std::string_view locale) {
  // "de_CH.UTF-8@euro" -> "de_CH"
  size_t end = locale.find_first_of(".@");
  std::string_view base = locale.substr(0, end);
  for (const LocaleId& l : kLocales) {
    if (base == l.name) return l.id;
  }
  std::string_view lang = base.substr(0, base.find('_'));
  for (const LocaleId& l : kLocales) {
    if (lang == l.name) return l.id;
  }
  return 1033;
}

uint16_t SystemDefaultLangId() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') return LangIdFromLocaleName(value);
  }
  return 1033;
}

int16_t LanguageNoForLangId(uint16_t langId) {
  switch (langId) {
    case 1031:
    case 2055:
    case 3079:
    case 4103:
    case 5127:
      return 2;
    case 1036:
    case 2060:
    case 3084:
    case 4108:
    case 5132:
      return 3;
    default:
      return 1;
  }
}
