// How fresh the values of a serial gauge are when the device library serves them: a gauge
// emulator on a pseudo-terminal, paced as a line at 9600 or 115200 baud would be, answers each
// request with a new reading; Device_Value is called in a tight loop, as often as a busy port
// could ask.
//
//   request to served value: from the gauge receiving a request until Device_Value first
//                            returns the reading it answered with;
//   served-value age:        for every Device_Value call, the time since the gauge received
//                            the request of the reading it returned;
//   Device_Value call:       how long the call itself takes.
//
// Usage: velk_gauge_benchmark [seconds per case]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ddk_library.h"
#include "gauge_emulator.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Case {
  int baud;
  int interval_ms;
};

void Run(const Case& c, double seconds, const std::string& folder) {
  GaugeEmulator gauge(folder + "/gauge");
  if (!gauge.ok()) {
    std::printf("cannot make a pseudo-terminal\n");
    return;
  }
  gauge.SetBaud(c.baud);
  std::mutex mutex;
  std::vector<Clock::time_point> asked;  // request arrival of reading k (value k)
  gauge.AnswerWith("?\r", [&] {
    std::lock_guard lock(mutex);
    asked.push_back(Clock::now());
    char text[32];
    std::snprintf(text, sizeof text, "+%06zu.000\r\n", asked.size() - 1);
    return std::string(text);
  });
  const std::string ddk = folder + "/Velk_VCP.DDK";
  std::ofstream(ddk) << "socket: bench.sock\ndevice: 1\ninput: 1\nserial: gauge\nline: " << c.baud
                     << " 8N1\nrequest: \"?\",13\ninterval: " << c.interval_ms << "\n";
  DdkLibrary library(VELK_DDK_SIM);
  if (library.Device_Init(1, ddk, 0) != 0) {
    std::printf("Device_Init failed\n");
    return;
  }
  std::vector<double> latency_ms, age_ms, call_us;
  long last = -1;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    double value = 0;
    const auto before = Clock::now();
    const int16_t status = library.Device_Value(1, 1, value);
    const auto after = Clock::now();
    call_us.push_back(std::chrono::duration<double, std::micro>(after - before).count());
    if (status != 0) continue;
    const long k = std::lround(value);
    Clock::time_point at;
    {
      std::lock_guard lock(mutex);
      if (k < 0 || k >= static_cast<long>(asked.size())) continue;
      at = asked[static_cast<size_t>(k)];
    }
    const double age = std::chrono::duration<double, std::milli>(after - at).count();
    age_ms.push_back(age);
    if (k != last) latency_ms.push_back(age);
    last = k;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  library.Device_DeInit();
  std::printf(
      "| %6d | %4d | %5zu | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %6.2f | %5.1f | %6.1f |\n",
      c.baud, c.interval_ms, latency_ms.size(), Percentile(latency_ms, 0.5),
      Percentile(latency_ms, 0.99), Percentile(latency_ms, 1.0), Percentile(age_ms, 0.5),
      Percentile(age_ms, 0.99), Percentile(age_ms, 1.0), Percentile(call_us, 0.5),
      Percentile(call_us, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  char pattern[] = "/tmp/velk-gauge-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::printf(
      "| baud | interval ms | readings | request to served ms: median | p99 | max "
      "| served age ms: median | p99 | max | Device_Value µs: median | max |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Case& c : {Case{9600, 0}, Case{9600, 100}, Case{115200, 0}, Case{115200, 100}}) {
    Run(c, seconds, pattern);
  }
  fs::remove_all(pattern);
  return 0;
}
