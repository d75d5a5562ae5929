// velk-vcp-config: reads and changes the settings file of a Velk_VCP working folder with the
// program's own readers and writers. Exit status: 0 done, 1 a file could not be read or
// written, 2 bad arguments (nothing changed), 3 a program runs in the folder or another tool
// kept it busy (nothing changed); status and serve talk to the program running in the folder:
// 4 none runs there, 5 it refused this user.
#include <errno.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "configuration_name.h"
#include "control_client.h"
#include "control_server.h"
#include "ddk_library.h"
#include "device_items.h"
#include "endpoint_config.h"
#include "folder_lock.h"
#include "format_choice.h"
#include "history_query.h"
#include "key_value_file.h"
#include "language_file.h"
#include "mqtt_url.h"
#include "presets.h"
#include "settings_file.h"
#include "settings_summary.h"
#include "status_text.h"
#include "text_encoding.h"
#include "utc_time.h"
#include "value_csv.h"
#include "value_history.h"
#include "value_json.h"
#include "working_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFileError = 1;
constexpr int kUsageError = 2;
constexpr int kProgramRunning = 3;
// How long a tool waits for another one that changes the same folder.
constexpr std::chrono::seconds kToolPatience{30};
constexpr int kNoProgram = 4;
constexpr int kRefused = 5;

// A bad argument found after parsing: reported like a parse error.
struct UsageError {
  std::string message;
};

bool OnOff(const std::string& word) { return word == "on"; }

// Parses "D.A" into device 1..8 and input 1..199.
std::pair<int, int> InputAddress(const std::string& text) {
  int device = 0, input = 0;
  char dot = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &device, &dot, &input, &extra) != 3 || dot != '.' ||
      device < kFirstStoredDevice || device > kLastStoredDevice || input < 1 ||
      input > kLastStoredInput) {
    throw UsageError{"input " + text + ": give DEVICE.INPUT, device 1..8, input 1..199"};
  }
  return {device, input};
}

std::string EngineText(const std::string& utf8) { return Utf8ToCp1252(utf8); }

// Returns the absolute form of a file named on the command line relative to base, the folder
// the tool was called in (the tool and the program work in the working folder). Refuses
// (UsageError) a file that is not there.
std::string ReadableFile(const std::string& what, const fs::path& base, const std::string& path) {
  std::error_code ec;
  const fs::path absolute = base / path;
  if (ec || !fs::is_regular_file(absolute, ec)) {
    throw UsageError{what + " " + path + ": no such file"};
  }
  return absolute.string();
}

// Prints the stored value events that pass filter as CSV or JSON lines. Returns the exit
// status.
int PrintValues(const HistoryFilter& filter, bool json) {
  if (!fs::exists(kHistoryFileName)) {
    std::cerr << "velk-vcp-config: no value history here (velk-vcp-config history on)\n";
    return kFileError;
  }
  if (!json) std::cout << ValueCsvHeader();
  std::string error;
  const bool ok = ReadHistory(
      kHistoryFileName, filter,
      [json](const NumberedEvent& e) {
        if (json) {
          std::cout << ValueEventJson(e) << "\n";
        } else {
          std::cout << ValueCsvLine(e);
        }
      },
      error);
  std::cout.flush();
  if (!ok) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  return 0;
}

// Returns text in the settings file's encoding. Refuses (UsageError naming what) a text with a
// line break or another control byte: a settings line cannot hold it, and it would start keys
// of its own.
std::string LineText(const std::string& what, const std::string& utf8) {
  for (const char c : utf8) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) {
      throw UsageError{what + ": line breaks and other control characters cannot be stored"};
    }
  }
  return EngineText(utf8);
}

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

// Sends request to the program running in the current folder and hands its answer to done;
// reports on standard error and returns the exit status when there is no answer or the
// program refuses.
int AskRunningProgram(const std::string& request,
                      const std::function<int(const nlohmann::json&, const std::string&)>& done) {
  const std::string folder = fs::current_path().string();
  const ControlReply reply = AskProgram(kControlSocketName, request);
  switch (reply.result) {
    case ControlReply::kNoProgram:
      std::cerr << "velk-vcp-config: no Velk_VCP runs in " << folder << "\n";
      return kNoProgram;
    case ControlReply::kRefused:
      std::cerr << "velk-vcp-config: the Velk_VCP in " << folder
                << " belongs to another user: refused (" << reply.text << ")\n";
      return kRefused;
    case ControlReply::kFailed:
      std::cerr << "velk-vcp-config: Velk_VCP in " << folder << ": " << reply.text << "\n";
      return kFileError;
    case ControlReply::kAnswered:
      break;
  }
  const nlohmann::json answer = nlohmann::json::parse(reply.text, nullptr, false);
  if (!answer.is_object()) {
    std::cerr << "velk-vcp-config: Velk_VCP in " << folder << " gave no answer it can read\n";
    return kFileError;
  }
  if (answer.value("ok", false) != true) {
    const std::string error = answer.value("error", std::string("refused"));
    std::cerr << "velk-vcp-config: " << error << "\n";
    return error.rfind("refused", 0) == 0 ? kRefused : kUsageError;
  }
  return done(answer, reply.text);
}

bool ReadCurrentSettings();

// While the program runs in the folder: writes the changed settings file and has the program
// take it over ("reload"); when it cannot, the file is as it was and the program's reason is
// reported. Returns the exit status.
int ChangeThroughProgram(const std::string& here, const std::function<void()>& change) {
  std::string before;
  {
    std::ifstream in(kSettingsFileName, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    before = text.str();
  }
  if (!ReadCurrentSettings()) return kFileError;
  change();
  if (!WriteSettings()) return kFileError;
  const int status =
      AskRunningProgram("reload", [](const nlohmann::json&, const std::string&) { return 0; });
  if (status == 0) return 0;
  std::string error;
  if (!WriteFileAtomically(kSettingsFileName, before, error)) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  std::cerr << "velk-vcp-config: the Velk_VCP in " << here
            << " kept its settings; nothing changed\n";
  return status == kNoProgram || status == kUsageError ? kProgramRunning : status;
}

// Reads the settings file as the program does at start; without a file, the start values.
bool ReadCurrentSettings() {
  if (fs::exists(kSettingsFileName)) return ReadSettings();
  SetDefaultSettings(Settings);
  Settings.CommandFormat = 0;
  LoadPreset(Settings);
  return true;
}

// Enters the working folder, takes its lock for a change, and runs the command. Returns the
// exit status; a bad argument found late throws UsageError.
int Run(const std::string& dir, bool userFolder, const std::function<void()>& change,
        const std::function<int()>& read, const std::function<int()>& ask) {
  std::string error;
  WorkingFolder folder;
  if (!EnterWorkingFolder(dir, userFolder, folder, error)) {
    std::cerr << "velk-vcp-config: " << error << "\n";
    return kFileError;
  }
  if (ask) return ask();
  const std::string here = folder.path.string();
  FolderLock lock;
  if (change) {
    switch (lock.HoldForTool(".", kToolPatience)) {
      case FolderLock::ToolResult::Held:
        break;
      case FolderLock::ToolResult::ProgramRuns:
        return ChangeThroughProgram(here, change);
      case FolderLock::ToolResult::ToolBusy:
        std::cerr << "velk-vcp-config: another velk-vcp-config has been changing " << here
                  << " for " << kToolPatience.count() << " s; try again later\n";
        return kProgramRunning;
      case FolderLock::ToolResult::Failed:
        std::cerr << "velk-vcp-config: cannot lock " << here << ": " << std::strerror(errno)
                  << "\n";
        return kFileError;
    }
  }
  if (!ReadCurrentSettings()) return kFileError;
  if (read) return read();
  change();
  return WriteSettings() ? 0 : kFileError;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Reads and changes the settings of Velk_VCP in a working folder: the current folder when "
      "it holds Velk_VCP.CFG or VCP001.LAN, otherwise the per-user folder."};
  app.name("velk-vcp-config");
  app.set_version_flag("--version", VELK_VERSION);
  app.require_subcommand(1, 1);
  app.footer(
      "Environment: XDG_DATA_HOME, HOME (where the per-user folder lies), VELK_DDK_LIBRARY\n"
      "(the device library that lists the inputs for preset).\n"
      "Exit status: 0 done, 1 a file could not be read or written, 2 bad arguments (nothing\n"
      "changed), 3 the running Velk_VCP could not take the change over, or another\n"
      "velk-vcp-config changed the folder for 30 s\n"
      "(nothing changed), 4 no Velk_VCP runs in the folder (status, serve), 5 the Velk_VCP\n"
      "there refused this user.");
  std::string dir;
  bool userFolder = false;
  auto* dirOption = app.add_option("--dir", dir, "work in folder DIR")->type_name("DIR");
  app.add_flag("--user-folder", userFolder, "work in the per-user folder")->excludes(dirOption);

  // Each changing command fills change; reading commands fill read; commands for the running
  // program fill ask.
  std::function<void()> change;
  std::function<int()> read;
  std::function<int()> ask;

  bool statusJson = false;
  auto* statusCommand = app.add_subcommand(
      "status", "what the program running in the folder serves, who holds its ports, its gauges");
  statusCommand->add_flag("--json", statusJson, "the status as JSON (one line)");
  statusCommand->callback([&] {
    ask = [&] {
      return AskRunningProgram("status",
                               [&](const nlohmann::json& answer, const std::string& line) {
                                 std::cout << (statusJson ? line + "\n" : StatusText(answer));
                                 return 0;
                               });
    };
  });

  int serveSlot = 0;
  auto* serveCommand = app.add_subcommand(
      "serve", "let the running program serve port SLOT, as the slot's hot key does");
  serveCommand->add_option("SLOT", serveSlot, "port 1..4")->required()->check(CLI::Range(1, 4));
  serveCommand->callback([&] {
    ask = [&] {
      return AskRunningProgram("serve " + std::to_string(serveSlot),
                               [](const nlohmann::json& answer, const std::string&) {
                                 std::cout << "serving port slot " << answer.value("served_slot", 0)
                                           << "\n";
                                 return 0;
                               });
    };
  });

  app.add_subcommand("show", "print the settings in words")->callback([&] {
    read = [] {
      std::error_code ec;
      std::cout << "folder: " << fs::current_path(ec).string() << "\n" << SettingsSummary(Settings);
      return 0;
    };
  });
  app.add_subcommand("presets", "list the command-format presets of the folder")->callback([&] {
    read = [] {
      for (const PresetEntry& entry : PresetCatalogue("own command format")) {
        if (entry.number == kOwnCommandFormat) continue;
        std::cout << entry.number << "  " << Cp1252ToUtf8(entry.name) << "\n";
      }
      return 0;
    };
  });

  int preset = 0;
  auto* presetCommand =
      app.add_subcommand("preset", "choose command-format preset N, with its default addresses");
  presetCommand->add_option("N", preset, "preset number (see presets)")->required();
  presetCommand->callback([&] {
    change = [&] {
      bool listed = false;
      for (const PresetEntry& entry : PresetCatalogue("")) {
        listed = listed || (entry.number == preset && preset != kOwnCommandFormat);
      }
      if (!listed) throw UsageError{"preset " + std::to_string(preset) + ": no such preset here"};
      LoadLanguage(Settings.LanguageNo);
      DdkLibrary library;
      const std::vector<DeviceInput> inputs = ListDeviceInputs(library, DeviceLanguage());
      if (inputs.empty()) {
        std::cerr << "velk-vcp-config: the device library lists no input; every input is off\n";
      }
      ChooseCommandFormat(Settings, static_cast<int16_t>(preset), inputs);
    };
  });

  std::string inputText, inputState, commandAddress, valueAddress;
  auto* inputCommand = app.add_subcommand(
      "input", "switch input D.A on or off, optionally with its command and value address");
  inputCommand->add_option("D.A", inputText, "device and input, e.g. 1.3")->required();
  inputCommand->add_option("STATE", inputState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  auto* commandOption =
      inputCommand->add_option("COMMAND_ADDRESS", commandAddress, "address in commands");
  auto* valueOption = inputCommand->add_option("VALUE_ADDRESS", valueAddress, "address in answers");
  inputCommand->callback([&] {
    change = [&] {
      const auto [device, number] = InputAddress(inputText);
      InputRecord& input = Settings.Inputs[device][number];
      if (commandOption->count() > 0) input.CommandAdr = LineText("input", commandAddress);
      if (valueOption->count() > 0) input.MeaValAdr = LineText("input", valueAddress);
      input.State = OnOff(inputState) ? 1 : 0;
      if (input.State == 1) WarnWhenNotInDeviceFile(device, number);
    };
  });

  std::vector<int> portNumbers;
  auto* portsCommand =
      app.add_subcommand("ports", "simulate COM numbers on ports 1..4 (0: first free / off)");
  portsCommand->add_option("N", portNumbers, "COM number 0..16 of port 1, 2, 3, 4")
      ->required()
      ->expected(1, 4)
      ->check(CLI::Range(0, 16));
  portsCommand->callback([&] {
    change = [&] {
      for (size_t a = 0; a < portNumbers.size(); ++a) {
        for (size_t b = a + 1; b < portNumbers.size(); ++b) {
          if (portNumbers[a] != 0 && portNumbers[a] == portNumbers[b]) {
            throw UsageError{"ports: COM" + std::to_string(portNumbers[a]) + " given twice"};
          }
        }
      }
      if (portNumbers.size() > 1 && portNumbers[0] == 0) {
        throw UsageError{"ports: several ports need a COM number for port 1"};
      }
      int16_t* fields[4] = {&Settings.VcpCom1, &Settings.VcpCom2, &Settings.VcpCom3,
                            &Settings.VcpCom4};
      for (size_t k = 0; k < 4; ++k) {
        *fields[k] = static_cast<int16_t>(k < portNumbers.size() ? portNumbers[k] : 0);
      }
    };
  });

  int slot = 0;
  std::string keyName;
  auto* hotkeyCommand =
      app.add_subcommand("hotkey", "give port SLOT the hot key KEY (F1, Ctrl+F2, Alt+F3, ...)");
  hotkeyCommand->add_option("SLOT", slot, "port 1..4")->required()->check(CLI::Range(1, 4));
  hotkeyCommand->add_option("KEY", keyName, "none, Fn, Ctrl+Fn, Alt+Fn or Alt+Ctrl+Fn")->required();
  hotkeyCommand->callback([&] {
    change = [&] {
      const int index = HotKeyIndex(keyName);
      if (index < 0) throw UsageError{"hotkey: " + keyName + " is no hot key"};
      int16_t* fields[4] = {&Settings.HotKey1, &Settings.HotKey2, &Settings.HotKey3,
                            &Settings.HotKey4};
      *fields[slot - 1] = static_cast<int16_t>(index);
    };
  });

  std::string logState;
  auto* logCommand = app.add_subcommand("log", "switch the activity log on or off");
  logCommand->add_option("STATE", logState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  logCommand->callback([&] { change = [&] { Settings.LogOn = OnOff(logState) ? 1 : 0; }; });

  app.add_subcommand("reload", "have the running program take over the settings file anew")
      ->callback([&] {
        ask = [&] {
          return AskRunningProgram("reload",
                                   [](const nlohmann::json&, const std::string&) { return 0; });
        };
      });

  std::string sharedState;
  auto* sharedCommand = app.add_subcommand(
      "shared-ports", "let several programs hold one port at once (off: one client per port)");
  sharedCommand->add_option("STATE", sharedState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  sharedCommand->callback(
      [&] { change = [&] { Settings.SharedPorts = OnOff(sharedState) ? 1 : 0; }; });

  std::string everyPortState;
  auto* everyPortCommand = app.add_subcommand(
      "every-port",
      "answer each port's client at any time, not only the served port's (pushes: served only)");
  everyPortCommand->add_option("STATE", everyPortState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  everyPortCommand->callback(
      [&] { change = [&] { Settings.AnswerEveryPort = OnOff(everyPortState) ? 1 : 0; }; });

  int netSlot = 0;
  std::string netPort, netProtocol = "raw", netBind;
  std::vector<std::string> netAllow;
  std::optional<int> netIdle;
  auto* netCommand = app.add_subcommand(
      "net", "serve port SLOT also over TCP at PORT, raw or RFC 2217 (off: not over the network)");
  netCommand->add_option("SLOT", netSlot, "port slot 1..4")->required()->check(CLI::Range(1, 4));
  netCommand->add_option("PORT", netPort, "TCP port 1..65535, or off")->required();
  netCommand->add_option("PROTOCOL", netProtocol, "raw (the default) or rfc2217")
      ->check(CLI::IsMember({"raw", "rfc2217"}));
  auto* bindOption = netCommand->add_option(
      "--bind", netBind, "listen on this IP address (default 127.0.0.1; others need --allow)");
  auto* allowOption = netCommand->add_option(
      "--allow", netAllow, "client networks let in, e.g. 192.168.10.0/24 (several allowed)");
  netCommand
      ->add_option("--idle", netIdle,
                   "seconds after which a client that vanished or takes no output is "
                   "dropped (all network ports; default 60)")
      ->check(CLI::Range(3, 3600));
  netCommand->callback([&] {
    const size_t k = static_cast<size_t>(netSlot);
    if (netPort == "off") {
      const bool options = bindOption->count() > 0 || allowOption->count() > 0 || netIdle;
      change = [k, options] {
        if (options) throw UsageError{"net off takes no options"};
        Settings.NetPort[k].clear();
        Settings.NetProtocol[k].clear();
        Settings.NetBind[k].clear();
        Settings.NetAllow[k].clear();
      };
      return;
    }
    std::string allow;
    for (const std::string& entry : netAllow) allow += (allow.empty() ? "" : ",") + entry;
    change = [this_slot = netSlot, k, allow, &netPort, &netProtocol, &netBind, &netIdle] {
      // Checked as the program will read it, before anything is written.
      SettingsRecord probe;
      probe.NetPort[k] = netPort;
      probe.NetProtocol[k] = netProtocol;
      probe.NetBind[k] = netBind;
      probe.NetAllow[k] = allow;
      std::optional<NetworkEndpointConfig> config;
      std::string reason;
      if (!NetworkEndpointFromSettings(probe, this_slot, config, reason)) {
        throw UsageError{"net: " + reason};
      }
      for (int other = 1; other <= 4; ++other) {
        std::optional<NetworkEndpointConfig> taken;
        std::string ignored;
        if (other == this_slot || !NetworkEndpointFromSettings(Settings, other, taken, ignored) ||
            !taken || taken->port != config->port) {
          continue;
        }
        throw UsageError{"net: TCP port " + std::to_string(config->port) +
                         " is already the network port of slot " + std::to_string(other)};
      }
      Settings.NetPort[k] = std::to_string(config->port);
      Settings.NetProtocol[k] = netProtocol;
      Settings.NetBind[k] = netBind;
      Settings.NetAllow[k] = allow;
      if (netIdle) Settings.NetIdleSeconds = static_cast<int16_t>(*netIdle);
    };
  });

  std::string historyState;
  std::optional<int> keepDays, maxMb;
  auto* historyCommand = app.add_subcommand(
      "history", "keep every value sent in the value history Velk_VCP.values.db, or not");
  historyCommand->add_option("STATE", historyState, "on or off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  auto* keepOption =
      historyCommand->add_option("--keep", keepDays, "keep values DAYS days (default 90)")
          ->type_name("DAYS")
          ->check(CLI::Range(1, 32767));
  historyCommand->add_option("--max-mb", maxMb, "keep the file below N megabytes instead")
      ->type_name("N")
      ->check(CLI::Range(1, 32767))
      ->excludes(keepOption);
  historyCommand->callback([&] {
    change = [&] {
      Settings.HistoryOn = OnOff(historyState) ? 1 : 0;
      if (keepDays) {
        Settings.HistoryKeepDays = static_cast<int16_t>(*keepDays);
        Settings.HistoryMaxMb = 0;
      }
      if (maxMb) {
        Settings.HistoryMaxMb = static_cast<int16_t>(*maxMb);
        Settings.HistoryKeepDays = 0;
      }
    };
  });

  std::string since, until, gauge;
  bool csv = false, json = false;
  auto* valuesCommand =
      app.add_subcommand("values", "print the value history (CSV, or JSON lines)");
  valuesCommand->add_option("--since", since, "from this UTC time on (2026-12-08T10:00)")
      ->type_name("TIME");
  valuesCommand->add_option("--until", until, "before this UTC time")->type_name("TIME");
  valuesCommand->add_option("--gauge", gauge, "only input D.A")->type_name("D.A");
  auto* csvFlag = valuesCommand->add_flag("--csv", csv, "CSV with a header line (the default)");
  valuesCommand->add_flag("--json", json, "one JSON object a line")->excludes(csvFlag);
  valuesCommand->callback([&] {
    read = [&] {
      HistoryFilter filter;
      for (auto [text, field] : {std::pair{&since, &filter.since_ms}, {&until, &filter.until_ms}}) {
        if (text->empty()) continue;
        *field = ParseIsoUtc(*text);
        if (!*field) throw UsageError{"values: " + *text + " is no time like 2026-12-08T10:00"};
      }
      if (!gauge.empty()) std::tie(filter.device, filter.input) = InputAddress(gauge);
      return PrintValues(filter, json);
    };
  });

  std::string mqttUrl, mqttPrefix, mqttStation, mqttUser, mqttPasswordFile, mqttCa;
  auto* mqttCommand = app.add_subcommand(
      "mqtt", "publish every value sent to the MQTT broker at URL (mqtt://HOST[:PORT]), or off");
  mqttCommand->add_option("URL", mqttUrl, "mqtt://HOST[:PORT], mqtts://HOST[:PORT] or off")
      ->required();
  auto* prefixOption =
      mqttCommand->add_option("--prefix", mqttPrefix, "first topic level (default velk)");
  auto* stationOption = mqttCommand->add_option("--station", mqttStation,
                                                "this station's name (default the host name)");
  auto* userOption = mqttCommand->add_option("--user", mqttUser, "user name at the broker");
  auto* passwordFileOption =
      mqttCommand->add_option("--password-file", mqttPasswordFile, "file with the password (0600)")
          ->needs(userOption);
  auto* caOption =
      mqttCommand->add_option("--ca", mqttCa, "CA certificates for TLS")->type_name("FILE");
  std::error_code cwdError;
  const fs::path calledIn = fs::current_path(cwdError);
  mqttCommand->callback([&] {
    change = [&] {
      // Files are named relative to where the tool is called, not to the working folder.
      if (passwordFileOption->count() > 0) {
        mqttPasswordFile = ReadableFile("--password-file", calledIn, mqttPasswordFile);
      }
      if (caOption->count() > 0) mqttCa = ReadableFile("--ca", calledIn, mqttCa);
      if (mqttUrl == "off") {
        if (prefixOption->count() + stationOption->count() + userOption->count() +
                caOption->count() + passwordFileOption->count() >
            0) {
          throw UsageError{"mqtt off takes no options"};
        }
        Settings.MqttUrl.clear();
        return;
      }
      if (!ParseMqttUrl(mqttUrl)) {
        throw UsageError{"mqtt: " + mqttUrl + " is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"};
      }
      if (!mqttPasswordFile.empty()) {
        struct stat st {};
        if (::stat(mqttPasswordFile.c_str(), &st) != 0 || (st.st_mode & 077) != 0) {
          throw UsageError{"mqtt: the password file " + mqttPasswordFile +
                           " may be read by others: chmod 600 it first"};
        }
      }
      for (const std::string* level : {&mqttPrefix, &mqttStation}) {
        if (level->find_first_of("+#") != std::string::npos) {
          throw UsageError{"mqtt: + and # cannot stand in a topic"};
        }
      }
      if (prefixOption->count() > 0 && mqttPrefix.empty()) {
        throw UsageError{"mqtt: --prefix needs a text"};
      }
      Settings.MqttUrl = LineText("mqtt", mqttUrl);
      Settings.MqttPrefix = LineText("mqtt", mqttPrefix);
      Settings.MqttStation = LineText("mqtt", mqttStation);
      Settings.MqttUser = LineText("mqtt", mqttUser);
      Settings.MqttPasswordFile = LineText("mqtt", mqttPasswordFile);
      Settings.MqttCaFile = LineText("mqtt", mqttCa);
    };
  });

  std::optional<int> width;
  std::string separator, leadingZeros, plusSign;
  auto* formatCommand = app.add_subcommand("value-format", "set how values are written");
  formatCommand->add_option("--width", width, "characters of a value, 1..99")
      ->check(CLI::Range(1, 99));
  formatCommand->add_option("--decimal", separator, "point or comma")
      ->check(CLI::IsMember({"point", "comma"}));
  formatCommand->add_option("--leading-zeros", leadingZeros, "on or off")
      ->check(CLI::IsMember({"on", "off"}));
  formatCommand->add_option("--plus-sign", plusSign, "on or off")
      ->check(CLI::IsMember({"on", "off"}));
  formatCommand->callback([&] {
    change = [&] {
      if (!width && separator.empty() && leadingZeros.empty() && plusSign.empty()) {
        throw UsageError{"value-format: give at least one of the options"};
      }
      if (width) Settings.NumOfChar = static_cast<int16_t>(*width);
      if (!separator.empty()) Settings.DecPnt = separator == "comma" ? 1 : 0;
      if (!leadingZeros.empty()) Settings.LeadZeros = OnOff(leadingZeros) ? 1 : 0;
      if (!plusSign.empty()) Settings.PosSign = OnOff(plusSign) ? 1 : 0;
    };
  });

  std::string password;
  bool passwordOff = false;
  auto* passwordCommand =
      app.add_subcommand("password", "set the password of the main window, or --off");
  auto* passwordText = passwordCommand->add_option("TEXT", password, "the password");
  passwordCommand->add_flag("--off", passwordOff, "no password")->excludes(passwordText);
  passwordCommand->callback([&] {
    change = [&] {
      const std::string trimmed = LineText("password", password);
      const size_t first = trimmed.find_first_not_of(' ');
      if (!passwordOff && first == std::string::npos) {
        throw UsageError{"password: give a text (not only spaces) or --off"};
      }
      Settings.Password =
          passwordOff ? "" : trimmed.substr(first, trimmed.find_last_not_of(' ') - first + 1);
    };
  });

  std::string saveName, loadName;
  auto* saveCommand = app.add_subcommand("save", "save the settings as configuration NAME");
  saveCommand->add_option("NAME", saveName, "configuration name")->required();
  saveCommand->callback([&] {
    read = [&]() -> int {
      if (!IsPlainConfigurationName(EngineText(saveName))) {
        throw UsageError{"save: " + saveName + " cannot name a configuration"};
      }
      return WriteSettings(EngineText(saveName) + std::string(kConfigurationSuffix)) ? 0
                                                                                     : kFileError;
    };
  });
  auto* loadCommand = app.add_subcommand("load", "take over the settings of configuration NAME");
  loadCommand->add_option("NAME", loadName, "configuration name")->required();
  loadCommand->callback([&] {
    change = [&] {
      const std::string file = EngineText(loadName) + std::string(kConfigurationSuffix);
      std::error_code ec;
      if (!IsPlainConfigurationName(EngineText(loadName)) || !fs::is_regular_file(file, ec)) {
        throw UsageError{"load: no configuration " + loadName + " here"};
      }
      if (!ReadSettings(file)) throw UsageError{"load: " + file + " cannot be read"};
    };
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "velk-vcp-config: " << e.what() << " (see --help)\n";
    return kUsageError;
  }

  try {
    return Run(dir, userFolder, change, read, ask);
  } catch (const UsageError& e) {
    std::cerr << "velk-vcp-config: " << e.message << " (see --help)\n";
    return kUsageError;
  } catch (const std::exception& e) {
    std::cerr << "velk-vcp-config: " << e.what() << "\n";
    return kFileError;
  }
}
