// The user-interface texts by number, loaded from the language files "VCP001.LAN" (English),
// "VCP002.LAN" (Deutsch) and "VCP003.LAN" (Francais).
#pragma once

#include <array>
#include <string>

#include "settings_record.h"

constexpr int kLastTextNumber = 1000;

// Texts 0..1000 as 8-bit (Windows-1252) strings; text 0 is never filled from a file.
extern std::array<std::string, kLastTextNumber + 1> LanguageTexts;

// Returns the language file name of a language number: 2 -> "VCP002.LAN".
std::string LanguageFileName(int languageNo);

// Clears texts 0..999 and reads the file of languageNo into texts. Lines whose number is below
// 1 or above 1000, and texts shorter than their two delimiters, are skipped. When the file
// cannot be read, the English file is read instead and the problem goes to standard error.
// Returns false when no language file could be read (the texts then stay empty).
bool LoadLanguage(int16_t languageNo = Settings.LanguageNo,
                  std::array<std::string, kLastTextNumber + 1>& texts = LanguageTexts);
