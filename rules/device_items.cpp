#include "device_items.h"

#include "language_file.h"
#include "number_text.h"

int16_t DeviceLanguage() { return RoundToInt16(NumericValue(LanguageTexts[999])).value_or(0); }

std::vector<DeviceInput> ListDeviceInputs(IDeviceLibrary& library, int16_t language) {
  std::vector<DeviceInput> inputs;
  for (int16_t d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int16_t n = 1; n <= kLastListedInput; ++n) {
      std::string name;
      if (library.Device_GetName(language, kDdkFileName, d, 2, n, name) == 0) {
        inputs.push_back({d, n, std::move(name)});
      }
    }
  }
  return inputs;
}

std::vector<std::string> ListFootSwitches(IDeviceLibrary& library, int16_t language) {
  std::vector<std::string> entries;
  for (int16_t d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int16_t j = 0; j <= 1; ++j) {
      std::string name;
      if (library.Device_GetName(language, kDdkFileName, d, 1, j, name) == 0) {
        entries.push_back("Device " + std::to_string(d) + "  -  " + name);
      }
    }
  }
  return entries;
}
