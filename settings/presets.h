// Command-format presets "LIB000.DRV" .. "LIB030.DRV": ready-made command vocabularies.
#pragma once

#include <string>
#include <vector>

#include "settings_record.h"

constexpr int kLastPresetNumber = 30;

// Returns the preset file name of a number: 0 -> "LIB000.DRV", 12 -> "LIB012.DRV".
std::string PresetFileName(int number);

// Applies the command-format keys of the preset s.CommandFormat to s; keys the file lacks
// keep their values. Does nothing for the own command format (1000). Returns false when the
// preset file cannot be read (reported on standard error, nothing applied).
bool LoadPreset(SettingsRecord& s = Settings);

// One entry of the setup window's format list.
struct PresetEntry {
  int number = 0;    // preset number, or 1000 for the own command format
  std::string name;  // the preset's key 100 (its device name)
};

// Returns the presets 0..30 found in the current directory in ascending order, each named by
// its first key 100 line (a file without one is listed under its file name), followed by the
// own command format named ownFormatText. A position in the list is thus a place among the
// existing files, and number tells which preset it is.
std::vector<PresetEntry> PresetCatalogue(const std::string& ownFormatText);
