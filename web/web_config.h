// The station's web page as the settings describe it, checked: where it listens, whom it lets
// in, whether it speaks TLS and whether it asks for a password.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "address_allow_list.h"
#include "settings_record.h"

struct WebConfig {
  uint16_t port = 0;
  std::string bind_text = "127.0.0.1";  // as configured
  sockaddr_storage bind{};
  socklen_t bind_length = 0;
  std::vector<AddressBlock> allow;  // empty: every client (only on a loopback address)
  // TLS with the station's certificate and key; clients must show a certificate of the client
  // CA when one is set.
  bool tls = false;
  std::string tls_cert, tls_key, tls_client_ca;
  std::string password_file;  // UTF-8 path; empty: no password asked
  int16_t language = 1;       // 1 English, 2 German, 3 French

  // Same address, port, clients, TLS use, password file and language.
  bool operator==(const WebConfig& other) const;
};

// Reads the web page's settings from s into config (nullopt: the page is off). Returns false,
// with reason, when they are invalid: a port outside 1..65535, a listening address that is no
// IPv4 literal (the HTTP library has no IPv6), an allow-list entry that is no network, a listening
// address other than loopback without an allow list (or, with TLS, the station's client CA), TLS
// without the station's certificate and key, a password file that is not an absolute path, and a
// password on a listening address other than loopback without TLS (it would cross the network
// readable). Does not look at the file system.
bool WebConfigFromSettings(const SettingsRecord& s, std::optional<WebConfig>& config,
                           std::string& reason);

// "127.0.0.1:8080" ("0.0.0.0:8443 over TLS").
std::string WebEndpointText(const WebConfig& config);
