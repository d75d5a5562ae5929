#include "gauge_health.h"

int GaugeHealth::Check(const SettingsRecord& s, IDeviceLibrary& device) {
  int followed = 0;
  for (int d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int n = 1; n <= kLastStoredInput; ++n) {
      if (s.Inputs[d][n].State != 1) continue;
      std::string source;
      int32_t age = 0;
      const auto dd = static_cast<int16_t>(d);
      const auto nn = static_cast<int16_t>(n);
      if (!device.Device_Source(dd, nn, source, age) || source.rfind("serial", 0) != 0) continue;
      ++followed;
      Gauge& gauge = gauges_[{d, n}];
      gauge.source = source;
      double value = 0.0;
      Settle(d, n, gauge, Answers(device.Device_Value(dd, nn, value)));
    }
  }
  return followed;
}

void GaugeHealth::Note(int d, int n, int16_t status) {
  auto it = gauges_.find({d, n});
  if (it != gauges_.end()) Settle(d, n, it->second, Answers(status));
}

void GaugeHealth::Settle(int d, int n, Gauge& gauge, bool answers) {
  const State now = answers ? State::kAnswering : State::kGone;
  if (gauge.state == now || (gauge.state == State::kNotYet && !answers)) return;
  const bool report = gauge.state != State::kNotYet;
  gauge.state = now;
  if (!report) return;
  const std::string line = "Gauge " + std::to_string(d) + "." + std::to_string(n) + " (" +
                           gauge.source + ") " + (answers ? "answers again" : "does not answer");
  err_ << "Velk_VCP: " << line << std::endl;
  log_.WriteLine(line);
}
