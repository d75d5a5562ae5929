#include "value_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "text_encoding.h"
#include "utc_time.h"

namespace {

bool ValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + length > text.size() || (length == 2 && c < 0xC2)) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

const std::string& ClientAsUtf8(const std::string& client, std::string& scratch) {
  // The port's client is named by the system, in UTF-8: converting it as an 8-bit text would
  // encode it twice.
  return ValidUtf8(client) ? client : Cp1252AsUtf8(client, scratch);
}

NumberedEvent InUtf8(NumberedEvent n) {
  std::string scratch;
  n.event.station = Cp1252ToUtf8(n.event.station);
  n.event.client = std::string(ClientAsUtf8(n.event.client, scratch));
  n.event.text = Cp1252ToUtf8(n.event.text);
  n.event.name = Cp1252ToUtf8(n.event.name);
  n.event.unit = Cp1252ToUtf8(n.event.unit);
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

// Appends the JSON of n; text(s) gives its station and text in UTF-8, client(s) its client.
template <typename Text, typename Client>
void AppendJson(std::string& out, const NumberedEvent& n, Text text, Client client) {
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
  AppendJsonString(out, client(e.client));
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
  out += "\",\"name\":";
  AppendJsonString(out, text(e.name));
  out += ",\"unit\":";
  AppendJsonString(out, text(e.unit));
  const std::pair<const char*, const std::optional<double>*> limits[] = {
      {",\"usl\":", &e.limits.usl},
      {",\"ucl\":", &e.limits.ucl},
      {",\"lcl\":", &e.limits.lcl},
      {",\"lsl\":", &e.limits.lsl}};
  for (const auto& [member, limit] : limits) {
    out += member;
    out += limit->has_value() ? JsonNumber(**limit) : "null";
  }
  out += '}';
}

}  // namespace

std::string ValueEventJson(const NumberedEvent& n) {
  std::string json;
  auto same = [](const std::string& utf8) -> const std::string& { return utf8; };
  AppendJson(json, n, same, same);
  return json;
}

void AppendValueEventJson8Bit(std::string& out, const NumberedEvent& n, std::string& scratch) {
  AppendJson(
      out, n,
      [&scratch](const std::string& text) -> const std::string& {
        return Cp1252AsUtf8(text, scratch);
      },
      [&scratch](const std::string& client) -> const std::string& {
        return ClientAsUtf8(client, scratch);
      });
}
