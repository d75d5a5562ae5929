// The command and measured-value addresses a command format gives the device inputs.
#pragma once

#include <vector>

#include "device_items.h"
#include "settings_record.h"

// Clears State, FS and both addresses of inputs 1..200 of devices 1..8 in s, then gives the
// listed inputs (running number = place in the list + 1) the defaults of s.CommandFormat.
// Formats without a rule leave every input cleared.
void AssignDefaultAddresses(SettingsRecord& s, const std::vector<DeviceInput>& inputs);
