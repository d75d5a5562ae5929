#include "default_addresses.h"

#include <string>

namespace {

struct Defaults {
  bool inUse = false;
  std::string commandAdr;
  std::string meaValAdr;
};

// Returns the defaults of running number c (from 1) in format.
Defaults DefaultsFor(int format, int c) {
  std::string n = std::to_string(c);
  switch (format) {
    case 0:
      if (c <= 8) return {true, n, std::to_string(10 * c)};
      break;
    case 1:
      if (c <= 64) {
        std::string g = std::to_string((c - 1) / 8 + 1);
        std::string i = std::to_string((c - 1) % 8 + 1);
        return {true, g + "." + i, g + i};
      }
      break;
    case 2:
      if (c <= 3) return {true, n, n};
      break;
    case 3:
      if (c <= 8) return {true, n, n};
      if (c == 9) return {true, "X", "X"};
      if (c == 10) return {true, "Y", "Y"};
      break;
    case 4:
      if (c <= 99) return {true, n, c < 10 ? "0" + n : n};
      break;
    case 5:
      if (c == 1) return {true, "", ""};
      break;
    case kOwnCommandFormat:
      return {true, n, n};
    default:
      break;
  }
  return {};
}

}  // namespace

void AssignDefaultAddresses(SettingsRecord& s, const std::vector<DeviceInput>& inputs) {
  for (int d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int n = 1; n <= 200; ++n) s.Inputs[d][n] = InputRecord{};
  }
  int c = 0;
  for (const DeviceInput& input : inputs) {
    Defaults defaults = DefaultsFor(s.CommandFormat, ++c);
    if (!defaults.inUse) continue;
    InputRecord& record = s.Inputs[input.device][input.number];
    record.State = 1;
    record.FS = 1;
    record.CommandAdr = defaults.commandAdr;
    record.MeaValAdr = defaults.meaValAdr;
  }
}
