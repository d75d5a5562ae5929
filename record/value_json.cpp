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

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
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
  out += '"';
}

std::string JsonString(std::string_view utf8) {
  std::string out;
  AppendJsonString(out, utf8);
  return out;
}

std::string JsonNumber(double number) {
  if (!std::isfinite(number)) return "null";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, number);
  return std::string(text, result.ptr);
}

namespace {

// Appends the JSON of n; text(s) gives each of its texts in UTF-8.
template <typename Text>
void AppendJson(std::string& out, const NumberedEvent& n, Text text) {
  const ValueEvent& e = n.event;
  out += "{\"seq\":";
  out += std::to_string(n.seq);
  out += ",\"time\":\"";
  out += IsoUtc(e.utc_ms);
  out += "\",\"station\":";
  AppendJsonString(out, text(e.station));
  out += ",\"slot\":";
  out += std::to_string(e.slot);
  out += ",\"port\":";
  AppendJsonString(out, e.port);
  out += ",\"client\":";
  AppendJsonString(out, text(e.client));
  out += ",\"gauge\":\"";
  out += std::to_string(e.device);
  out += '.';
  out += std::to_string(e.input);
  out += "\",\"number\":";
  out += JsonNumber(e.number);
  out += ",\"text\":";
  AppendJsonString(out, text(e.text));
  out += ",\"status\":\"";
  out += ValueStatusWord(e.status);
  out += "\",\"cause\":\"";
  out += ValueCauseWord(e.cause);
  out += "\"}";
}

}  // namespace

std::string ValueEventJson(const NumberedEvent& n) {
  std::string json;
  AppendJson(json, n, [](const std::string& utf8) -> const std::string& { return utf8; });
  return json;
}

void AppendValueEventJson8Bit(std::string& out, const NumberedEvent& n, std::string& scratch) {
  AppendJson(out, n, [&scratch](const std::string& text) -> const std::string& {
    return Cp1252AsUtf8(text, scratch);
  });
}
