#include "presets.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "key_value_file.h"
#include "number_text.h"
#include "settings_fields.h"

namespace {

// The command-format keys: everything from the device name (100) to the separator (502).
constexpr int kFirstPresetKey = 100;
constexpr int kLastPresetKey = 502;

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string PresetFileName(int number) { return FileNameWithNumber("LIB000", number, ".DRV"); }

bool LoadPreset(SettingsRecord& s) {
  if (s.CommandFormat == kOwnCommandFormat) return true;
  std::string name = PresetFileName(s.CommandFormat);
  // Lines are collected first so that a file that fails half-way applies nothing.
  std::vector<std::pair<double, std::string>> values;
  std::string error;
  double key = 0;
  bool ok = ReadLines(
      name,
      [&](std::string_view line) {
        KeyValueLine kv = SplitAtFirstColon(line);
        if (kv.hasColon) {
          // Preset keys are rounded to integers, so a key 239.6 means 240.
          key = RoundHalfEven(NumericValue(TrimSpaces(kv.key)));
          values.emplace_back(key, std::string(TrimSpaces(kv.value)));
        } else {
          values.emplace_back(key, std::string(kv.value));
        }
      },
      error);
  if (!ok) {
    std::fprintf(stderr, "Velk_VCP: preset not applied: %s\n", error.c_str());
    return false;
  }
  for (const auto& [k, v] : values) {
    if (!ApplySettingsValue(s, k, v, false, kFirstPresetKey, kLastPresetKey)) {
      std::fprintf(stderr, "Velk_VCP: %s: value of key %g out of range, ignored\n", name.c_str(),
                   k);
    }
  }
  return true;
}

std::vector<PresetEntry> PresetCatalogue(const std::string& ownFormatText) {
  std::vector<PresetEntry> list;
  for (int n = 0; n <= kLastPresetNumber; ++n) {
    std::string name = PresetFileName(n);
    if (!IsRegularFile(name)) continue;
    std::optional<std::string> deviceName;
    std::string error;
    ReadLines(
        name,
        [&](std::string_view line) {
          KeyValueLine kv = SplitAtFirstColon(line);
          if (!deviceName && kv.hasColon &&
              RoundHalfEven(NumericValue(TrimSpaces(kv.key))) == 100) {
            deviceName = std::string(TrimSpaces(kv.value));
          }
        },
        error);
    list.push_back({n, deviceName.value_or(name)});
  }
  list.push_back({kOwnCommandFormat, ownFormatText});
  return list;
}
