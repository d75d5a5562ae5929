#include "mqtt_url.h"

#include <cctype>

std::optional<MqttUrl> ParseMqttUrl(const std::string& url) {
  MqttUrl result;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    result.tls = true;
    result.port = 8883;
  } else {
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  std::string portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos || close == 1) return std::nullopt;
    result.host = rest.substr(1, close - 1);
    for (const char c : result.host) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
        return std::nullopt;
    }
    rest = rest.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const size_t colon = rest.find(':');
    result.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      portText = rest.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
    if (result.host.empty()) return std::nullopt;
    for (const char c : result.host) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') {
        return std::nullopt;
      }
    }
  }
  if (!portText.empty()) {
    if (portText.size() > 5) return std::nullopt;
    int port = 0;
    for (const char c : portText) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    result.port = port;
  }
  return result;
}
