#include "settings_fields.h"

#include <cmath>
#include <optional>

#include "key_value_file.h"
#include "number_text.h"

namespace {

int ChannelKeyBase(int k) { return k == 1 ? 200 : 205 + 5 * (k - 1); }

// Keys of the fields below 1000, in file order.
void ForEachPlainField(SettingsRecord& s, const std::function<void(const SettingsField&)>& visit) {
  auto integer = [&](int key, int16_t& field, bool settingsOnly = false) {
    SettingsField f;
    f.key = key;
    f.integer = &field;
    f.settingsOnly = settingsOnly;
    visit(f);
  };
  auto text = [&](int key, std::string& field, bool settingsOnly = false, bool trimmed = false) {
    SettingsField f;
    f.key = key;
    f.text = &field;
    f.settingsOnly = settingsOnly;
    f.trimmed = trimmed;
    visit(f);
  };
  integer(10, s.LanguageNo, true);
  integer(20, s.VcpCom1, true);
  integer(30, s.CommandFormat);
  integer(40, s.ShowInfoWin, true);
  integer(50, s.LogOn, true);
  text(60, s.Password, true, true);
  integer(82, s.VcpCom2, true);
  integer(83, s.VcpCom3, true);
  integer(84, s.VcpCom4, true);
  integer(91, s.HotKey1, true);
  integer(92, s.HotKey2, true);
  integer(93, s.HotKey3, true);
  integer(94, s.HotKey4, true);
  // Keys added later, written only when set, so that files without them stay as they are:
  // shared ports, answers on every port, the value history, the MQTT publisher and the
  // network ports.
  auto whenSet = [&](int key, int16_t* number, std::string* words) {
    SettingsField f;
    f.key = key;
    f.integer = number;
    f.text = words;
    f.settingsOnly = true;
    f.writtenWhenSet = true;
    visit(f);
  };
  whenSet(95, &s.SharedPorts, nullptr);
  whenSet(96, &s.AnswerEveryPort, nullptr);
  whenSet(600, &s.HistoryOn, nullptr);
  whenSet(601, &s.HistoryKeepDays, nullptr);
  whenSet(602, &s.HistoryMaxMb, nullptr);
  whenSet(603, nullptr, &s.MqttUrl);
  whenSet(604, nullptr, &s.MqttPrefix);
  whenSet(605, nullptr, &s.MqttStation);
  whenSet(606, nullptr, &s.MqttUser);
  whenSet(607, nullptr, &s.MqttPasswordFile);
  whenSet(608, nullptr, &s.MqttCaFile);
  whenSet(609, nullptr, &s.MqttCertFile);
  whenSet(610, nullptr, &s.MqttKeyFile);
  for (int k = 1; k <= 4; ++k) {
    whenSet(610 + k, nullptr, &s.NetPort[k]);
    whenSet(615 + k, nullptr, &s.NetProtocol[k]);
    whenSet(620 + k, nullptr, &s.NetBind[k]);
    whenSet(625 + k, nullptr, &s.NetAllow[k]);
  }
  whenSet(630, &s.NetIdleSeconds, nullptr);
  whenSet(631, nullptr, &s.TlsCertFile);
  whenSet(632, nullptr, &s.TlsKeyFile);
  whenSet(633, nullptr, &s.TlsClientCaFile);
  for (int k = 1; k <= 4; ++k) whenSet(635 + k, &s.NetTls[k], nullptr);
  whenSet(640, nullptr, &s.WebPort);
  whenSet(641, nullptr, &s.WebBind);
  whenSet(642, nullptr, &s.WebAllow);
  whenSet(643, &s.WebTls, nullptr);
  whenSet(644, nullptr, &s.WebPasswordFile);
  text(100, s.DeviceName);
  for (int k = 1; k <= kChannelCommands; ++k) {
    int base = ChannelKeyBase(k);
    integer(base, s.ChCommandOn[k]);
    text(base + 1, s.ChCommandAll[k]);
    text(base + 2, s.ChCommandSingle[k]);
  }
  text(239, s.OkString);
  text(240, s.AnswerString);
  integer(241, s.NumOfChar);
  integer(242, s.DecPnt);
  integer(243, s.LeadZeros);
  integer(244, s.PosSign);
  text(245, s.Timeout);
  text(246, s.Range);
  for (int i = 1; i <= 3; ++i) text(299 + i, s.FsCommand[i]);
  for (int i = 1; i <= kTableCommands; ++i) {
    text(400 + 2 * (i - 1), s.TabCommand[i]);
    text(401 + 2 * (i - 1), s.TabAnswer[i]);
  }
  text(420, s.UndefCommand);
  text(421, s.EndChar);
  integer(500, s.Blanks);
  integer(501, s.MultipleCommands);
  text(502, s.Separator);
}

SettingsField InputField(SettingsRecord& s, int d, int n, int offset) {
  SettingsField f;
  f.key = d * 1000 + (n - 1) * 5 + offset;
  InputRecord& in = s.Inputs[d][n];
  if (offset == 0) f.input = &in;
  if (offset == 1) f.text = &in.CommandAdr;
  if (offset == 2) f.text = &in.MeaValAdr;
  return f;
}

}  // namespace

void ForEachSettingsField(SettingsRecord& s,
                          const std::function<void(const SettingsField&)>& visit) {
  ForEachPlainField(s, visit);
  for (int d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int n = 1; n <= kLastStoredInput; ++n) {
      for (int offset = 0; offset < 3; ++offset) visit(InputField(s, d, n, offset));
    }
  }
  SettingsField fs;
  fs.key = 9000;
  fs.integer = &s.FsSelect;
  visit(fs);
  for (std::string* adr : {&s.AddInputAdr1, &s.AddInputAdr2}) {
    SettingsField f;
    f.key = adr == &s.AddInputAdr1 ? 9001 : 9002;
    f.text = adr;
    f.trimmed = true;
    visit(f);
  }
}

SettingsField FindSettingsField(SettingsRecord& s, int key) {
  if (key >= 1000 && key < 9000) {
    int d = key / 1000;
    int n = (key - 1000 * d) / 5 + 1;
    int offset = key - (1000 * d + 5 * (n - 1));
    if (offset > 2) return {};
    return InputField(s, d, n, offset);
  }
  SettingsField found;
  if (key < 1000) {
    ForEachPlainField(s, [&](const SettingsField& f) {
      if (f.key == key) found = f;
    });
    return found;
  }
  if (key == 9000) {
    found.key = key;
    found.integer = &s.FsSelect;
  } else if (key == 9001 || key == 9002) {
    found.key = key;
    found.text = key == 9001 ? &s.AddInputAdr1 : &s.AddInputAdr2;
    found.trimmed = true;
  }
  return found;
}

bool SetInputStateKey(InputRecord& input, double value) {
  std::optional<int16_t> rounded = RoundToInt16(value);
  if (!rounded) return false;
  input.State = static_cast<int16_t>(*rounded & 1);
  input.FS = static_cast<int16_t>(static_cast<int32_t>(std::trunc(value / 2)) & 1);
  return true;
}

bool IsSettingsKey(SettingsRecord& s, double key) {
  if (!(key >= 1 && key <= 32767) || key != std::trunc(key)) return false;
  return FindSettingsField(s, static_cast<int>(key)).key != 0;
}

bool ApplySettingsValue(SettingsRecord& s, double key, const std::string& value,
                        bool allowSettingsOnly, int onlyKeysFrom, int onlyKeysTo) {
  if (!(key >= onlyKeysFrom && key <= onlyKeysTo) || key != std::trunc(key)) return true;
  SettingsField f = FindSettingsField(s, static_cast<int>(key));
  if (f.key == 0 || (f.settingsOnly && !allowSettingsOnly)) return true;
  if (f.text != nullptr) {
    // Only the two additional input addresses are trimmed again on reading.
    bool trimAgain = f.key == 9001 || f.key == 9002;
    *f.text = trimAgain ? std::string(TrimSpaces(value)) : value;
    return true;
  }
  double number = NumericValue(value);
  if (f.input != nullptr) return SetInputStateKey(*f.input, number);
  std::optional<int16_t> v = RoundToInt16(number);
  if (!v) return false;
  *f.integer = *v;
  return true;
}
