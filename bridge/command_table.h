// The command table: every configured command and answer text converted once, so that the
// poll cycle and the trigger block only compare and look up.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device_library.h"
#include "settings_record.h"
#include "value_events.h"

// The table has the bounds of the settings' input array; addresses 1..200 are filled.
constexpr int kTableDevices = kDeviceCount;
constexpr int kTableAddresses = kInputCount;
constexpr int kFirstDevice = kFirstStoredDevice;
constexpr int kLastDevice = kLastStoredDevice;
constexpr int kLastAddress = 200;
constexpr int kKinds = kChannelCommands;
constexpr int kExtraCommands = kTableCommands;
constexpr double kUpperLimitStart = 999999.999999;
constexpr double kLowerLimitStart = -999999.999999;

// Limit indexes j of an entry.
enum LimitIndex { USL = 1, UCL = 2, LCL = 3, LSL = 4 };

struct CommandEntry {
  std::array<std::string, kKinds + 1> SingleCommand;  // 1..7
  std::array<int, kKinds + 1> SingleLength{};         // 0 = none
  std::array<std::string, 5> LimitCommand;            // USL..LSL
  std::array<int, 5> LimitLength{};
  std::array<double, 5> LimitValue{};
  int16_t Active = 0;
  int16_t FootSwitch = 0;
  int16_t DataKey = 0;
  const GaugeLabel* Label = nullptr;  // the input's name and unit; null while not in use
};

// Returns the limits of e that a client set: each of USL, UCL, LCL and LSL unless it is at a
// start value (+-999999.999999, also where a cross check of two limits put it). Returns no
// limits for an entry not in use.
ValueLimits LimitsInForce(const CommandEntry& e);

struct TriggerInput {
  int16_t device = 0;  // 0 = none
  int16_t input = 0;
};

// Lengths are the byte counts of the texts (int, so no text is ever too long to count).
struct CommandTab {
  CommandTab();

  std::array<std::string, kKinds + 1> AllCommand;  // 1..7
  std::array<int, kKinds + 1> AllLength{};         // 0 = kind off
  std::vector<CommandEntry> entries;               // kTableDevices x kTableAddresses
  std::array<int16_t, 11> DeviceUsed{};            // 0..10
  std::string FsQuery, FsAnswerUp, FsAnswerDown;
  std::array<TriggerInput, 4> FsTrigger{};  // 1..3
  std::array<std::string, kExtraCommands + 1> ExtraCommand;
  std::array<int, kExtraCommands + 1> ExtraLength{};
  std::array<std::string, kExtraCommands + 1> ExtraAnswer;
  std::string OkAnswer, UndefAnswer, EndText, SeparatorText;

  // Entry (d, a); d must be 0..9 and a 0..201.
  CommandEntry& Entry(int d, int a) {
    return entries[static_cast<size_t>(d * kTableAddresses + a)];
  }
  const CommandEntry& Entry(int d, int a) const {
    return entries[static_cast<size_t>(d * kTableAddresses + a)];
  }
};

// Rebuilds tab from s: commands, entries (all limits back to their start values; the name and
// unit of each input in use, asked of device once, in English), devices in
// use, foot-switch triggers (asking device for the foot switches it has), additional commands
// and the answer texts. An AddInputAdr1/AddInputAdr2 that is not "device.input" with two whole
// numbers, or names a device outside 1..8, gives no trigger. Never fails.
void CreateCommandTab(CommandTab& tab, const SettingsRecord& s, IDeviceLibrary& device);
