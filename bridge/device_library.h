// The program's side of the gauge driver library: the nine calls the engine makes.
#pragma once

#include <cstdint>
#include <string>

// The engine talks to the device library only through this interface, so the real dlopen
// wrapper stands behind it and a test may substitute a scripted library.
class IDeviceLibrary {
 public:
  virtual ~IDeviceLibrary() = default;
  virtual void Device_PreInit() = 0;
  // Returns 0 when the devices are ready, nonzero otherwise (also when the library is missing).
  virtual int16_t Device_Init(int16_t lang, const std::string& ddk, int32_t window) = 0;
  virtual void Device_DeInit() = 0;
  // Returns 0 when the item exists and then sets name; nonzero otherwise.
  virtual int16_t Device_GetName(int16_t lang, const std::string& ddk, int16_t device, int16_t kind,
                                 int16_t number, std::string& name) = 0;
  virtual void Device_Setup(int16_t lang, const std::string& ddk, int32_t window) = 0;
  // Returns the device status (0 valid, 136 out of range, >0 no value, <0 no answer).
  virtual int16_t Device_Value(int16_t device, int16_t input, double& value) = 0;
  // Returns above 0 while the foot switch is pressed, 0 otherwise.
  virtual int16_t Device_Trigger(int16_t device, int16_t input) = 0;
  // Returns 0 when a data-key value was waiting; input and value are then set. The input
  // is passed through as the library returns it: callers must check it with
  // IsValidCollectInput before indexing anything with it.
  virtual int16_t Device_Collect(int16_t device, int16_t& input, double& value) = 0;
  virtual void Device_LimitCheck(int16_t device, int16_t input, int16_t kind, double upper,
                                 double lower) = 0;
  // Where the input's values come from: "simulated" or "serial PATH"; age_ms is the age of the
  // gauge's last reading (0 simulated, -1 none yet). Returns false, leaving both untouched,
  // when the library cannot tell (it lacks the call, or the input is unknown).
  virtual bool Device_Source(int16_t device, int16_t input, std::string& source, int32_t& age_ms) {
    (void)device;
    (void)input;
    (void)source;
    (void)age_ms;
    return false;
  }
  // The unit of the input's values as the device file ddk gives it ("mm"; empty when it gives
  // none). Returns false, leaving unit untouched, when the library cannot tell (it lacks the
  // call, or the input is unknown).
  virtual bool Device_Unit(const std::string& ddk, int16_t device, int16_t input,
                           std::string& unit) {
    (void)ddk;
    (void)device;
    (void)input;
    (void)unit;
    return false;
  }
};

// True when an input number returned by Device_Collect can index a device input (1..200).
inline bool IsValidCollectInput(int16_t input) { return input >= 1 && input <= 200; }
