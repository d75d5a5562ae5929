// The system's default language, as a Windows language identifier, read from the locale.
#pragma once

#include <cstdint>
#include <string_view>

// Returns the language identifier of a locale name such as "de_CH.UTF-8" (2055), "fr_CA" (3084)
// or "de" (1031). Returns 1033 (English) for any locale it does not know.
uint16_t LangIdFromLocaleName(std::string_view locale);

// Returns the identifier of the locale named by LC_ALL, else LC_MESSAGES, else LANG (the first
// one set and not empty); 1033 when none is set.
uint16_t SystemDefaultLangId();

// Returns the program's language number for an identifier: 2 for the German ones, 3 for the
// French ones, 1 for every other.
int16_t LanguageNoForLangId(uint16_t langId);
