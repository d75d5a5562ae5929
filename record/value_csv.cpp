#include "value_csv.h"

#include <cstdio>
#include <string_view>

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

// True for a text that is a plain decimal number: a sign, digits with at most one ".", an
// exponent ("-0.5", "+1.25e-3").
bool PlainNumber(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const size_t exponent = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == exponent) return false;
  }
  return i == text.size();
}

// A text that a spreadsheet would take for a formula (=, +, -, @, a tab or CR first) gets an
// apostrophe in front, so that it shows as text and is never run; a plain number stays one.
std::string Inert(std::string text) {
  if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos ||
      PlainNumber(text)) {
    return text;
  }
  return "'" + text;
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
  return "seq,time,station,slot,port,client,gauge,number,text,status,cause,name,unit,usl,ucl,lcl,"
         "lsl\r\n";
}

std::string ValueCsvLine(const NumberedEvent& n) {
  const ValueEvent& e = n.event;
  // A number that is not finite, and a limit not set, leave their cell empty.
  auto cell = [](std::optional<double> number) {
    const std::string text = number ? JsonNumber(*number) : "null";
    return text == "null" ? std::string() : text;
  };
  return std::to_string(n.seq) + "," + IsoUtc(e.utc_ms) + "," + Field(Inert(e.station)) + "," +
         std::to_string(e.slot) + "," + Field(Inert(e.port)) + "," + Field(Inert(e.client)) + "," +
         std::to_string(e.device) + "." + std::to_string(e.input) + "," + cell(e.number) + "," +
         Field(Inert(Visible(e.text))) + "," + ValueStatusWord(e.status) + "," +
         ValueCauseWord(e.cause) + "," + Field(Inert(Visible(e.name))) + "," +
         Field(Inert(Visible(e.unit))) + "," + cell(e.limits.usl) + "," + cell(e.limits.ucl) + "," +
         cell(e.limits.lcl) + "," + cell(e.limits.lsl) + "\r\n";
}
