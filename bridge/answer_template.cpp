#include "answer_template.h"

#include "key_value_file.h"
#include "number_text.h"

namespace {

std::string ConvertAnswerItem(std::string_view item, const std::string& valueText,
                              const std::string& meaValAdr) {
  if (item.front() == '"') {
    if (item.size() < 3) return {};
    return std::string(item.substr(1, item.size() - 2));
  }
  if (item == "<mv>") return valueText;
  if (item == "<ch>") return meaValAdr;
  if (item.front() == '<') return {};
  const double code = RoundHalfEven(NumericValue(item));
  if (!(code >= 0 && code <= 255)) return {};
  return std::string(1, static_cast<char>(static_cast<unsigned char>(code)));
}

}  // namespace

std::string FillAnswerTemplate(const std::string& templ, const std::string& valueText,
                               const std::string& meaValAdr) {
  std::string result;
  std::string item;
  bool quoted = false;
  for (size_t i = 0; i < templ.size(); ++i) {
    const char c = templ[i];
    if (c == '"') quoted = !quoted;
    const bool last = i + 1 == templ.size();
    if (!last && (c != ',' || quoted)) {
      item.push_back(c);
      continue;
    }
    if (last) item.push_back(c);
    const std::string_view trimmed = TrimSpaces(item);
    if (!trimmed.empty()) result += ConvertAnswerItem(trimmed, valueText, meaValAdr);
    item.clear();
  }
  return result;
}
