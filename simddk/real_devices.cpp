#include "real_devices.h"

#include <iostream>

void RealDevices::Start(const DdkDescription& description, DataKeySink sink) {
  Stop();
  std::map<std::string, std::vector<GaugePort::Input>> by_port;
  std::vector<std::string> order;  // ports in the order the file first names them
  std::vector<FootSwitchWatcher::Switch> switches;
  for (int16_t d = 1; d <= kDdkDevices; ++d) {
    const DeviceDescription& device = description.devices[d];
    if (!device.present) continue;
    for (const auto& [number, input] : device.inputs) {
      if (!input.serial) continue;
      auto& list = by_port[input.serial->path];
      if (list.empty()) order.push_back(input.serial->path);
      list.push_back({d, static_cast<int16_t>(number), *input.serial});
    }
    for (int16_t f = 0; f < kDdkFootSwitches; ++f) {
      if (device.switch_sources[f]) switches.push_back({d, f, *device.switch_sources[f]});
    }
  }
  for (const std::string& path : order) {
    auto port = std::make_unique<GaugePort>(std::move(by_port[path]), sink);
    std::string error;
    if (!port->Start(error)) {
      std::cerr << "Velk_DDK: serial port " << path << ": " << error << '\n';
      continue;
    }
    for (size_t i = 0; i < port->inputs().size(); ++i) {
      const GaugePort::Input& in = port->inputs()[i];
      where_[{in.device, in.input}] = {ports_.size(), i};
    }
    ports_.push_back(std::move(port));
  }
  std::string error;
  if (!switches_.Start(std::move(switches), error)) {
    std::cerr << "Velk_DDK: foot switches: " << error << '\n';
  }
}

void RealDevices::Stop() {
  switches_.Stop();
  for (auto& port : ports_) port->Stop();
  ports_.clear();
  where_.clear();
}

std::optional<GaugeReading> RealDevices::Reading(int device, int input) const {
  auto it = where_.find({device, input});
  if (it == where_.end()) return std::nullopt;
  return ports_[it->second.first]->Latest(it->second.second);
}

std::string RealDevices::Describe(int device, int input) const {
  auto it = where_.find({device, input});
  if (it == where_.end()) return {};
  return ports_[it->second.first]->Describe(it->second.second);
}

std::string RealDevices::Path(int device, int input) const {
  auto it = where_.find({device, input});
  if (it == where_.end()) return {};
  return ports_[it->second.first]->path();
}
