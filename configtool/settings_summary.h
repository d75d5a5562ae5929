// The settings a person cares about, in words, as velk-vcp-config show prints them.
#pragma once

#include <string>

#include "settings_record.h"

// Returns the name of hot-key combination index (0 "none", 1..12 "F1".."F12", 13..24 "Ctrl+F1"..,
// 25..36 "Alt+F1".., 37..48 "Alt+Ctrl+F1"..); "unknown (N)" for any other index.
std::string HotKeyName(int index);

// Returns the combination index of name (the names of HotKeyName, any case, "Ctrl+Alt+" as
// well as "Alt+Ctrl+"), or -1 when name is none of them.
int HotKeyIndex(const std::string& name);

// Returns the lines of show: command format, ports with hot keys, inputs in use with their
// addresses, value format, log and whether a password is set. Texts are shown in UTF-8.
std::string SettingsSummary(const SettingsRecord& s);
