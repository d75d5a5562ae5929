// Choosing a command format, as the setup window's format list does it.
#pragma once

#include <cstdint>
#include <vector>

#include "device_items.h"
#include "settings_record.h"

// Makes format the command format of s. A preset (any number but the own command format)
// brings its command keys (LoadPreset) and gives the listed inputs the format's default
// addresses (AssignDefaultAddresses); the own command format keeps every command and input.
// Returns false when the preset file cannot be read: the format number is taken and the
// inputs get their defaults all the same, as in the setup window.
bool ChooseCommandFormat(SettingsRecord& s, int16_t format, const std::vector<DeviceInput>& inputs);
