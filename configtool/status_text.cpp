#include "status_text.h"

#include <cstdio>
#include <sstream>

using nlohmann::json;

namespace {

std::string Text(const json& j, const char* key, const std::string& otherwise = "") {
  if (!j.is_object() || !j.contains(key)) return otherwise;
  const json& v = j[key];
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return otherwise;
  return v.dump();
}

// A command or answer with its control bytes visible: "M1\r".
std::string Visible(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Duration(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

std::string StatusText(const json& status) {
  std::ostringstream out;
  const int64_t up = status.value("uptime_s", int64_t{0});
  out << "Velk_VCP " << Text(status, "version") << " (" << Text(status, "front_end") << ", pid "
      << Text(status, "pid") << "), up " << Duration(up) << "\n";
  out << "folder: " << Text(status, "folder") << "\n";
  const json serving = status.value("serving", json::object());
  const std::string mode = Text(serving, "mode");
  const std::string slot = Text(serving, "served_slot");
  out << "serving: ";
  if (mode == "single") {
    out << "one port";
  } else if (mode == "every-port") {
    out << "every port answers its own client; foot switch and data keys go to slot " << slot;
  } else {
    out << "slot " << slot << " (hot key or velk-vcp-config serve)";
  }
  if (serving.value("active", true) == false) out << "; paused";
  out << "\n";
  for (const json& port : status.value("ports", json::array())) {
    out << "port " << Text(port, "slot") << ": " << Text(port, "name") << " at "
        << Text(port, "path", "(not made)") << ": ";
    const json network = port.value("network", json());
    if (network.is_object()) {
      if (network.value("listening", false)) {
        out << "(also " << Text(network, "protocol")
            << (network.value("tls", false) ? " over TLS" : "") << " on "
            << Text(network, "address") << ":" << Text(network, "port") << ") ";
      } else {
        out << "(no network port: " << Text(network, "error") << ") ";
      }
    }
    const json client = port.value("client", json());
    if (!client.is_object()) {
      out << "no client\n";
      continue;
    }
    if (!Text(client, "network").empty()) {
      out << "network client ";
      if (!Text(client, "certificate").empty()) out << Text(client, "certificate") << " at ";
      out << Text(client, "network") << " (" << Text(client, "protocol")
          << (client.value("tls", false) ? " over TLS" : "") << ")";
    } else {
      out << Text(client, "program", "a program of another user") << " (pid "
          << Text(client, "pid", "unknown") << ")";
    }
    out << " since " << Text(client, "since") << ", " << Text(client, "commands") << " commands, "
        << Text(client, "answers") << " answers, " << Text(client, "bytes_in") << " bytes in, "
        << Text(client, "bytes_out") << " bytes out, " << Text(client, "dropped_bytes")
        << " bytes dropped";
    if (!Text(client, "last_command").empty()) {
      out << "; last command " << Visible(Text(client, "last_command"));
    }
    if (!Text(client, "last_answer").empty()) {
      out << ", last answer " << Visible(Text(client, "last_answer"));
    }
    out << "\n";
  }
  for (const json& gauge : status.value("gauges", json::array())) {
    out << "gauge " << Text(gauge, "input");
    if (!Text(gauge, "name").empty()) out << " " << Text(gauge, "name");
    out << ": ";
    if (!Text(gauge, "value").empty()) out << Text(gauge, "value") << " ";
    out << Text(gauge, "status");
    if (!Text(gauge, "age_ms").empty()) out << ", read " << Text(gauge, "age_ms") << " ms ago";
    const std::string source = Text(gauge, "source");
    if (source == "real") {
      out << ", real gauge on " << Text(gauge, "device");
    } else {
      out << ", " << source;
    }
    out << "\n";
  }
  const json log = status.value("log", json::object());
  out << "log: " << (log.value("on", false) ? "on, " : "off, ") << Text(log, "file");
  if (!Text(log, "bytes").empty()) out << ", " << Text(log, "bytes") << " bytes";
  out << "\n";
  const json tls = status.value("tls", json());
  if (tls.is_object()) {
    out << "TLS certificate: " << Text(tls, "subject") << ", valid until " << Text(tls, "expires")
        << " (" << Text(tls, "days_left") << " days)\n";
    if (!Text(tls, "warning").empty()) out << "warning: " << Text(tls, "warning") << "\n";
  }
  const json web = status.value("web", json());
  if (web.is_object()) {
    if (web.value("listening", false)) {
      std::string address = Text(web, "address");
      if (address.find(':') != std::string::npos) address = "[" + address + "]";
      out << "web page: " << (web.value("tls", false) ? "https://" : "http://") << address << ":"
          << Text(web, "port") << "/" << (web.value("password", false) ? " (password)" : "") << ", "
          << Text(web, "live_views") << " live views\n";
    } else {
      out << "web page: not served: " << Text(web, "error") << "\n";
    }
  }
  return out.str();
}
