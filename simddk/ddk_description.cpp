#include "ddk_description.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <fstream>

#include "input_key_names.h"
#include "number_text.h"
#include "settings_record.h"
#include "text_notation.h"

namespace {

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(begin, end - begin));
}

std::optional<int> ParseWhole(const std::string& text) {
  int value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || text.empty()) return {};
  return value;
}

std::string DefaultSocketPath(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  std::string stem = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                         ? path.substr(0, dot)
                         : path;
  return stem + ".sock";
}

std::string ResolveBeside(const std::string& ddk_path, const std::string& name) {
  if (name.empty() || name[0] == '/') return name;
  size_t slash = ddk_path.rfind('/');
  if (slash == std::string::npos) return name;
  return ddk_path.substr(0, slash + 1) + name;
}

// Reads the lines of one file, keeping track of which device and item the lines belong to.
class Reader {
 public:
  Reader(const std::string& path, std::ostream& errors, DdkDescription& out)
      : path_(path), errors_(errors), out_(out) {}

  void Line(int number, std::string_view raw) {
    line_ = number;
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') return;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return Problem("line without a colon");
    std::string key = Trim(std::string_view(line).substr(0, colon));
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string value = Trim(std::string_view(line).substr(colon + 1));
    if (key == "socket") return Socket(value);
    if (key == "device") return Device(value);
    if (key == "footswitch") return FootSwitch(value);
    if (key == "input") return Input(value);
    if (key == "name" || key == "name_de" || key == "name_fr") return Name(key, value);
    if (key == "value") return Value(value);
    if (key == "status") return Status(value);
    if (key == "unit") return Unit(value);
    if (key == "serial") return Serial(value);
    if (key == "line" || key == "request" || key == "timeout" || key == "skip" ||
        key == "interval") {
      return PortSetting(key, value);
    }
    if (key == "evdev" || key == "modem") return Switch(key, value);
    Problem("unknown key '" + key + "'");
  }

 private:
  void Problem(const std::string& reason) {
    errors_ << path_ << ':' << line_ << ": " << reason << '\n';
    ++out_.problems;
  }

  void Socket(const std::string& value) {
    if (value.empty()) return Problem("empty socket path");
    out_.socket_path = ResolveBeside(path_, value);
  }

  void Device(const std::string& value) {
    ClearItem();
    device_ = 0;
    std::optional<int> n = ParseWhole(value);
    if (!n || *n < 1 || *n > kDdkDevices) {
      skipping_ = true;
      return Problem("device '" + value + "' is not a number 1..8; its lines are skipped");
    }
    skipping_ = false;
    device_ = *n;
    out_.devices[device_].present = true;
  }

  bool InDevice() {
    if (device_ != 0) return true;
    if (!skipping_) Problem("item outside a device (a 'device:' line must come first)");
    return false;
  }

  void FootSwitch(const std::string& value) {
    ClearItem();
    if (!InDevice()) return;
    std::optional<int> n = ParseWhole(value);
    if (!n || *n < 0 || *n >= kDdkFootSwitches) {
      item_skipping_ = true;
      return Problem("foot switch '" + value + "' is not 0 or 1; its lines are skipped");
    }
    auto& slot = out_.devices[device_].foot_switches[*n];
    if (!slot) slot.emplace();
    names_ = &*slot;
    switch_ = &out_.devices[device_].switch_sources[*n];
  }

  void Input(const std::string& value) {
    ClearItem();
    if (!InDevice()) return;
    std::optional<int> n = ParseWhole(value);
    if (!n || *n < 1 || *n > kDdkInputs) {
      item_skipping_ = true;
      return Problem("input '" + value + "' is not a number 1..200; its lines are skipped");
    }
    input_ = &out_.devices[device_].inputs[*n];
    names_ = &input_->names;
  }

  bool InItem() {
    if (names_) return true;
    if (!skipping_ && !item_skipping_) Problem("line outside an item ('footswitch:' or 'input:')");
    return false;
  }

  void Name(const std::string& key, std::string value) {
    if (!InItem()) return;
    if (value.size() > kDdkNameMax) {
      Problem("name longer than 199 characters; cut");
      value.resize(kDdkNameMax);
    }
    if (key == "name") names_->english = value;
    if (key == "name_de") names_->german = value;
    if (key == "name_fr") names_->french = value;
  }

  bool InInput() {
    if (!InItem()) return false;
    if (input_) return true;
    Problem("a foot switch has no value, status, unit or serial port");
    return false;
  }

  void Value(const std::string& value) {
    if (!InInput()) return;
    std::string error;
    if (!ParseValueBehaviour(value, input_->value, error)) Problem(error);
  }

  // A unit too long is left out, not cut: a cut unit would be a wrong one.
  void Unit(const std::string& value) {
    if (!InInput()) return;
    if (value.size() > kDdkUnitMax) return Problem("unit longer than 15 bytes; left out");
    input_->unit = value;
  }

  void Status(const std::string& value) {
    if (!InInput()) return;
    std::optional<int16_t> status = ParseStatus(value);
    if (!status) {
      return Problem("status '" + value +
                     "' is not valid, novalue, outofrange, noanswer or a number");
    }
    input_->status = *status;
  }

  void Serial(const std::string& value) {
    if (!InInput()) return;
    if (value.empty()) return Problem("empty serial port path");
    input_->serial.emplace();
    input_->serial->path = ResolveBeside(path_, value);
    input_->serial->line_number = line_;
  }

  void PortSetting(const std::string& key, const std::string& value) {
    if (!InInput()) return;
    if (!input_->serial) return Problem("'" + key + ":' needs a 'serial:' line before it");
    SerialSource& serial = *input_->serial;
    std::string error;
    if (key == "line") {
      if (!ParseSerialLine(value, serial.line, error)) Problem(error);
    } else if (key == "request") {
      static const SettingsRecord kNoAddresses;
      serial.request_text = value;
      serial.request = ConvString(value, -1, -1, 1, kNoAddresses);
    } else {
      const bool is_timeout = key == "timeout";
      const int low = is_timeout ? 1 : 0;
      const int high = key == "skip" ? 1000 : 3600000;
      std::optional<int> n = ParseWhole(value);
      if (!n || *n < low || *n > high) {
        return Problem(key + " '" + value + "' is not a whole number " + std::to_string(low) +
                       ".." + std::to_string(high));
      }
      (is_timeout ? serial.timeout_ms : key == "skip" ? serial.skip : serial.interval_ms) = *n;
    }
  }

  void Switch(const std::string& key, const std::string& value) {
    if (!InItem()) return;
    if (!switch_) return Problem("'" + key + ":' belongs to a foot switch, not an input");
    const size_t blank = value.find_last_of(" \t");
    if (blank == std::string::npos) {
      return Problem("'" + key + ":' needs a path and " +
                     (key == "evdev" ? "a key name such as KEY_B" : "CTS, DSR, DCD or RI"));
    }
    SwitchSource source;
    source.path = ResolveBeside(path_, Trim(std::string_view(value).substr(0, blank)));
    const std::string what = value.substr(blank + 1);
    if (key == "evdev") {
      std::optional<int> code = KeyCode(what);
      if (!code) return Problem("unknown key name '" + what + "' (names as KEY_B or BTN_0)");
      source.kind = SwitchKind::kEvdev;
      source.key = *code;
    } else {
      std::string upper = what;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      const ModemLine lines[] = {ModemLine::kCts, ModemLine::kDsr, ModemLine::kDcd, ModemLine::kRi};
      auto it = std::find_if(std::begin(lines), std::end(lines),
                             [&](ModemLine l) { return upper == ModemLineName(l); });
      if (it == std::end(lines)) {
        return Problem("modem line '" + what + "' is not CTS, DSR, DCD or RI");
      }
      source.kind = SwitchKind::kModem;
      source.modem = *it;
    }
    *switch_ = source;
  }

  void ClearItem() {
    names_ = nullptr;
    input_ = nullptr;
    switch_ = nullptr;
    item_skipping_ = false;
  }

  const std::string& path_;
  std::ostream& errors_;
  DdkDescription& out_;
  int line_ = 0;
  int device_ = 0;
  bool skipping_ = false;
  bool item_skipping_ = false;
  ItemNames* names_ = nullptr;
  InputDescription* input_ = nullptr;
  std::optional<SwitchSource>* switch_ = nullptr;
};

// Inputs sharing a port use the line settings of the first of them.
void AlignSharedPorts(const std::string& path, std::ostream& errors, DdkDescription& out) {
  std::map<std::string, std::pair<SerialLine, std::string>> first;
  for (int d = 1; d <= kDdkDevices; ++d) {
    for (auto& [number, input] : out.devices[d].inputs) {
      if (!input.serial) continue;
      SerialSource& serial = *input.serial;
      const std::string item = std::to_string(d) + "." + std::to_string(number);
      auto [it, added] = first.try_emplace(serial.path, serial.line, item);
      if (added || it->second.first == serial.line) continue;
      errors << path << ':' << serial.line_number << ": port " << serial.path << " is set to "
             << DescribeSerialLine(serial.line) << " here but to "
             << DescribeSerialLine(it->second.first) << " by input " << it->second.second
             << "; the first is used\n";
      ++out.problems;
      serial.line = it->second.first;
    }
  }
}

}  // namespace

std::optional<int16_t> ParseStatus(const std::string& text) {
  if (text == "valid") return kStatusValid;
  if (text == "novalue") return kStatusNoValue;
  if (text == "outofrange") return kStatusOutOfRange;
  if (text == "noanswer") return kStatusNoAnswer;
  std::optional<int> n = ParseWhole(text);
  if (!n || *n < INT16_MIN || *n > INT16_MAX) return {};
  return static_cast<int16_t>(*n);
}

const char* ModemLineName(ModemLine line) {
  switch (line) {
    case ModemLine::kCts:
      return "CTS";
    case ModemLine::kDsr:
      return "DSR";
    case ModemLine::kDcd:
      return "DCD";
    case ModemLine::kRi:
      return "RI";
  }
  return "?";
}

const std::string& ItemNames::ForLanguage(int language) const {
  if (language == 2 && !german.empty()) return german;
  if (language == 3 && !french.empty()) return french;
  return english;
}

bool DdkDescription::HasDevices() const {
  return std::any_of(devices.begin() + 1, devices.end(),
                     [](const DeviceDescription& d) { return d.present; });
}

DdkDescription ReadDdkFile(const std::string& path, std::ostream& errors) {
  DdkDescription out;
  out.socket_path = DefaultSocketPath(path);
  struct stat info {};
  std::ifstream in;
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    errors << path << ": cannot read the device file\n";
    return out;
  }
  out.readable = true;
  Reader reader(path, errors, out);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    reader.Line(++number, line);
  }
  AlignSharedPorts(path, errors, out);
  return out;
}
