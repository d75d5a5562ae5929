#include "endpoint_config.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>

#include "address_allow_list.h"

namespace {}  // namespace

bool NetworkEndpointConfig::operator==(const NetworkEndpointConfig& other) const {
  if (port != other.port || protocol != other.protocol || bind_length != other.bind_length ||
      std::memcmp(&bind, &other.bind, bind_length) != 0 || idle_limit != other.idle_limit ||
      tls != other.tls || allow.size() != other.allow.size()) {
    return false;
  }
  for (size_t i = 0; i < allow.size(); ++i) {
    if (AddressBlockText(allow[i]) != AddressBlockText(other.allow[i])) return false;
  }
  return true;
}

const char* ProtocolName(NetProtocol protocol) {
  return protocol == NetProtocol::kRfc2217 ? "rfc2217" : "raw";
}

bool NetworkEndpointFromSettings(const SettingsRecord& s, int slot,
                                 std::optional<NetworkEndpointConfig>& config,
                                 std::string& reason) {
  config.reset();
  if (slot < 1 || slot > 4) return true;
  const auto k = static_cast<size_t>(slot);
  const std::string& portText = s.NetPort[k];
  if (portText.empty() || portText == "0") return true;
  const std::string where = "network port of slot " + std::to_string(slot) + ": ";
  NetworkEndpointConfig c;
  unsigned port = 0;
  const auto [end, error] =
      std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (error != std::errc() || end != portText.data() + portText.size() || port < 1 ||
      port > 65535) {
    reason = where + "not a TCP port: " + portText;
    return false;
  }
  c.port = static_cast<uint16_t>(port);
  const std::string& protocol = s.NetProtocol[k];
  if (protocol == "rfc2217") {
    c.protocol = NetProtocol::kRfc2217;
  } else if (!protocol.empty() && protocol != "raw") {
    reason = where + "unknown protocol " + protocol + " (raw or rfc2217)";
    return false;
  }
  if (!s.NetBind[k].empty()) c.bind_text = s.NetBind[k];
  std::string why;
  if (!ParseBindAddress(c.bind_text, c.port, c.bind, c.bind_length, why)) {
    reason = where + why;
    return false;
  }
  for (const std::string& entry : SplitAllowList(s.NetAllow[k])) {
    AddressBlock block;
    if (!ParseAddressBlock(entry, block, why)) {
      reason = where + why;
      return false;
    }
    c.allow.push_back(block);
  }
  if (s.NetTls[k] != 0) {
    if (s.TlsCertFile.empty() || s.TlsKeyFile.empty()) {
      reason = where +
               "TLS needs the station's certificate (velk-vcp-config tls --cert FILE --key FILE)";
      return false;
    }
    c.tls = true;
    c.tls_cert = s.TlsCertFile;
    c.tls_key = s.TlsKeyFile;
    c.tls_client_ca = s.TlsClientCaFile;
  }
  const bool clientsVerified = c.tls && !c.tls_client_ca.empty();
  if (c.allow.empty() && !clientsVerified &&
      !IsLoopbackAddress(reinterpret_cast<const sockaddr*>(&c.bind), c.bind_length)) {
    reason = where + "listening on " + c.bind_text +
             " needs an allow list of client networks (--allow)" +
             (c.tls ? " or a client CA (velk-vcp-config tls --client-ca FILE)" : "");
    return false;
  }
  if (s.NetIdleSeconds > 0) c.idle_limit = std::chrono::seconds(s.NetIdleSeconds);
  config = c;
  return true;
}

std::string EndpointText(const NetworkEndpointConfig& config) {
  std::string address =
      AddressText(reinterpret_cast<const sockaddr*>(&config.bind), config.bind_length);
  if (address.find(':') != std::string::npos) address = "[" + address + "]";
  return address + ":" + std::to_string(config.port) + " " + ProtocolName(config.protocol) +
         (config.tls ? " over TLS" : "");
}
