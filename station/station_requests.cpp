#include "station_requests.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "activity_log.h"
#include "gauge_health.h"
#include "language_file.h"
#include "number_text.h"
#include "port_holder.h"
#include "service_manager.h"
#include "settings_change.h"
#include "settings_file.h"
#include "text_encoding.h"
#include "utc_time.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

std::string IsoTime(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string StatusName(int16_t status) {
  if (status == 0) return "valid";
  if (status == 136) return "out of range";
  return status > 0 ? "no value" : "no answer";
}

json Client(Station& station, int k) {
  SlotPort& slot = *station.slot(static_cast<size_t>(k));
  const PortBridge::SlotActivity activity = station.session().bridge().Activity(k);
  json client;
  std::chrono::system_clock::time_point since;
  if (const NetworkClient* remote = slot.network().client()) {
    const ClientCounters& counters = remote->counters();
    since = counters.since;
    client = {
        {"pid", nullptr},
        {"program", nullptr},
        {"network", remote->peer_text()},
        {"protocol", ProtocolName(remote->protocol())},
        {"tls", remote->tls()},
        {"certificate",
         remote->certificate_name().empty() ? json(nullptr) : json(remote->certificate_name())},
        {"bytes_in", counters.bytes_in},
        {"bytes_out", counters.bytes_out},
        {"dropped_bytes", counters.dropped_bytes}};
  } else {
    PtyPort& port = slot.pty();
    if (!port.client_present()) return nullptr;
    const ClientCounters& counters = port.counters();
    const std::optional<PortHolder> holder = port.holder();
    since = counters.since;
    client = {{"pid", holder ? json(holder->pid) : json(nullptr)},
              {"program", holder ? json(holder->program) : json(nullptr)},
              {"network", nullptr},
              {"protocol", nullptr},
              {"tls", false},
              {"certificate", nullptr},
              {"bytes_in", counters.bytes_in},
              {"bytes_out", counters.bytes_out},
              {"dropped_bytes", counters.dropped_bytes}};
  }
  const auto held = std::chrono::system_clock::now() - since;
  client["since"] = IsoTime(since);
  client["seconds"] = std::chrono::duration_cast<std::chrono::seconds>(held).count();
  client["commands"] = activity.commands;
  client["answers"] = activity.answers;
  client["last_command"] = Cp1252ToUtf8(activity.last_command);
  client["last_answer"] = Cp1252ToUtf8(activity.last_answer);
  return client;
}

// The slot's network port: where it listens and how, or why it does not; null when none is
// configured.
json Network(Station& station, int k) {
  SlotPort& slot = *station.slot(static_cast<size_t>(k));
  const std::optional<NetworkEndpointConfig>& config = slot.network().config();
  if (!config) {
    if (slot.network_error().empty()) return nullptr;
    return {{"listening", false}, {"error", slot.network_error()}};
  }
  json allow = json::array();
  for (const AddressBlock& block : config->allow) allow.push_back(AddressBlockText(block));
  return {{"listening", slot.network().listening()},
          {"address",
           AddressText(reinterpret_cast<const sockaddr*>(&config->bind), config->bind_length)},
          {"port", config->port},
          {"protocol", ProtocolName(config->protocol)},
          {"tls", config->tls},
          {"allow", allow},
          {"idle_limit_s", config->idle_limit.count()},
          {"error", nullptr}};
}

json Gauges(Station& station) {
  const SettingsRecord& s = station.session().settings();
  IDeviceLibrary& device = station.session().device();
  const int16_t language = RoundToInt16(NumericValue(LanguageTexts[999])).value_or(0);
  json gauges = json::array();
  for (int d = kFirstStoredDevice; d <= kLastStoredDevice; ++d) {
    for (int n = 1; n <= kLastStoredInput; ++n) {
      if (s.Inputs[d][n].State != 1) continue;
      const auto dd = static_cast<int16_t>(d);
      const auto nn = static_cast<int16_t>(n);
      double value = 0.0;
      const int16_t status = device.Device_Value(dd, nn, value);
      std::string source;
      int32_t age = -1;
      const bool known = device.Device_Source(dd, nn, source, age);
      std::string name;
      if (device.Device_GetName(language, "Velk_VCP.DDK", dd, 2, nn, name) != 0) name.clear();
      const bool real = known && source.rfind("serial", 0) == 0;
      json gauge = {
          {"input", std::to_string(d) + "." + std::to_string(n)},
          {"name", Cp1252ToUtf8(name)},
          {"value", GaugeHealth::Answers(status) ? json(value) : json(nullptr)},
          {"status", StatusName(status)},
          {"code", status},
          {"age_ms", known && age >= 0 ? json(age) : json(nullptr)},
          {"source", !known ? "unknown"
                     : real ? "real"
                            : "simulated"},
          {"device", real ? json(Absolute(source.substr(source.find(' ') + 1))) : json(nullptr)},
      };
      gauges.push_back(std::move(gauge));
    }
  }
  return gauges;
}

}  // namespace

// The value history's and the MQTT publisher's figures; null members for those that are off.
json Values(Station& station) {
  const RecorderFigures f = station.recorder().Figures();
  json history = nullptr, mqtt = nullptr;
  if (f.history_on) {
    history = {{"queued", f.history.queued},
               {"written", f.history.written},
               {"dropped", f.history.dropped},
               {"failing", f.history.failing}};
  }
  if (f.mqtt_on) {
    mqtt = {{"state", f.mqtt.state},
            {"queued", f.mqtt.queued},
            {"published", f.mqtt.published},
            {"dropped", f.mqtt.dropped}};
  }
  return {{"history", history}, {"mqtt", mqtt}};
}

// The station's TLS certificate: its name, end and the days left, with the warning from two
// weeks before its end; null without a certificate.
json Certificate(Station& station) {
  const std::optional<TlsCertificateFacts>& facts = station.certificate();
  if (!facts) return nullptr;
  const int64_t now = time(nullptr);
  const std::string warning = CertificateWarning(*facts, now);
  return {{"subject", facts->subject},
          {"expires", IsoUtc(facts->not_after * 1000)},
          {"days_left", CertificateDaysLeft(*facts, now)},
          {"warning", warning.empty() ? json(nullptr) : json(warning)}};
}

json StationStatus(Station& station) {
  VcpSession& session = station.session();
  const SettingsRecord& s = session.settings();
  const int16_t numbers[4] = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  json ports = json::array();
  for (int k = 0; k < 4; ++k) {
    SlotPort* port = station.slot(static_cast<size_t>(k));
    if (numbers[k] <= 0 || !port) continue;
    const std::string& link = port->pty().link_path();
    ports.push_back({
        {"slot", k + 1},
        {"name", "COM" + std::to_string(numbers[k])},
        {"path", link.empty() ? json(nullptr) : json(Absolute(link))},
        {"client", link.empty() ? json(nullptr) : Client(station, k)},
        {"network", Network(station, k)},
    });
  }
  struct stat info {};
  const bool logExists = stat(kLogFileName, &info) == 0;
  const auto up = std::chrono::steady_clock::now() - station.started();
  return {
      {"version", VELK_VERSION},
      {"station", Cp1252ToUtf8(station.recorder().Station())},
      {"pid", getpid()},
      {"front_end", station.front_end()},
      {"uptime_s", std::chrono::duration_cast<std::chrono::seconds>(up).count()},
      {"folder", fs::current_path().string()},
      {"serving",
       {{"mode", !session.SeveralPorts()  ? "single"
                 : s.AnswerEveryPort != 0 ? "every-port"
                                          : "served-slot"},
        {"served_slot", session.bridge().CurrentPort() + 1},
        {"active", session.TimerEnabled()}}},
      {"ports", ports},
      {"gauges", Gauges(station)},
      {"log",
       {{"on", s.LogOn == 1},
        {"file", Absolute(kLogFileName)},
        {"bytes", logExists ? json(static_cast<int64_t>(info.st_size)) : json(nullptr)}}},
      {"values", Values(station)},
      {"tls", Certificate(station)},
      {"web", station.web().Status()},
  };
}

json ServeSlot(Station& station, const std::string& slotText) {
  int slot = 0;
  if (slotText.size() != 1 || slotText[0] < '1' || slotText[0] > '4') {
    throw ControlServer::RequestError{"serve: give a slot 1..4"};
  }
  slot = slotText[0] - '0';
  VcpSession& session = station.session();
  if (session.Busy() != 0 || session.ShutDown()) {
    throw ControlServer::RequestError{"serve: the ports are being made anew; try again"};
  }
  if (!session.SeveralPorts()) {
    if (slot != 1) throw ControlServer::RequestError{"serve: only one port is set up"};
  } else if (!session.bridge().ServeSlot(slot)) {
    throw ControlServer::RequestError{"serve: slot " + slotText + " has no port"};
  }
  return {{"served_slot", session.bridge().CurrentPort() + 1}};
}

namespace {

// "PID (program)" for the log; a process whose program cannot be told (gone already, or
// another user's) is "PID (unknown program)".
std::string ProcessText(pid_t pid, const std::string& program) {
  return std::to_string(pid) + " (" + (program.empty() ? "unknown program" : program) + ")";
}

}  // namespace

json RefusedOpen(Station& station, const std::string& name, pid_t requester) {
  const std::string by = ProcessText(requester, ProgramName(requester));
  const SettingsRecord& s = station.session().settings();
  const int16_t numbers[4] = {s.VcpCom1, s.VcpCom2, s.VcpCom3, s.VcpCom4};
  for (int k = 0; k < 4; ++k) {
    SlotPort* port = station.slot(static_cast<size_t>(k));
    if (numbers[k] <= 0 || !port || name != "COM" + std::to_string(numbers[k])) continue;
    // Refusals are rare: one whose holder is not known yet looks it up now.
    const std::optional<PortHolder> holder = port->pty().ClientNameKnown()
                                                 ? port->pty().holder()
                                                 : FindPortHolder(port->pty().slave_path());
    if (const NetworkClient* remote = port->network().client()) {
      const std::string line = name + ": an open by " + by +
                               " was refused: held by network client " + remote->holder_text();
      std::cerr << "Velk_VCP: " << line << std::endl;
      station.session().bridge().Log().WriteLine(line);
      station.recorder().Audit("refused", requester, line);
      return json::object();
    }
    const std::string line = name + ": an open by " + by + " was refused: " +
                             (holder ? "held by " + ProcessText(holder->pid, holder->program)
                                     : std::string("held by a program of another user"));
    std::cerr << "Velk_VCP: " << line << std::endl;
    station.session().bridge().Log().WriteLine(line);
    station.recorder().Audit("refused", requester, line);
    return json::object();
  }
  throw ControlServer::RequestError{"no port " + name + " here"};
}

nlohmann::json ReloadSettings(Station& station, pid_t by) {
  SettingsRecord next;
  if (!ReadSettings("", next)) {
    throw ControlServer::RequestError{"reload: the settings file cannot be read"};
  }
  // The tool's own change, or a file edited by hand and taken over with `reload`.
  std::ifstream cmdline("/proc/" + std::to_string(by) + "/cmdline", std::ios::binary);
  bool reload = false;
  for (std::string arg; std::getline(cmdline, arg, '\0');) reload = reload || arg == "reload";
  const std::string reason =
      ChangeStationSettings(station, next, reload ? "reload" : "velk-vcp-config", by);
  if (!reason.empty()) throw ControlServer::RequestError{"reload: " + reason};
  return {{"reloaded", true}};
}

void AddStationRequests(ControlServer& server, Station& station) {
  server.On("reload", [&station, &server](const std::vector<std::string>& words) {
    if (words.size() != 1) throw ControlServer::RequestError{"reload takes no argument"};
    return ReloadSettings(station, server.peer_pid());
  });
  server.On("refused", [&station, &server](const std::vector<std::string>& words) {
    if (words.size() != 2) throw ControlServer::RequestError{"refused: give a port name"};
    return RefusedOpen(station, words[1], server.peer_pid());
  });
  server.On("status", [&station](const std::vector<std::string>& words) {
    if (words.size() != 1) throw ControlServer::RequestError{"status takes no argument"};
    return StationStatus(station);
  });
  server.On("serve", [&station](const std::vector<std::string>& words) {
    if (words.size() != 2) throw ControlServer::RequestError{"serve: give a slot 1..4"};
    return ServeSlot(station, words[1]);
  });
}

bool StartStationSocket(ControlServer& server, Station& station) {
  AddStationRequests(server, station);
  std::string reason, note;
  if (server.Start(kControlSocketName, reason, note)) {
    if (!note.empty()) std::cerr << "Velk_VCP: " << note << std::endl;
    return true;
  }
  std::cerr << "Velk_VCP: no status socket: " << reason << std::endl;
  return false;
}
