// A slot's network port as the settings describe it, checked: where it listens, how it
// speaks, whom it lets in and when it gives a silent client up.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "address_allow_list.h"
#include "settings_record.h"

enum class NetProtocol { kRaw, kRfc2217 };

struct NetworkEndpointConfig {
  uint16_t port = 0;
  NetProtocol protocol = NetProtocol::kRaw;
  std::string bind_text = "127.0.0.1";  // as configured
  sockaddr_storage bind{};
  socklen_t bind_length = 0;
  std::vector<AddressBlock> allow;  // empty: every client (only on a loopback address)
  std::chrono::seconds idle_limit{60};
  // TLS: the connection is TLS, carrying the protocol; the station's certificate and key and
  // the CA of client certificates ("": none asked) are read when the port starts or reloads.
  bool tls = false;
  std::string tls_cert, tls_key, tls_client_ca;

  // Same address, port, protocol, clients, limit and TLS use (the files are not compared:
  // a renewed certificate is taken over without a new listener).
  bool operator==(const NetworkEndpointConfig& other) const;
};

// The idle limit when the settings give none.
inline constexpr std::chrono::seconds kDefaultIdleLimit{60};

// Reads slot 1..4's network port from s into config (nullopt: the slot has none). Returns
// false, with reason, when the settings are invalid: a port outside 1..65535, an unknown
// protocol, a listening address that is no IP literal, an allow-list entry that is no
// network, a listening address other than loopback without an allow list (or, for TLS, a
// client CA), or TLS without the station's certificate and key.
bool NetworkEndpointFromSettings(const SettingsRecord& s, int slot,
                                 std::optional<NetworkEndpointConfig>& config, std::string& reason);

// "127.0.0.1:4001 rfc2217" ("[::1]:4001 raw" for IPv6, "127.0.0.1:4001 raw over TLS").
std::string EndpointText(const NetworkEndpointConfig& config);

// "raw" or "rfc2217".
const char* ProtocolName(NetProtocol protocol);
