#include "settings_changes.h"

#include <utility>

#include "settings_fields.h"

namespace {

// Every key of s with its value as the settings file would hold it.
std::vector<std::pair<int, std::string>> Values(SettingsRecord s) {
  std::vector<std::pair<int, std::string>> values;
  ForEachSettingsField(s, [&](const SettingsField& f) {
    std::string value;
    if (f.integer) value = std::to_string(*f.integer);
    if (f.text) value = f.text == &s.Password ? "(hidden)" : *f.text;
    if (f.input) value = std::to_string(f.input->State + 2 * f.input->FS);
    values.emplace_back(f.key, std::move(value));
  });
  return values;
}

}  // namespace

std::vector<std::string> SettingsChanges(const SettingsRecord& before,
                                         const SettingsRecord& after) {
  const auto old_values = Values(before);
  const auto new_values = Values(after);
  std::vector<std::string> changes;
  for (size_t k = 0; k < old_values.size() && k < new_values.size(); ++k) {
    const bool password = old_values[k].second == "(hidden)";
    if (password ? before.Password == after.Password
                 : old_values[k].second == new_values[k].second) {
      continue;
    }
    changes.push_back(std::to_string(old_values[k].first) + ": " + old_values[k].second + " -> " +
                      new_values[k].second);
  }
  return changes;
}

std::string SettingsChangeText(const SettingsRecord& before, const SettingsRecord& after) {
  std::string text;
  for (const std::string& change : SettingsChanges(before, after)) {
    text += (text.empty() ? "" : "; ") + change;
  }
  return text;
}
