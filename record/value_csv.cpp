#include "value_csv.h"

#include <cstdio>

#include "utc_time.h"
#include "value_json.h"

namespace {

std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Visible(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20 || code == 0x7f) {
      out += "<" + std::to_string(code) + ">";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string ValueCsvHeader() {
  return "seq,time,station,slot,port,client,gauge,number,text,status,cause\r\n";
}

std::string ValueCsvLine(const NumberedEvent& n) {
  const ValueEvent& e = n.event;
  const std::string number = JsonNumber(e.number);
  return std::to_string(n.seq) + "," + IsoUtc(e.utc_ms) + "," + Field(e.station) + "," +
         std::to_string(e.slot) + "," + Field(e.port) + "," + Field(e.client) + "," +
         std::to_string(e.device) + "." + std::to_string(e.input) + "," +
         (number == "null" ? "" : number) + "," + Field(Visible(e.text)) + "," +
         ValueStatusWord(e.status) + "," + ValueCauseWord(e.cause) + "\r\n";
}
