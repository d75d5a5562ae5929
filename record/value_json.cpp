#include "value_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "text_encoding.h"
#include "utc_time.h"

NumberedEvent InUtf8(NumberedEvent n) {
  n.event.station = Cp1252ToUtf8(n.event.station);
  n.event.client = Cp1252ToUtf8(n.event.client);
  n.event.text = Cp1252ToUtf8(n.event.text);
  return n;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (code < 0x20 || code == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double number) {
  if (!std::isfinite(number)) return "null";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, number);
  return std::string(text, result.ptr);
}

std::string ValueEventJson(const NumberedEvent& n) {
  const ValueEvent& e = n.event;
  std::string json = "{\"seq\":" + std::to_string(n.seq);
  json += ",\"time\":\"" + IsoUtc(e.utc_ms) + "\"";
  json += ",\"station\":" + JsonString(e.station);
  json += ",\"slot\":" + std::to_string(e.slot);
  json += ",\"port\":" + JsonString(e.port);
  json += ",\"client\":" + JsonString(e.client);
  json += ",\"gauge\":\"" + std::to_string(e.device) + "." + std::to_string(e.input) + "\"";
  json += ",\"number\":" + JsonNumber(e.number);
  json += ",\"text\":" + JsonString(e.text);
  json += ",\"status\":\"" + std::string(ValueStatusWord(e.status)) + "\"";
  json += ",\"cause\":\"" + std::string(ValueCauseWord(e.cause)) + "\"}";
  return json;
}
