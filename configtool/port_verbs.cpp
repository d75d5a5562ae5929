// presets, preset, input, ports, hotkey, shared-ports and every-port: the command format, the
// inputs and the simulated ports.
#include <iostream>
#include <memory>
#include <vector>

#include "arguments.h"
#include "ddk_library.h"
#include "device_items.h"
#include "format_choice.h"
#include "language_file.h"
#include "presets.h"
#include "settings_checks.h"
#include "settings_summary.h"
#include "text_encoding.h"
#include "verb_definitions.h"

namespace {

// Warns when the device library names no input D.A; the setting is stored all the same.
void WarnWhenNotInDeviceFile(int device, int input) {
  LoadLanguage(Settings.LanguageNo);
  DdkLibrary library;
  std::string name;
  if (library.Device_GetName(DeviceLanguage(), kDdkFileName, static_cast<int16_t>(device), 2,
                             static_cast<int16_t>(input), name) != 0) {
    std::cerr << "velk-vcp-config: input " << device << "." << input
              << ": the device file has no such input; stored all the same\n";
  }
}

}  // namespace

VerbAction DefinePresets(CLI::App&) {
  return ReadAction([] {
    for (const PresetEntry& entry : PresetCatalogue("own command format")) {
      if (entry.number == kOwnCommandFormat) continue;
      std::cout << entry.number << "  " << Cp1252ToUtf8(entry.name) << "\n";
    }
    return 0;
  });
}

VerbAction DefinePreset(CLI::App& command) {
  auto preset = std::make_shared<int>(0);
  command.add_option("N", *preset, "preset number (see presets)")->required();
  return ChangeAction([preset] {
    bool listed = false;
    for (const PresetEntry& entry : PresetCatalogue("")) {
      listed = listed || (entry.number == *preset && *preset != kOwnCommandFormat);
    }
    if (!listed) throw UsageError{"preset " + std::to_string(*preset) + ": no such preset here"};
    LoadLanguage(Settings.LanguageNo);
    DdkLibrary library;
    const std::vector<DeviceInput> inputs = ListDeviceInputs(library, DeviceLanguage());
    if (inputs.empty()) {
      std::cerr << "velk-vcp-config: the device library lists no input; every input is off\n";
    }
    ChooseCommandFormat(Settings, static_cast<int16_t>(*preset), inputs);
  });
}

VerbAction DefineInput(CLI::App& command) {
  struct Arguments {
    std::string input, state, commandAddress, valueAddress;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("D.A", a->input, "device and input, e.g. 1.3")->required();
  command.add_option("STATE", a->state, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  CLI::Option* commandOption =
      command.add_option("COMMAND_ADDRESS", a->commandAddress, "address in commands");
  CLI::Option* valueOption =
      command.add_option("VALUE_ADDRESS", a->valueAddress, "address in answers");
  return ChangeAction([a, commandOption, valueOption] {
    const auto [device, number] = InputAddress(a->input);
    InputRecord& input = Settings.Inputs[device][number];
    if (commandOption->count() > 0) input.CommandAdr = EngineText(a->commandAddress);
    if (valueOption->count() > 0) input.MeaValAdr = EngineText(a->valueAddress);
    if (commandOption->count() + valueOption->count() > 0) {
      const std::string problem = InputAddressProblem(Settings, device, number);
      if (!problem.empty()) throw UsageError{problem};
    }
    input.State = OnOff(a->state) ? 1 : 0;
    if (input.State == 1) WarnWhenNotInDeviceFile(device, number);
  });
}

VerbAction DefinePorts(CLI::App& command) {
  auto numbers = std::make_shared<std::vector<int>>();
  command.add_option("N", *numbers, "COM number 0..16 of port 1, 2, 3, 4")
      ->required()
      ->expected(1, 4)
      ->check(CLI::Range(0, 16));
  return ChangeAction([numbers] {
    const std::vector<int>& portNumbers = *numbers;
    int16_t* fields[4] = {&Settings.VcpCom1, &Settings.VcpCom2, &Settings.VcpCom3,
                          &Settings.VcpCom4};
    for (size_t k = 0; k < 4; ++k) {
      *fields[k] = static_cast<int16_t>(k < portNumbers.size() ? portNumbers[k] : 0);
    }
    const std::string problem = PortsProblem(Settings);
    if (!problem.empty()) throw UsageError{problem};
    // Port 1 off with the others off as well is no problem of the settings, but of the
    // arguments: they asked for several ports.
    if (portNumbers.size() > 1 && portNumbers[0] == 0) {
      throw UsageError{"ports: several ports need a COM number for port 1"};
    }
  });
}

VerbAction DefineHotkey(CLI::App& command) {
  struct Arguments {
    int slot = 0;
    std::string key;
  };
  auto a = std::make_shared<Arguments>();
  command.add_option("SLOT", a->slot, "port 1..4")->required()->check(CLI::Range(1, 4));
  command.add_option("KEY", a->key, "none, Fn, Ctrl+Fn, Alt+Fn or Alt+Ctrl+Fn")->required();
  return ChangeAction([a] {
    const int index = HotKeyIndex(a->key);
    if (index < 0) throw UsageError{"hotkey: " + a->key + " is no hot key"};
    int16_t* fields[4] = {&Settings.HotKey1, &Settings.HotKey2, &Settings.HotKey3,
                          &Settings.HotKey4};
    *fields[a->slot - 1] = static_cast<int16_t>(index);
  });
}

VerbAction DefineSharedPorts(CLI::App& command) {
  auto state = AddStateArgument(command);
  return ChangeAction([state] { Settings.SharedPorts = OnOff(*state) ? 1 : 0; });
}

VerbAction DefineEveryPort(CLI::App& command) {
  auto state = AddStateArgument(command);
  return ChangeAction([state] { Settings.AnswerEveryPort = OnOff(*state) ? 1 : 0; });
}
