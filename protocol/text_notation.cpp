#include "text_notation.h"

#include "key_value_file.h"
#include "number_text.h"

namespace {

std::string ConvertItem(std::string_view item, int16_t dev, int16_t adr, const SettingsRecord& s) {
  if (item.front() == '"') {
    if (item.size() < 3) return {};
    return std::string(item.substr(1, item.size() - 2));
  }
  if (item == "<ch>") {
    if (dev < 0 || dev >= kDeviceCount || adr < 0 || adr >= kInputCount) return {};
    return s.Inputs[dev][adr].CommandAdr;
  }
  if (item.front() == '<') return {};
  double code = RoundHalfEven(NumericValue(item));
  if (!(code >= 0 && code <= 255)) return {};
  return std::string(1, static_cast<char>(static_cast<unsigned char>(code)));
}

}  // namespace

std::string ConvString(const std::string& InpStr, int16_t dev, int16_t adr, int16_t antwort,
                       const SettingsRecord& s) {
  std::string result;
  std::string item;
  bool quoted = false;
  bool dropBlanks = s.Blanks != 0 && antwort != 1;
  for (size_t i = 0; i < InpStr.size(); ++i) {
    char c = InpStr[i];
    if (c == '"') quoted = !quoted;
    bool last = i + 1 == InpStr.size();
    if (!last && (c != ',' || quoted)) {
      if (!(c == ' ' && dropBlanks)) item.push_back(c);
      continue;
    }
    if (last) item.push_back(c);
    std::string_view trimmed = TrimSpaces(item);
    if (!trimmed.empty()) result += ConvertItem(trimmed, dev, adr, s);
    item.clear();
  }
  return result;
}
