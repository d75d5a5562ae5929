// The keyed fields of the settings record, in the order the settings file lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "settings_record.h"

// One key of the settings file and the field it stands for. Exactly one of integer, text and
// input is set; an input key holds State + 2 * FS of that input.
struct SettingsField {
  int key = 0;
  int16_t* integer = nullptr;
  std::string* text = nullptr;
  InputRecord* input = nullptr;
  bool settingsOnly = false;    // program-wide key, never in a named configuration
  bool trimmed = false;         // written (and read) without leading and trailing spaces
  bool writtenWhenSet = false;  // written only when not 0 or empty, so older files stay as they are
};

// Calls visit for every key of the record s in file order: 4850 keys, of which 12 are
// settings-only.
void ForEachSettingsField(SettingsRecord& s,
                          const std::function<void(const SettingsField&)>& visit);

// Returns the field of key in s, or an empty field (key 0, nothing set) when no field has it.
// Input keys (1000 <= key < 9000) resolve for inputs 1..200 of devices 1..8.
SettingsField FindSettingsField(SettingsRecord& s, int key);

// Sets an input from the value of its first key: State = (value rounded) AND 1, FS = (integer
// part of value / 2) AND 1. Returns false, changing nothing, when value does not round to a
// 16-bit integer.
bool SetInputStateKey(InputRecord& input, double value);

// Returns true when key names a field of the settings file (a whole number 1..32767).
bool IsSettingsKey(SettingsRecord& s, double key);

// Applies one "key:value" line of the settings syntax to s. key is the numeric key, value the
// trimmed value text; settingsOnly keys are applied only when allowSettingsOnly is set;
// onlyKeysFrom/To restrict the keys applied. Returns false when the key's value is out of
// range for its field (nothing changed); true otherwise, also for keys that match no field.
bool ApplySettingsValue(SettingsRecord& s, double key, const std::string& value,
                        bool allowSettingsOnly, int onlyKeysFrom = 0, int onlyKeysTo = 9999);
