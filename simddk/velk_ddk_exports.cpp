// The exported functions of the simulated gauge interface library: the nine of the interface
// and the optional Device_Source and Device_Unit.
#include <sys/stat.h>

#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>

#include "ddk_description.h"
#include "operator_socket_server.h"
#include "real_devices.h"
#include "repeated_report.h"
#include "simulation.h"
#include "velk_ddk.h"

namespace {

// Identity of a file version, so that an unchanged file is not read (and reported) twice.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

FileStamp StampOf(const std::string& path) {
  struct stat info {};
  FileStamp stamp;
  if (stat(path.c_str(), &info) == 0) {
    stamp = {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  }
  return stamp;
}

// Everything the exports share; members are destroyed in reverse order, so the control
// thread and the readers of real devices stop before the simulation they drive goes away (at
// unload and at exit).
struct Library {
  std::mutex mutex;  // serialises the exported calls that read files or start and stop
  // Dropped data-key values of a gauge that pushes while no client reads: counted, not one
  // line each.
  RepeatedReport drops{std::cerr, std::chrono::seconds(10)};
  Simulation simulation;
  RealDevices real;
  std::string path;
  FileStamp stamp;
  std::optional<DdkDescription> description;
  bool started = false;  // between a successful Device_Init and Device_DeInit
  OperatorSocketServer server;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

// Returns the description of the file at path, reading it when forced, when another file was
// read last or when the file changed since.
const DdkDescription& Describe(Library& lib, const std::string& path, bool force) {
  FileStamp stamp = StampOf(path);
  if (force || !lib.description || lib.path != path || !(lib.stamp == stamp)) {
    lib.description = ReadDdkFile(path, std::cerr);
    lib.path = path;
    lib.stamp = stamp;
  }
  return *lib.description;
}

void StopDevices(Library& lib) {
  lib.server.Stop();
  lib.simulation.Stop();
  lib.real.Stop();
  lib.drops.Flush();
  lib.started = false;
}

void StartDevices(Library& lib, const DdkDescription& description) {
  StopDevices(lib);
  Simulation* sink = &lib.simulation;
  RepeatedReport* drops = &lib.drops;
  lib.real.Start(description, [sink, drops](int16_t device, int16_t input, double value) {
    if (!sink->QueueDataKey(device, input, value)) {
      drops->Report("Velk_DDK: data-key value of input " + std::to_string(device) + "." +
                    std::to_string(input) + " dropped (queue full or device unplugged)");
    }
  });
  lib.simulation.Start(description, &lib.real);
  lib.started = true;
  std::string error;
  Simulation* simulation = &lib.simulation;
  if (!lib.server.Start(
          description.socket_path,
          [simulation](std::string_view command) { return simulation->Execute(command); }, error)) {
    std::cerr << "Velk_DDK: " << error << "; live control is off\n";
  }
}

}  // namespace

extern "C" {

void Device_PreInit(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}

int16_t Device_Init(int16_t, char* ddk, int32_t, int32_t) {
  Library& lib = TheLibrary();
  std::lock_guard lock(lib.mutex);
  StopDevices(lib);
  if (!ddk) return 1;
  const DdkDescription& description = Describe(lib, ddk, false);
  if (!description.readable) return 1;
  if (!description.HasDevices()) {
    std::cerr << "Velk_DDK: " << ddk << " describes no device\n";
    return 2;
  }
  StartDevices(lib, description);
  return 0;
}

void Device_DeInit(void) {
  Library& lib = TheLibrary();
  std::lock_guard lock(lib.mutex);
  StopDevices(lib);
}

int16_t Device_GetName(int16_t lang, char* ddk, int16_t device, int16_t kind, int16_t number,
                       char* buffer) {
  if (!ddk || !buffer || device < 1 || device > kDdkDevices) return 1;
  Library& lib = TheLibrary();
  std::lock_guard lock(lib.mutex);
  const DeviceDescription& d = Describe(lib, ddk, false).devices[device];
  if (!d.present) return 1;
  const ItemNames* names = nullptr;
  if (kind == 1 && number >= 0 && number < kDdkFootSwitches && d.foot_switches[number]) {
    names = &*d.foot_switches[number];
  } else if (kind == 2) {
    auto it = d.inputs.find(number);
    if (it != d.inputs.end()) names = &it->second.names;
  }
  if (!names) return 1;
  const std::string& name = names->ForLanguage(lang);
  const size_t length = std::min(name.size(), static_cast<size_t>(VELK_DDK_NAME_SIZE - 1));
  memcpy(buffer, name.data(), length);
  buffer[length] = '\0';
  return 0;
}

void Device_Setup(int16_t, char* ddk, int32_t, char*) {
  if (!ddk) return;
  Library& lib = TheLibrary();
  std::lock_guard lock(lib.mutex);
  const DdkDescription& description = Describe(lib, ddk, true);
  // Running devices take the new description at once, as a real set-up dialog would.
  if (lib.started && description.HasDevices()) StartDevices(lib, description);
}

int16_t Device_Value(int16_t device, int16_t input, double* value) {
  double v = 0.0;
  int16_t status = TheLibrary().simulation.Value(device, input, v);
  if (!value) return kStatusNoAnswer;
  *value = v;
  return status;
}

int16_t Device_Trigger(int16_t device, int16_t input, int16_t) {
  return TheLibrary().simulation.Trigger(device, input);
}

int16_t Device_Collect(int16_t device, int16_t* input, double* value) {
  if (!input || !value) return 1;
  return TheLibrary().simulation.Collect(device, *input, *value);
}

void Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper, double lower,
                       int16_t) {
  TheLibrary().simulation.LimitCheck(device, input, kind, upper, lower);
}

int16_t Device_Unit(char* ddk, int16_t device, int16_t input, char* text, int32_t size) {
  static_assert(kDdkUnitMax < VELK_DDK_UNIT_SIZE);
  if (!ddk || !text || size < 1 || device < 1 || device > kDdkDevices) return 1;
  Library& lib = TheLibrary();
  std::lock_guard lock(lib.mutex);
  const DeviceDescription& d = Describe(lib, ddk, false).devices[device];
  auto it = d.inputs.find(input);
  if (!d.present || it == d.inputs.end()) return 1;
  const std::string& unit = it->second.unit;
  const size_t length = std::min(unit.size(), static_cast<size_t>(size - 1));
  memcpy(text, unit.data(), length);
  text[length] = '\0';
  return 0;
}

int16_t Device_Source(int16_t device, int16_t input, char* text, int32_t size, int32_t* age_ms) {
  if (!text || size < 1 || !age_ms) return 1;
  std::string source;
  int32_t age = -1;
  if (!TheLibrary().simulation.Source(device, input, source, age)) return 1;
  const size_t length = std::min(source.size(), static_cast<size_t>(size - 1));
  memcpy(text, source.data(), length);
  text[length] = '\0';
  *age_ms = age;
  return 0;
}

}  // extern "C"
