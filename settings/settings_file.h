// Reading and writing the settings file "Velk_VCP.CFG" and named configurations ("*.con").
#pragma once

#include <string>

#include "settings_record.h"

inline constexpr const char* kSettingsFileName = "Velk_VCP.CFG";
// A settings file that could not be read as one is kept as "Velk_VCP.CFG.bad".
inline constexpr const char* kUnreadableSuffix = ".bad";

// Writes every key of s to fileName, or to the settings file when fileName is empty; a named
// configuration leaves out the program-wide keys. The file is replaced atomically and is
// private (0600). When the last ReadSettings found the settings file unreadable (not a single
// key line, or NUL bytes), that file is first renamed to "Velk_VCP.CFG.bad", said on standard
// error and kept for KeptSettingsNotice. Returns false when it cannot be written (the reason
// goes to standard error); the old file then stays as it was.
bool WriteSettings(const std::string& fileName = "", SettingsRecord& s = Settings);

// With an empty fileName: sets the defaults and applies preset 0 to s, then applies the
// settings file (created empty when missing). With a name: applies that named configuration
// on top of s, skipping the program-wide keys. Integer values that do not round into
// -32768..32767 are ignored (the field keeps its value) and reported on standard error.
// Returns false when the file cannot be created or read; s then holds whatever was applied.
bool ReadSettings(const std::string& fileName = "", SettingsRecord& s = Settings);

// Returns what the last write said about a settings file kept as "Velk_VCP.CFG.bad" (for the
// log), or an empty text when none was kept.
const std::string& KeptSettingsNotice();

// Removes what saves of the settings file or of named configurations in the current folder
// left behind when the program was killed while writing (see RemoveStaleTemporaries).
// Returns how many files were removed.
int RemoveStaleSettingsTemporaries();
