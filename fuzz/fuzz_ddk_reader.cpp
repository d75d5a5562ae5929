// The device-file reader of the simulated gauge library, and its operator commands, over
// arbitrary file contents: every line is read as a device-file line and run as a command.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "ddk_description.h"
#include "fuzz_workdir.h"
#include "simulation.h"
#include "value_behaviour.h"

namespace {

void CheckNames(const ItemNames& names) {
  for (const std::string* name : {&names.english, &names.german, &names.french}) {
    if (name->size() > kDdkNameMax) std::abort();
  }
}

// What a behaviour describes reads back as the same behaviour.
void CheckRoundTrip(const ValueBehaviour& b) {
  ValueBehaviour back;
  std::string error;
  if (!ParseValueBehaviour(DescribeValueBehaviour(b), back, error)) std::abort();
  if (back.kind != b.kind || back.a != b.a || back.b != b.b || back.c != b.c ||
      back.seed != b.seed) {
    std::abort();
  }
  if ((b.kind == ValueKind::kRamp || b.kind == ValueKind::kSine) && !(b.c > 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterFuzzWorkdir();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  WriteFuzzFile("Velk_VCP.DDK", bytes);
  std::ostringstream errors;
  const DdkDescription d = ReadDdkFile("Velk_VCP.DDK", errors);
  if (!d.readable || d.socket_path.empty()) std::abort();
  // Every problem is reported on a line of its own.
  int reported = 0;
  for (char c : errors.str()) reported += c == '\n';
  if (reported != d.problems) std::abort();

  Simulation simulation;
  simulation.Start(d);
  for (int16_t device = 1; device <= kDdkDevices; ++device) {
    const DeviceDescription& dev = d.devices[static_cast<size_t>(device)];
    if (!dev.present && (!dev.inputs.empty() || dev.foot_switches[0] || dev.foot_switches[1])) {
      std::abort();
    }
    for (const auto& names : dev.foot_switches) {
      if (names) CheckNames(*names);
    }
    for (const auto& [number, input] : dev.inputs) {
      if (number < 1 || number > kDdkInputs) std::abort();
      CheckNames(input.names);
      CheckRoundTrip(input.value);
      double value = 0;
      // Without readers of real devices a serial input has no value.
      const int16_t expected = input.serial ? kStatusNoValue : input.status;
      if (simulation.Value(device, static_cast<int16_t>(number), value) != expected) {
        std::abort();
      }
    }
  }

  // Each operator command answers one line starting with OK or ERR.
  size_t start = 0;
  for (int lines = 0; start < bytes.size() && lines < 200; ++lines) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string answer = simulation.Execute(bytes.substr(start, end - start));
    if (!(answer.starts_with("OK") || answer.starts_with("ERR"))) std::abort();
    if (answer.find('\n') != std::string::npos) std::abort();
    start = end + 1;
  }
  return 0;
}
