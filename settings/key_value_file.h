// Line syntax shared by the settings file, named configurations, presets and language files:
// "key:value", split at the first colon; a line without a colon continues the previous key.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Calls onLine for every line of the file at path, without its line end. CR LF, LF and a lone
// CR each end a line; a last line without an end is passed too. Lines of any length and bytes
// of any value (NUL included) are passed unchanged. Returns false, with a reason in error,
// when the file cannot be opened, is not a regular file (a folder, a device, a pipe) or a read
// fails; lines already passed stay passed.
bool ReadLines(const std::string& path, const std::function<void(std::string_view)>& onLine,
               std::string& error);

// Marks the temporary files of WriteFileAtomically: ".<name>.velk-save.XXXXXX", hidden, and a
// name no user file takes by chance.
inline constexpr const char* kTemporaryMarker = ".velk-save.";

// Returns the mkstemp pattern of the temporary file for path: ".<name>.velk-save.XXXXXX" in
// the same folder.
std::string TemporaryNameFor(const std::string& path);

// Writes content to path so that the file is either the old one or the complete new one: the
// bytes go to a temporary file in the same folder (TemporaryNameFor), which is flushed to disk
// and renamed over path. The result is private (0600) whatever the umask and whatever the
// replaced file's mode: these files hold the password. A symbolic link at path is replaced by
// the file, its target left alone. Returns false, with a reason in error, when any step fails;
// the old file is then untouched and no temporary file is left behind.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

// Removes the temporary files of WriteFileAtomically (".<name>.velk-save.XXXXXX", nothing
// else) in folder (empty: the current one) that a process killed while writing left behind:
// those whose name part isTarget accepts, that are plain files and that no running write
// holds. Returns how many were removed; a folder that cannot be read gives 0.
int RemoveStaleTemporaries(const std::string& folder,
                           const std::function<bool(std::string_view)>& isTarget);

// One line split at its first colon.
struct KeyValueLine {
  bool hasColon = false;
  std::string_view key;    // text before the colon, untrimmed (empty without a colon)
  std::string_view value;  // text after the colon, or the whole line without a colon
};

// Returns the line split at its first colon.
KeyValueLine SplitAtFirstColon(std::string_view line);

// Returns text without the space characters (code 32 only) at both ends.
std::string_view TrimSpaces(std::string_view text);

// Returns "LIB000.DRV"-style names: the decimal number overwrites the last digits of the zeros
// in base ("LIB000"), extending further left for longer numbers, then suffix is appended.
// FileNameWithNumber("LIB000", 7, ".DRV") is "LIB007.DRV".
std::string FileNameWithNumber(std::string_view base, int number, std::string_view suffix);
