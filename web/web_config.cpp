#include "web_config.h"

#include <charconv>
#include <cstring>
#include <sstream>

#include "address_allow_list.h"
#include "text_encoding.h"

namespace {}  // namespace

bool WebConfig::operator==(const WebConfig& other) const {
  if (port != other.port || bind_length != other.bind_length ||
      std::memcmp(&bind, &other.bind, bind_length) != 0 || tls != other.tls ||
      tls_client_ca != other.tls_client_ca || password_file != other.password_file ||
      language != other.language || allow.size() != other.allow.size()) {
    return false;
  }
  for (size_t i = 0; i < allow.size(); ++i) {
    if (AddressBlockText(allow[i]) != AddressBlockText(other.allow[i])) return false;
  }
  return true;
}

bool WebConfigFromSettings(const SettingsRecord& s, std::optional<WebConfig>& config,
                           std::string& reason) {
  config.reset();
  if (s.WebPort.empty() || s.WebPort == "0") return true;
  const std::string where;
  WebConfig c;
  unsigned port = 0;
  const auto [end, error] =
      std::from_chars(s.WebPort.data(), s.WebPort.data() + s.WebPort.size(), port);
  if (error != std::errc() || end != s.WebPort.data() + s.WebPort.size() || port < 1 ||
      port > 65535) {
    reason = where + "not a TCP port: " + s.WebPort;
    return false;
  }
  c.port = static_cast<uint16_t>(port);
  if (!s.WebBind.empty()) c.bind_text = s.WebBind;
  std::string why;
  if (!ParseBindAddress(c.bind_text, c.port, c.bind, c.bind_length, why)) {
    reason = where + why;
    return false;
  }
  // Debian 12's HTTP library is built without IPv6.
  if (c.bind.ss_family == AF_INET6) {
    reason = where + "listening on " + c.bind_text +
             ": the web page listens on IPv4 addresses only (127.0.0.1, 0.0.0.0, ...)";
    return false;
  }
  for (const std::string& entry : SplitAllowList(s.WebAllow)) {
    AddressBlock block;
    if (!ParseAddressBlock(entry, block, why)) {
      reason = where + why;
      return false;
    }
    c.allow.push_back(block);
  }
  if (s.WebTls != 0) {
    if (s.TlsCertFile.empty() || s.TlsKeyFile.empty()) {
      reason = where +
               "TLS needs the station's certificate (velk-vcp-config tls --cert FILE --key FILE)";
      return false;
    }
    c.tls = true;
    c.tls_cert = Cp1252ToUtf8(s.TlsCertFile);
    c.tls_key = Cp1252ToUtf8(s.TlsKeyFile);
    c.tls_client_ca = Cp1252ToUtf8(s.TlsClientCaFile);
  }
  const bool loopback =
      IsLoopbackAddress(reinterpret_cast<const sockaddr*>(&c.bind), c.bind_length);
  const bool clientsVerified = c.tls && !c.tls_client_ca.empty();
  if (c.allow.empty() && !clientsVerified && !loopback) {
    reason = where + "listening on " + c.bind_text +
             " needs an allow list of client networks (--allow)" +
             (c.tls ? " or a client CA (velk-vcp-config tls --client-ca FILE)" : "");
    return false;
  }
  if (!s.WebPasswordFile.empty()) {
    c.password_file = Cp1252ToUtf8(s.WebPasswordFile);
    if (c.password_file.front() != '/') {
      reason = where + "the password file " + c.password_file + " is not an absolute path";
      return false;
    }
    if (!c.tls && !loopback) {
      reason = where + "a password on " + c.bind_text +
               " would cross the network readable: use --tls, or listen on 127.0.0.1";
      return false;
    }
  }
  c.language = s.LanguageNo >= 1 && s.LanguageNo <= 3 ? s.LanguageNo : 1;
  config = c;
  return true;
}

std::string WebEndpointText(const WebConfig& config) {
  std::string address =
      AddressText(reinterpret_cast<const sockaddr*>(&config.bind), config.bind_length);
  if (address.find(':') != std::string::npos) address = "[" + address + "]";
  return address + ":" + std::to_string(config.port) + (config.tls ? " over TLS" : "");
}
