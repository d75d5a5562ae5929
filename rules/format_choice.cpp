#include "format_choice.h"

#include "default_addresses.h"
#include "presets.h"

bool ChooseCommandFormat(SettingsRecord& s, int16_t format,
                         const std::vector<DeviceInput>& inputs) {
  s.CommandFormat = format;
  if (format == kOwnCommandFormat) return true;
  const bool loaded = LoadPreset(s);
  AssignDefaultAddresses(s, inputs);
  return loaded;
}
