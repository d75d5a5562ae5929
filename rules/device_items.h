// The foot switches and measuring inputs the device library reports, as the setup window lists
// them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_library.h"

// The device file passed to every call of the device library.
inline constexpr const char* kDdkFileName = "Velk_VCP.DDK";

// Highest input number of a device that the setup window lists.
constexpr int kLastListedInput = 120;

// One measuring input; its place in the list is its running number minus one.
struct DeviceInput {
  int16_t device = 0;
  int16_t number = 0;
  std::string name;  // as the library returned it (Windows-1252)
};

// Returns the language selector for the device library: language text 999 read as a number.
// Returns 0 when the text holds no number that fits a 16-bit integer.
int16_t DeviceLanguage();

// Returns the inputs of devices 1..8, inputs 1..120 each, for which Device_GetName of kind 2
// succeeds, in that order. An unloadable library reports none.
std::vector<DeviceInput> ListDeviceInputs(IDeviceLibrary& library, int16_t language);

// Returns the foot-switch entries "Device d  -  name" for devices 1..8 and switches 0..1 each,
// for which Device_GetName of kind 1 succeeds, in that order.
std::vector<std::string> ListFootSwitches(IDeviceLibrary& library, int16_t language);
