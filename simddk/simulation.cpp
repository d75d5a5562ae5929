#include "simulation.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

bool ParseInt(const std::string& text, int& value) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

std::string Number(double value) {
  char text[40];
  snprintf(text, sizeof text, "%.10g", value);
  return text;
}

constexpr const char* kHelp =
    "OK commands: press D [F], release D [F], key D I [VALUE], set D I VALUE, "
    "status D I STATUS, unplug D, replug D, show D, show D I";

}  // namespace

void Simulation::Start(const DdkDescription& description, const RealDevices* real) {
  std::lock_guard lock(mutex_);
  real_ = real;
  for (int d = 1; d <= kDdkDevices; ++d) {
    const DeviceDescription& from = description.devices[d];
    Device& to = devices_[d];
    to = Device{};
    to.present = from.present;
    for (int f = 0; f < kDdkFootSwitches; ++f) {
      to.has_switch[f] = from.foot_switches[f].has_value();
      to.real_switch[f] = from.switch_sources[f].has_value();
    }
    for (const auto& [number, input] : from.inputs) {
      Input& live = to.inputs[number];
      live.real = input.serial.has_value();
      live.generator = ValueGenerator(input.value);
      live.status = input.status;
    }
  }
  start_ = std::chrono::steady_clock::now();
}

void Simulation::Stop() {
  std::lock_guard lock(mutex_);
  real_ = nullptr;
  for (Device& device : devices_) device = Device{};
}

Simulation::Device* Simulation::FindDevice(int device) {
  if (device < 1 || device > kDdkDevices || !devices_[device].present) return nullptr;
  return &devices_[device];
}

double Simulation::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

int16_t Simulation::ValueLocked(int device_number, Device& device, int input_number, Input& input,
                                double& value) {
  if (!device.plugged) {
    value = 0.0;
    // A real gauge unplugged by the operator reads as one whose adapter was pulled: no value,
    // which the client gets as the no-value answer. A simulated device stays silent.
    return input.real ? kStatusNoValue : kStatusNoAnswer;
  }
  int16_t status = input.status;
  if (input.real) {
    std::optional<GaugeReading> reading;
    if (real_) reading = real_->Reading(device_number, input_number);
    status = reading ? reading->status : kStatusNoValue;
    value = reading ? reading->value : 0.0;
  } else {
    value = input.generator.ValueAt(Seconds());
  }
  if (status != kStatusValid) return status;
  const Limits& tol = input.tolerance;
  if (tol.set && (value > tol.upper || value < tol.lower)) return kStatusOutOfRange;
  return kStatusValid;
}

int16_t Simulation::Value(int16_t device, int16_t input, double& value) {
  std::lock_guard lock(mutex_);
  value = 0.0;
  Device* d = FindDevice(device);
  if (!d) return kStatusNoAnswer;
  auto it = d->inputs.find(input);
  if (it == d->inputs.end()) return kStatusNoAnswer;
  return ValueLocked(device, *d, input, it->second, value);
}

bool Simulation::Source(int16_t device, int16_t input, std::string& source, int32_t& age_ms) {
  std::lock_guard lock(mutex_);
  Device* d = FindDevice(device);
  if (!d) return false;
  auto it = d->inputs.find(input);
  if (it == d->inputs.end()) return false;
  if (!it->second.real) {
    source = "simulated";
    age_ms = 0;
    return true;
  }
  source = "serial " + (real_ ? real_->Path(device, input) : std::string());
  const std::optional<GaugeReading> reading = real_ ? real_->Reading(device, input) : std::nullopt;
  age_ms = -1;
  if (reading && reading->at != std::chrono::steady_clock::time_point{}) {
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - reading->at);
    age_ms = static_cast<int32_t>(std::min<int64_t>(age.count(), INT32_MAX));
  }
  return true;
}

int16_t Simulation::Trigger(int16_t device, int16_t number) {
  std::lock_guard lock(mutex_);
  Device* d = FindDevice(device);
  if (!d || !d->plugged || number < 0 || number >= kDdkFootSwitches) return 0;
  const bool real = d->real_switch[number] && real_ && real_->SwitchPressed(device, number);
  return (d->pressed[number] || real) ? 1 : 0;
}

bool Simulation::QueueDataKey(int16_t device, int16_t input, double value) {
  std::lock_guard lock(mutex_);
  Device* d = FindDevice(device);
  if (!d || !d->plugged || d->data_keys.size() >= kDataKeyQueueMax) return false;
  d->data_keys.emplace_back(input, value);
  return true;
}

std::string Simulation::ShowDevice(int number, const Device& device) const {
  std::string answer = "OK device " + std::to_string(number) +
                       (device.plugged ? " plugged in" : " unplugged") + ", " +
                       std::to_string(device.data_keys.size()) + " data-key values waiting";
  for (int f = 0; f < kDdkFootSwitches; ++f) {
    if (!device.has_switch[f]) continue;
    const bool real = device.real_switch[f] && real_ && real_->SwitchPressed(number, f);
    answer += "; foot switch " + std::to_string(f) +
              (device.pressed[f] || real ? " pressed" : " released");
    if (device.real_switch[f] && real_) answer += " (" + real_->DescribeSwitch(number, f) + ")";
  }
  return answer;
}

int16_t Simulation::Collect(int16_t device, int16_t& input, double& value) {
  std::lock_guard lock(mutex_);
  Device* d = FindDevice(device);
  if (!d || !d->plugged || d->data_keys.empty()) return 1;
  input = d->data_keys.front().first;
  value = d->data_keys.front().second;
  d->data_keys.pop_front();
  return 0;
}

void Simulation::LimitCheck(int16_t device, int16_t input, int16_t kind, double upper,
                            double lower) {
  std::lock_guard lock(mutex_);
  Device* d = FindDevice(device);
  if (!d) return;
  auto it = d->inputs.find(input);
  if (it == d->inputs.end()) return;
  Limits* limits = kind == 2 ? &it->second.tolerance : kind == 1 ? &it->second.control : nullptr;
  if (limits) *limits = Limits{true, upper, lower};
}

std::string Simulation::Execute(std::string_view command) {
  std::lock_guard lock(mutex_);
  return ExecuteLocked(command);
}

std::string Simulation::ExecuteLocked(std::string_view command) {
  std::vector<std::string> w = Words(command);
  if (w.empty()) return "ERR empty command; try help";
  const std::string& verb = w[0];
  if (verb == "help") return kHelp;

  const bool device_only =
      verb == "unplug" || verb == "replug" || verb == "press" || verb == "release";
  const bool with_input = verb == "key" || verb == "set" || verb == "status" || verb == "show";
  if (!device_only && !with_input) return "ERR unknown command '" + verb + "'; try help";
  if (w.size() < 2) return "ERR " + verb + " needs a device number";
  int dn = 0;
  if (!ParseInt(w[1], dn) || dn < 1 || dn > kDdkDevices) {
    return "ERR device '" + w[1] + "' is not a number 1..8";
  }
  Device* device = FindDevice(dn);
  if (!device) return "ERR device " + w[1] + " is not in the device file";
  const std::string where = std::to_string(dn);

  if (verb == "show" && w.size() == 2) return ShowDevice(dn, *device);
  if (verb == "unplug" || verb == "replug") {
    if (w.size() != 2) return "ERR " + verb + " takes only a device number";
    device->plugged = verb == "replug";
    if (!device->plugged) {
      device->data_keys.clear();
      device->pressed.fill(false);
    }
    return "OK device " + where + (device->plugged ? " plugged in" : " unplugged");
  }
  if (verb == "press" || verb == "release") {
    int number = 0;
    if (w.size() > 3 || (w.size() == 3 && !ParseInt(w[2], number))) {
      return "ERR " + verb + " takes a device number and optionally a foot switch 0 or 1";
    }
    if (number < 0 || number >= kDdkFootSwitches || !device->has_switch[number]) {
      return "ERR device " + where + " has no foot switch " + std::to_string(number);
    }
    if (!device->plugged) return "ERR device " + where + " is unplugged";
    device->pressed[number] = verb == "press";
    return "OK foot switch " + where + "." + std::to_string(number) +
           (verb == "press" ? " pressed" : " released");
  }

  if (w.size() < 3) return "ERR " + verb + " needs a device and an input number";
  int in = 0;
  if (!ParseInt(w[2], in) || in < 1 || in > kDdkInputs) {
    return "ERR input '" + w[2] + "' is not a number 1..200";
  }
  auto it = device->inputs.find(in);
  if (it == device->inputs.end()) {
    return "ERR device " + where + " has no input " + w[2];
  }
  Input& input = it->second;
  const std::string item = where + "." + std::to_string(in);
  std::string rest;
  for (size_t i = 3; i < w.size(); ++i) rest += (i > 3 ? " " : "") + w[i];

  if (input.real && (verb == "set" || verb == "status")) {
    return "ERR input " + item + " is a real gauge; its value comes from the gauge";
  }
  if (verb == "key") {
    if (!device->plugged) return "ERR device " + where + " is unplugged";
    double value = 0.0;
    if (w.size() > 4) return "ERR key takes a device, an input and optionally a value";
    if (w.size() == 4) {
      auto [ptr, ec] = std::from_chars(w[3].data(), w[3].data() + w[3].size(), value);
      if (ec != std::errc() || ptr != w[3].data() + w[3].size() || !std::isfinite(value)) {
        return "ERR '" + w[3] + "' is not a number";
      }
    } else if (ValueLocked(dn, *device, in, input, value) != kStatusValid && input.real) {
      return "ERR input " + item + " has no value to send";
    }
    if (device->data_keys.size() >= kDataKeyQueueMax) {
      return "ERR data-key queue of device " + where + " is full (" +
             std::to_string(kDataKeyQueueMax) + " values waiting)";
    }
    device->data_keys.emplace_back(static_cast<int16_t>(in), value);
    return "OK data key " + item + " pressed, value " + Number(value);
  }
  if (verb == "set") {
    ValueBehaviour behaviour;
    std::string error;
    if (!ParseValueBehaviour(rest, behaviour, error)) return "ERR " + error;
    input.generator = ValueGenerator(behaviour, Seconds());
    return "OK input " + item + " value " + DescribeValueBehaviour(behaviour);
  }
  if (verb == "status") {
    std::optional<int16_t> status = w.size() == 4 ? ParseStatus(w[3]) : std::nullopt;
    if (!status) return "ERR status must be valid, novalue, outofrange, noanswer or a number";
    input.status = *status;
    return "OK input " + item + " status " + std::to_string(*status);
  }
  // show
  if (w.size() != 3) return "ERR show takes a device and an input number";
  double value = 0.0;
  int16_t status = ValueLocked(dn, *device, in, input, value);
  const std::string source = input.real ? (real_ ? real_->Describe(dn, in) : "real gauge")
                                        : DescribeValueBehaviour(input.generator.behaviour());
  std::string answer = "OK input " + item + " value " + Number(value) + " status " +
                       std::to_string(status) + " (" + source + ")";
  if (input.tolerance.set) {
    answer += " tolerance " + Number(input.tolerance.lower) + ".." + Number(input.tolerance.upper);
  }
  if (input.control.set) {
    answer += " control " + Number(input.control.lower) + ".." + Number(input.control.upper);
  }
  return answer;
}
