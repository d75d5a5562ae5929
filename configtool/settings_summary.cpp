#include "settings_summary.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>

#include "endpoint_config.h"
#include "text_encoding.h"
#include "web_config.h"

namespace {

constexpr const char* kModifiers[] = {"", "Ctrl+", "Alt+", "Alt+Ctrl+"};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Quoted(const std::string& engineText) { return "\"" + Cp1252ToUtf8(engineText) + "\""; }

}  // namespace

std::string HotKeyName(int index) {
  if (index == 0) return "none";
  if (index < 1 || index > 48) return "unknown (" + std::to_string(index) + ")";
  return std::string(kModifiers[(index - 1) / 12]) + "F" + std::to_string((index - 1) % 12 + 1);
}

int HotKeyIndex(const std::string& name) {
  std::string wanted = Upper(name);
  if (wanted.rfind("CTRL+ALT+", 0) == 0) wanted = "ALT+CTRL+" + wanted.substr(9);
  for (int index = 0; index <= 48; ++index) {
    if (Upper(HotKeyName(index)) == wanted) return index;
  }
  return -1;
}

std::string SettingsSummary(const SettingsRecord& s) {
  std::ostringstream out;
  out << "command format: ";
  if (s.CommandFormat == kOwnCommandFormat) {
    out << "own command format";
  } else {
    out << "preset " << s.CommandFormat;
  }
  out << " (" << Quoted(s.DeviceName) << ")\n";

  const int16_t ports[4] = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  const int16_t keys[4] = {s.HotKey1, s.HotKey2, s.HotKey3, s.HotKey4};
  const bool several = ports[1] != 0 || ports[2] != 0 || ports[3] != 0;
  for (int k = 0; k < 4; ++k) {
    out << "port " << k + 1 << ": ";
    if (ports[k] > 0) {
      out << "COM" << ports[k];
    } else {
      out << (k == 0 ? "the first free COM number at start" : "off");
    }
    if (several && ports[k] > 0) out << ", hot key " << HotKeyName(keys[k]);
    out << "\n";
  }
  for (int k = 1; k <= 4; ++k) {
    std::optional<NetworkEndpointConfig> config;
    std::string reason;
    if (!NetworkEndpointFromSettings(s, k, config, reason)) {
      out << "network port " << k << ": invalid (" << reason << ")\n";
    } else if (config) {
      out << "network port " << k << ": " << EndpointText(*config) << ", clients from ";
      if (config->allow.empty()) out << "this machine only";
      for (size_t i = 0; i < config->allow.size(); ++i) {
        out << (i > 0 ? ", " : "") << AddressBlockText(config->allow[i]);
      }
      out << ", idle limit " << config->idle_limit.count() << " s\n";
    }
  }
  if (!s.TlsCertFile.empty()) {
    out << "TLS certificate: " << Cp1252ToUtf8(s.TlsCertFile) << ", key "
        << Cp1252ToUtf8(s.TlsKeyFile) << ", client certificates: "
        << (s.TlsClientCaFile.empty() ? "not asked for"
                                      : "required, of the CA in " + Cp1252ToUtf8(s.TlsClientCaFile))
        << "\n";
  }
  {
    std::optional<WebConfig> web;
    std::string reason;
    if (!WebConfigFromSettings(s, web, reason)) {
      out << "web page: invalid (" << reason << ")\n";
    } else if (web) {
      out << "web page: " << (web->tls ? "https://" : "http://") << WebEndpointText(*web)
          << "/, clients from ";
      if (web->allow.empty())
        out << (web->tls && !web->tls_client_ca.empty() ? "anywhere with a client certificate"
                                                        : "this machine only");
      for (size_t i = 0; i < web->allow.size(); ++i) {
        out << (i > 0 ? ", " : "") << AddressBlockText(web->allow[i]);
      }
      out << ", password " << (web->password_file.empty() ? "none" : "from " + web->password_file)
          << "\n";
    }
  }
  out << "clients per port: "
      << (s.SharedPorts != 0 ? "several at once (shared ports)" : "one at a time") << "\n";
  if (several) {
    out << "answered ports: "
        << (s.AnswerEveryPort != 0 ? "every port (pushes to the served port only)"
                                   : "the served port only")
        << "\n";
  }

  int inUse = 0;
  for (int d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int n = 1; n <= kLastStoredInput; ++n) {
      const InputRecord& input = s.Inputs[d][n];
      if (input.State == 0) continue;
      ++inUse;
      out << "input " << d << "." << n << ": on, command address " << Quoted(input.CommandAdr)
          << ", value address " << Quoted(input.MeaValAdr)
          << (input.FS != 0 ? ", released by the foot switch" : "") << "\n";
    }
  }
  if (inUse == 0) out << "inputs: none is on\n";

  out << "value format: " << s.NumOfChar << " characters, decimal "
      << (s.DecPnt == 1 ? "comma" : "point") << ", leading zeros "
      << (s.LeadZeros != 0 ? "on" : "off") << ", plus sign " << (s.PosSign != 0 ? "on" : "off")
      << "\n";
  out << "log: " << (s.LogOn != 0 ? "on" : "off") << "\n";
  out << "password: " << (s.Password.empty() ? "not set" : "set") << "\n";
  out << "value history: ";
  if (s.HistoryOn == 0) {
    out << "off\n";
  } else if (s.HistoryMaxMb > 0) {
    out << "on, kept below " << s.HistoryMaxMb << " MB\n";
  } else {
    out << "on, kept " << (s.HistoryKeepDays > 0 ? s.HistoryKeepDays : 90) << " days\n";
  }
  out << "mqtt: ";
  if (s.MqttUrl.empty()) {
    out << "off\n";
  } else {
    out << Cp1252ToUtf8(s.MqttUrl) << ", prefix "
        << (s.MqttPrefix.empty() ? std::string("velk") : Cp1252ToUtf8(s.MqttPrefix)) << ", station "
        << (s.MqttStation.empty() ? std::string("(the host name)") : Cp1252ToUtf8(s.MqttStation))
        << (s.MqttUser.empty() ? "" : ", user " + Cp1252ToUtf8(s.MqttUser))
        << (s.MqttCaFile.empty() ? "" : ", CA file " + Cp1252ToUtf8(s.MqttCaFile))
        << (s.MqttCertFile.empty() ? "" : ", client certificate " + Cp1252ToUtf8(s.MqttCertFile))
        << "\n";
  }
  return out.str();
}
