#include "settings_checks.h"

#include <sys/stat.h>

#include <array>
#include <optional>

#include "endpoint_config.h"
#include "mqtt_url.h"
#include "text_encoding.h"
#include "web_config.h"

namespace {

// Returns true when text holds a line break or another control byte: a settings line cannot
// hold it, and it would start keys of its own.
bool HasControlCharacter(const std::string& text) {
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) return true;
  }
  return false;
}

std::string ControlCharacterProblem(const std::string& what) {
  return what + ": line breaks and other control characters cannot be stored";
}

// Returns the TCP port of slot's network port, or nothing when it has none or cannot be read.
std::optional<uint16_t> NetworkPortOf(const SettingsRecord& s, int slot) {
  std::optional<NetworkEndpointConfig> config;
  std::string ignored;
  if (!NetworkEndpointFromSettings(s, slot, config, ignored) || !config) return std::nullopt;
  return config->port;
}

// NetworkSlotProblem, comparing the slot's TCP port only with the slots before lastOther+1.
std::string NetworkSlotProblemAmong(const SettingsRecord& s, int slot, int lastOther) {
  std::optional<NetworkEndpointConfig> config;
  std::string reason;
  if (!NetworkEndpointFromSettings(s, slot, config, reason)) return "net: " + reason;
  if (!config) return "";
  for (int other = 1; other <= lastOther; ++other) {
    if (other != slot && NetworkPortOf(s, other) == config->port) {
      return "net: TCP port " + std::to_string(config->port) +
             " is already the network port of slot " + std::to_string(other);
    }
  }
  return "";
}

}  // namespace

std::string PortsProblem(const SettingsRecord& s) {
  const std::array<int, 4> numbers = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  for (size_t a = 0; a < numbers.size(); ++a) {
    for (size_t b = a + 1; b < numbers.size(); ++b) {
      if (numbers[a] != 0 && numbers[a] == numbers[b]) {
        return "ports: COM" + std::to_string(numbers[a]) + " given twice";
      }
    }
  }
  if (numbers[0] == 0 && (numbers[1] != 0 || numbers[2] != 0 || numbers[3] != 0)) {
    return "ports: several ports need a COM number for port 1";
  }
  return "";
}

std::string InputAddressProblem(const SettingsRecord& s, int device, int input) {
  const InputRecord& record = s.Inputs[device][input];
  if (HasControlCharacter(record.CommandAdr) || HasControlCharacter(record.MeaValAdr)) {
    return ControlCharacterProblem("input");
  }
  return "";
}

std::string NetworkSlotProblem(const SettingsRecord& s, int slot) {
  return NetworkSlotProblemAmong(s, slot, 4);
}

std::string MqttProblem(const SettingsRecord& s) {
  if (s.MqttUrl.empty()) return "";
  if (!ParseMqttUrl(s.MqttUrl)) {
    return "mqtt: " + Cp1252ToUtf8(s.MqttUrl) + " is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
  }
  if (!s.MqttPasswordFile.empty()) {
    const std::string path = Cp1252ToUtf8(s.MqttPasswordFile);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 077) != 0) {
      return "mqtt: the password file " + path + " may be read by others: chmod 600 it first";
    }
  }
  if (s.MqttCertFile.empty() != s.MqttKeyFile.empty()) {
    return "mqtt: a client certificate needs both --cert and --key";
  }
  if (!s.MqttCertFile.empty() && !ParseMqttUrl(s.MqttUrl)->tls && s.MqttCaFile.empty()) {
    return "mqtt: a client certificate needs TLS: mqtts://HOST[:PORT]";
  }
  if (!s.MqttKeyFile.empty()) {
    const std::string path = Cp1252ToUtf8(s.MqttKeyFile);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return "mqtt: " + path + ": no such file";
    }
    if ((st.st_mode & 077) != 0) {
      return "mqtt: the key file " + path +
             " may be read or changed by others: chmod 600 (or 400) it first";
    }
  }
  for (const std::string* level : {&s.MqttPrefix, &s.MqttStation}) {
    if (level->find_first_of("+#") != std::string::npos) {
      return "mqtt: + and # cannot stand in a topic";
    }
  }
  for (const std::string* text :
       {&s.MqttUrl, &s.MqttPrefix, &s.MqttStation, &s.MqttUser, &s.MqttPasswordFile, &s.MqttCaFile,
        &s.MqttCertFile, &s.MqttKeyFile}) {
    if (HasControlCharacter(*text)) return ControlCharacterProblem("mqtt");
  }
  return "";
}

std::string TlsProblem(const SettingsRecord& s) {
  if (s.TlsCertFile.empty() && s.TlsKeyFile.empty() && s.TlsClientCaFile.empty()) return "";
  if (s.TlsCertFile.empty() || s.TlsKeyFile.empty()) {
    return "tls: the station's certificate needs both --cert and --key";
  }
  for (const std::string* file : {&s.TlsCertFile, &s.TlsKeyFile, &s.TlsClientCaFile}) {
    if (HasControlCharacter(*file)) return ControlCharacterProblem("tls");
  }
  for (const std::string* file : {&s.TlsCertFile, &s.TlsKeyFile, &s.TlsClientCaFile}) {
    if (file->empty()) continue;
    const std::string path = Cp1252ToUtf8(*file);
    struct stat st {};
    if (path.front() != '/') return "tls: " + path + " is not an absolute path";
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return "tls: " + path + ": no such file";
    }
    if (file == &s.TlsKeyFile && (st.st_mode & 077) != 0) {
      return "tls: the key file " + path +
             " may be read or changed by others: chmod 600 (or 400) it first";
    }
  }
  return "";
}

std::string WebProblem(const SettingsRecord& s) {
  for (const std::string* text : {&s.WebPort, &s.WebBind, &s.WebAllow, &s.WebPasswordFile}) {
    if (HasControlCharacter(*text)) return ControlCharacterProblem("web");
  }
  std::optional<WebConfig> config;
  std::string reason;
  if (!WebConfigFromSettings(s, config, reason)) return "web: " + reason;
  if (!config) return "";
  for (int slot = 1; slot <= 4; ++slot) {
    if (NetworkPortOf(s, slot) == config->port) {
      return "web: TCP port " + std::to_string(config->port) +
             " is already the network port of slot " + std::to_string(slot);
    }
  }
  if (!config->password_file.empty()) {
    struct stat st {};
    if (::stat(config->password_file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return "web: the password file " + config->password_file + ": no such file";
    }
    if ((st.st_mode & 077) != 0) {
      return "web: the password file " + config->password_file +
             " may be read or changed by others: chmod 600 (or 400) it first";
    }
  }
  return "";
}

std::string PasswordProblem(const SettingsRecord& s) {
  return HasControlCharacter(s.Password) ? ControlCharacterProblem("password") : "";
}

std::vector<std::string> SettingsProblems(const SettingsRecord& s) {
  std::vector<std::string> problems;
  const auto note = [&problems](std::string problem) {
    if (!problem.empty()) problems.push_back(std::move(problem));
  };
  note(PortsProblem(s));
  for (int device = kFirstStoredDevice; device <= kLastStoredDevice; ++device) {
    for (int input = 1; input <= kLastStoredInput; ++input) {
      note(InputAddressProblem(s, device, input));
    }
  }
  for (int slot = 1; slot <= 4; ++slot) note(NetworkSlotProblemAmong(s, slot, slot - 1));
  note(TlsProblem(s));
  note(MqttProblem(s));
  note(WebProblem(s));
  note(PasswordProblem(s));
  return problems;
}
