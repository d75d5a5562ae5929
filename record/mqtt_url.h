// The broker address of the MQTT publisher: mqtt://HOST[:PORT] or mqtts://HOST[:PORT].
#pragma once

#include <optional>
#include <string>

struct MqttUrl {
  std::string host;
  int port = 1883;
  bool tls = false;
};

// Reads url: scheme mqtt (port 1883 by default) or mqtts (TLS, 8883); HOST a name, an IPv4
// address or an IPv6 address in brackets; PORT 1..65535; nothing after it but an optional
// "/". Returns nothing for any other text.
std::optional<MqttUrl> ParseMqttUrl(const std::string& url);
