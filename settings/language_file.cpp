#include "language_file.h"

#include <cstdio>

#include "key_value_file.h"
#include "number_text.h"

std::array<std::string, kLastTextNumber + 1> LanguageTexts;

std::string LanguageFileName(int languageNo) {
  return FileNameWithNumber("VCP000", languageNo, ".LAN");
}

namespace {

bool ReadLanguageFile(const std::string& name, std::array<std::string, kLastTextNumber + 1>& texts,
                      std::string& error) {
  double number = 0;
  return ReadLines(
      name,
      [&](std::string_view line) {
        KeyValueLine kv = SplitAtFirstColon(line);
        std::string_view raw = kv.value;
        if (kv.hasColon) {
          number = RoundHalfEven(NumericValue(TrimSpaces(kv.key)));
          raw = TrimSpaces(kv.value);
        }
        // The text sits between two delimiters of any kind, which are dropped.
        if (number < 1 || number > kLastTextNumber || raw.size() < 2) return;
        texts[static_cast<size_t>(number)] = std::string(raw.substr(1, raw.size() - 2));
      },
      error);
}

}  // namespace

bool LoadLanguage(int16_t languageNo, std::array<std::string, kLastTextNumber + 1>& texts) {
  for (int i = 0; i < kLastTextNumber; ++i) texts[i].clear();
  std::string error;
  if (ReadLanguageFile(LanguageFileName(languageNo), texts, error)) return true;
  std::fprintf(stderr, "Velk_VCP: language file not read: %s\n", error.c_str());
  if (languageNo == 1) return false;
  for (int i = 0; i < kLastTextNumber; ++i) texts[i].clear();
  if (ReadLanguageFile(LanguageFileName(1), texts, error)) {
    std::fprintf(stderr, "Velk_VCP: using the English texts instead\n");
    return true;
  }
  std::fprintf(stderr, "Velk_VCP: language file not read: %s\n", error.c_str());
  return false;
}
