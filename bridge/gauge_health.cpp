#include "gauge_health.h"

#include <string>

int GaugeHealth::Check(const SettingsRecord& s, IDeviceLibrary& device, ActivityLog& log,
                       std::ostream& err) {
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
      double value = 0.0;
      const bool answers = Answers(device.Device_Value(dd, nn, value));
      auto [it, first] = answering_.try_emplace({d, n}, true);
      if (it->second == answers) continue;
      it->second = answers;
      (void)first;
      const std::string line = "Gauge " + std::to_string(d) + "." + std::to_string(n) + " (" +
                               source + ") " + (answers ? "answers again" : "does not answer");
      err << "Velk_VCP: " << line << std::endl;
      log.WriteLine(line);
    }
  }
  return followed;
}
