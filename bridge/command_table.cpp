#include "command_table.h"

#include <charconv>

#include "key_value_file.h"
#include "text_notation.h"

namespace {

constexpr const char* kLimitNames[5] = {"", "USL", "UCL", "LCL", "LSL"};
constexpr const char* kDdk = "Velk_VCP.DDK";

bool FootSwitchExists(IDeviceLibrary& device, int16_t d, int16_t n) {
  std::string name;
  return device.Device_GetName(1, kDdk, d, 1, n, name) == 0;
}

// Reads "device.input" as two whole numbers; false for anything else.
bool ParseInputAddress(std::string_view text, int16_t& device, int16_t& input) {
  text = TrimSpaces(text);
  size_t dot = text.find('.');
  if (dot == std::string_view::npos) return false;
  auto whole = [](std::string_view part, int16_t& out) {
    part = TrimSpaces(part);
    if (part.empty()) return false;
    auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), out);
    return error == std::errc() && end == part.data() + part.size();
  };
  return whole(text.substr(0, dot), device) && whole(text.substr(dot + 1), input);
}

// The input's name in English and its unit, as device gives them; empty when it has none.
const GaugeLabel* InputLabel(IDeviceLibrary& device, int16_t d, int16_t a) {
  std::string name, unit;
  if (device.Device_GetName(1, kDdk, d, 2, a, name) != 0) name.clear();
  if (!device.Device_Unit(kDdk, d, a, unit)) unit.clear();
  return InternGaugeLabel(name, unit);
}

TriggerInput AdditionalTrigger(const std::string& address, IDeviceLibrary& device) {
  if (address.empty() || address == "0") return {};
  int16_t d = 0, a = 0;
  if (!ParseInputAddress(address, d, a)) return {};
  if (d < kFirstDevice || d > kLastDevice || a < 0) return {};
  if (!FootSwitchExists(device, d, a)) return {};
  return {d, a};
}

}  // namespace

ValueLimits LimitsInForce(const CommandEntry& e) {
  auto set = [&e](int j) -> std::optional<double> {
    const double v = e.LimitValue[j];
    if (v == kUpperLimitStart || v == kLowerLimitStart) return std::nullopt;
    return v;
  };
  if (e.Active == 0) return {};
  return {set(USL), set(UCL), set(LCL), set(LSL)};
}

CommandTab::CommandTab() : entries(static_cast<size_t>(kTableDevices * kTableAddresses)) {}

void CreateCommandTab(CommandTab& tab, const SettingsRecord& s, IDeviceLibrary& device) {
  for (int d = kFirstDevice; d <= kLastDevice; ++d) tab.DeviceUsed[d] = 0;

  for (int k = 1; k <= kKinds; ++k) {
    if (s.ChCommandOn[k] != 0) {
      tab.AllCommand[k] = ConvString(s.ChCommandAll[k], 1, 1, 0, s);
      tab.AllLength[k] = static_cast<int>(tab.AllCommand[k].size());
    } else {
      tab.AllCommand[k].clear();
      tab.AllLength[k] = 0;
    }
  }

  for (int16_t d = kFirstDevice; d <= kLastDevice; ++d) {
    for (int16_t a = 1; a <= kLastAddress; ++a) {
      CommandEntry& e = tab.Entry(d, a);
      const InputRecord& in = s.Inputs[d][a];
      if (in.State != 0) {
        e.Active = 1;
        e.FootSwitch = in.FS;
        e.DataKey = 1;
        e.Label = InputLabel(device, d, a);
        tab.DeviceUsed[d] = 1;
        for (int k = 1; k <= kKinds; ++k) {
          if (s.ChCommandOn[k] != 0) {
            e.SingleCommand[k] = ConvString(s.ChCommandSingle[k], d, a, 0, s);
          } else {
            e.SingleCommand[k].clear();
          }
          e.SingleLength[k] = static_cast<int>(e.SingleCommand[k].size());
        }
        const std::string address(TrimSpaces(in.CommandAdr));
        for (int j = USL; j <= LSL; ++j) {
          e.LimitCommand[j] = kLimitNames[j] + address + ",";
          e.LimitLength[j] = static_cast<int>(e.LimitCommand[j].size());
          e.LimitValue[j] = (j == USL || j == UCL) ? kUpperLimitStart : kLowerLimitStart;
        }
      } else {
        e.Active = e.FootSwitch = e.DataKey = 0;
        e.Label = nullptr;
        for (int k = 1; k <= kKinds; ++k) e.SingleLength[k] = 0;
        for (int j = USL; j <= LSL; ++j) e.LimitLength[j] = 0;
      }
    }
  }

  tab.FsQuery = ConvString(s.FsCommand[1], 1, 1, 0, s);
  tab.FsAnswerUp = ConvString(s.FsCommand[2], 1, 1, 1, s);
  tab.FsAnswerDown = ConvString(s.FsCommand[3], 1, 1, 1, s);

  tab.FsTrigger[1] = {};
  int count = 0;
  for (int16_t d = kFirstDevice; d <= kLastDevice && tab.FsTrigger[1].device == 0; ++d) {
    for (int16_t n = 0; n <= 1; ++n) {
      if (!FootSwitchExists(device, d, n)) continue;
      if (count == s.FsSelect) {
        tab.FsTrigger[1] = {d, n};
        break;
      }
      ++count;
    }
  }
  tab.FsTrigger[2] = AdditionalTrigger(s.AddInputAdr1, device);
  tab.FsTrigger[3] = AdditionalTrigger(s.AddInputAdr2, device);
  for (int t = 1; t <= 3; ++t) {
    if (tab.FsTrigger[t].device > 0) tab.DeviceUsed[tab.FsTrigger[t].device] = 1;
  }

  for (int i = 1; i <= kExtraCommands; ++i) {
    tab.ExtraCommand[i] = ConvString(s.TabCommand[i], 1, 1, 0, s);
    tab.ExtraLength[i] = static_cast<int>(tab.ExtraCommand[i].size());
    tab.ExtraAnswer[i] = ConvString(s.TabAnswer[i], 1, 1, 1, s);
  }

  tab.OkAnswer = ConvString(s.OkString, 1, 1, 1, s);
  tab.UndefAnswer = ConvString(s.UndefCommand, 1, 1, 1, s);
  tab.EndText = ConvString(s.EndChar, 1, 1, 1, s);
  tab.SeparatorText = s.MultipleCommands != 0 ? ConvString(s.Separator, 1, 1, 1, s) : "";
}
