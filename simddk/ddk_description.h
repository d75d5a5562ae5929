// The devices a DDK file describes, and the reader of that file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "value_behaviour.h"

inline constexpr int kDdkDevices = 8;       // devices 1..8
inline constexpr int kDdkFootSwitches = 2;  // foot-switch items 0 and 1 of a device
inline constexpr int kDdkInputs = 200;      // measuring inputs 1..200 of a device
inline constexpr size_t kDdkNameMax = 199;  // longest name, so that name and zero fit 200 bytes

// Status values of a measuring input.
inline constexpr int16_t kStatusValid = 0;
inline constexpr int16_t kStatusNoValue = 1;
inline constexpr int16_t kStatusOutOfRange = 136;
inline constexpr int16_t kStatusNoAnswer = -1;

// Parses "valid", "novalue", "outofrange", "noanswer" or a whole number -32768..32767.
// Returns the status, or nothing when the text is none of these.
std::optional<int16_t> ParseStatus(const std::string& text);

// The name of an item in English (language 1), German (2) and French (3).
struct ItemNames {
  std::string english;
  std::string german;
  std::string french;
  // Returns the name for the language, falling back to English.
  const std::string& ForLanguage(int language) const;
};

struct InputDescription {
  ItemNames names;
  ValueBehaviour value;
  int16_t status = kStatusValid;
};

struct DeviceDescription {
  bool present = false;
  std::array<std::optional<ItemNames>, kDdkFootSwitches> foot_switches;
  std::map<int, InputDescription> inputs;  // by input number 1..200
};

struct DdkDescription {
  bool readable = false;    // the file could be opened
  std::string socket_path;  // control socket, already resolved against the file's folder
  std::array<DeviceDescription, kDdkDevices + 1> devices;  // index 1..8; 0 unused
  int problems = 0;                                        // lines reported as bad
  bool HasDevices() const;
};

// Reads the DDK file at path. Every bad line is reported to errors as "path:line: reason" and
// skipped; the valid rest is used. A file that cannot be opened gives readable = false (and is
// reported). The socket path defaults to the file's name with the extension ".sock".
DdkDescription ReadDdkFile(const std::string& path, std::ostream& errors);
