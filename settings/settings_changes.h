// What a change of the settings changed, key by key, for the record of changes.
#pragma once

#include <string>
#include <vector>

#include "settings_record.h"

// Returns one "KEY: OLD -> NEW" text for every key of the settings file whose value differs
// between before and after, in file order; the password's values are shown as "(hidden)".
// Returns none when nothing differs.
std::vector<std::string> SettingsChanges(const SettingsRecord& before, const SettingsRecord& after);

// Returns SettingsChanges joined by "; "; empty when nothing differs.
std::string SettingsChangeText(const SettingsRecord& before, const SettingsRecord& after);
