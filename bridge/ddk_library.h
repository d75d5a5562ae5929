// The device library loaded at run time: the real IDeviceLibrary of the program.
#pragma once

#include <string>

#include "device_library.h"
#include "velk_ddk.h"

// Loads the gauge driver library with dlopen on the first call of any of the nine functions.
// Without a path it looks, in this order, at the file named by the environment variable
// VELK_DDK_LIBRARY (only there, when it is set and not empty), at libVelk_DDK.so beside the
// program's executable, and at libVelk_DDK.so on the system loader path.
//
// When the library or one of its functions cannot be loaded the reason goes to standard error
// once, and the missing functions report failure: Device_Init returns 1, Device_Value -1,
// Device_Trigger 0, Device_Collect 1, Device_GetName 1; the others do nothing. The library is
// never unloaded (it may run threads of its own), so it stays mapped until the process ends.
// Calls in any order are passed on; the wrapper itself enforces none.
class DdkLibrary : public IDeviceLibrary {
 public:
  DdkLibrary();
  // Loads exactly the library at path (a name without '/' goes through the loader path).
  explicit DdkLibrary(std::string path);
  DdkLibrary(const DdkLibrary&) = delete;
  DdkLibrary& operator=(const DdkLibrary&) = delete;

  // Loads the library now if that has not been tried yet. Returns true when the library and
  // all nine functions were found.
  bool Load();
  // The file the library was loaded from; empty while it is not loaded.
  const std::string& loaded_path() const { return loaded_path_; }

  void Device_PreInit() override;
  int16_t Device_Init(int16_t lang, const std::string& ddk, int32_t window) override;
  void Device_DeInit() override;
  // The name is the buffer's text up to its terminating zero; a library that writes no zero
  // gives all 200 bytes without trailing blanks.
  int16_t Device_GetName(int16_t lang, const std::string& ddk, int16_t device, int16_t kind,
                         int16_t number, std::string& name) override;
  void Device_Setup(int16_t lang, const std::string& ddk, int32_t window) override;
  int16_t Device_Value(int16_t device, int16_t input, double& value) override;
  int16_t Device_Trigger(int16_t device, int16_t input) override;
  int16_t Device_Collect(int16_t device, int16_t& input, double& value) override;
  void Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper,
                         double lower) override;
  // Through the optional export Device_Source; false when the library lacks it.
  bool Device_Source(int16_t device, int16_t input, std::string& source, int32_t& age_ms) override;
  // Through the optional export Device_Unit; false when the library lacks it.
  bool Device_Unit(const std::string& ddk, int16_t device, int16_t input,
                   std::string& unit) override;

 private:
  struct Functions {
    decltype(&::Device_PreInit) pre_init = nullptr;
    decltype(&::Device_Init) init = nullptr;
    decltype(&::Device_DeInit) de_init = nullptr;
    decltype(&::Device_GetName) get_name = nullptr;
    decltype(&::Device_Setup) setup = nullptr;
    decltype(&::Device_Value) value = nullptr;
    decltype(&::Device_Trigger) trigger = nullptr;
    decltype(&::Device_Collect) collect = nullptr;
    decltype(&::Device_LimitCheck) limit_check = nullptr;
    decltype(&::Device_Source) source = nullptr;  // optional
    decltype(&::Device_Unit) unit = nullptr;      // optional
  };

  const Functions& Use();

  std::string path_;  // empty: the default search order
  bool tried_ = false;
  bool complete_ = false;
  std::string loaded_path_;
  Functions functions_;
};
