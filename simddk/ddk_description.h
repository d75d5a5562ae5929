// The devices a DDK file describes, and the reader of that file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "serial_line.h"
#include "value_behaviour.h"

inline constexpr int kDdkDevices = 8;       // devices 1..8
inline constexpr int kDdkFootSwitches = 2;  // foot-switch items 0 and 1 of a device
inline constexpr int kDdkInputs = 200;      // measuring inputs 1..200 of a device
inline constexpr size_t kDdkNameMax = 199;  // longest name, so that name and zero fit 200 bytes
inline constexpr size_t kDdkUnitMax = 15;   // longest unit ("mm", "N*m", "µm/m")

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

// A measuring input read from a gauge on a serial port instead of being simulated.
struct SerialSource {
  std::string path;          // tty device or link, resolved against the file's folder
  SerialLine line;           // of the first input naming the port when several share it
  std::string request_text;  // as written, in the command notation
  std::string request;       // the bytes sent; empty for a gauge that only pushes
  int timeout_ms = 1000;     // answer wait; no answer within it gives "no value"
  int interval_ms = 100;     // pause between the end of one request and the next
  int skip = 0;              // characters of each line before its number
  int line_number = 0;       // of the "serial:" line, for reports
};

// A foot switch that is a real device: a key of an input device (pressed while the key is
// down) or a modem-status line of a serial port (pressed while the line is asserted).
enum class SwitchKind { kEvdev, kModem };
enum class ModemLine { kCts, kDsr, kDcd, kRi };
struct SwitchSource {
  SwitchKind kind = SwitchKind::kEvdev;
  std::string path;
  int key = 0;  // evdev key code
  ModemLine modem = ModemLine::kCts;
};

// Returns "CTS", "DSR", "DCD" or "RI".
const char* ModemLineName(ModemLine line);

struct InputDescription {
  ItemNames names;
  std::string unit;  // of its values, 8-bit; empty when the file gives none
  ValueBehaviour value;
  int16_t status = kStatusValid;
  std::optional<SerialSource> serial;  // set: a real gauge; value and status are not used
};

struct DeviceDescription {
  bool present = false;
  std::array<std::optional<ItemNames>, kDdkFootSwitches> foot_switches;
  std::array<std::optional<SwitchSource>, kDdkFootSwitches> switch_sources;  // real ones
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
// skipped; the valid rest is used. Inputs sharing a serial port take the line settings of the
// first of them; a differing "line:" is reported. A file that cannot be opened gives readable =
// false (and is reported). The socket path defaults to the file's name with the extension ".sock".
DdkDescription ReadDdkFile(const std::string& path, std::ostream& errors);
