#include "serial_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

namespace {

constexpr std::array kStandardBauds = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

bool Frame(const std::string& data, const std::string& parity, const std::string& stop,
           SerialLine& line, std::string& error) {
  if (data.size() != 1 || data[0] < '5' || data[0] > '8') {
    error = "data bits '" + data + "' are not 5, 6, 7 or 8";
    return false;
  }
  line.data_bits = data[0] - '0';
  const char p = parity.size() == 1 ? static_cast<char>(std::toupper(parity[0])) : '?';
  if (p != 'N' && p != 'E' && p != 'O') {
    error = "parity '" + parity + "' is not N, E or O";
    return false;
  }
  line.parity = p == 'N' ? Parity::kNone : p == 'E' ? Parity::kEven : Parity::kOdd;
  if (stop != "1" && stop != "2") {
    error = "stop bits '" + stop + "' are not 1 or 2";
    return false;
  }
  line.stop_bits = stop[0] - '0';
  return true;
}

}  // namespace

bool IsStandardBaud(int baud) {
  return std::find(kStandardBauds.begin(), kStandardBauds.end(), baud) != kStandardBauds.end();
}

bool ParseSerialLine(std::string_view text, SerialLine& out, std::string& error) {
  const std::vector<std::string> w = Words(text);
  if (w.size() < 2) {
    error = "line settings '" + std::string(text) + "' need a speed and a frame such as 9600 8N1";
    return false;
  }
  SerialLine line;
  auto [ptr, ec] = std::from_chars(w[0].data(), w[0].data() + w[0].size(), line.baud);
  if (ec != std::errc() || ptr != w[0].data() + w[0].size() || !IsStandardBaud(line.baud)) {
    error = "speed '" + w[0] + "' is not a standard baud rate";
    return false;
  }
  size_t next = 0;
  if (w[1].size() == 3) {
    if (!Frame(w[1].substr(0, 1), w[1].substr(1, 1), w[1].substr(2, 1), line, error)) {
      return false;
    }
    next = 2;
  } else if (w.size() >= 4) {
    if (!Frame(w[1], w[2], w[3], line, error)) return false;
    next = 4;
  } else {
    error = "frame '" + w[1] + "' is not like 8N1";
    return false;
  }
  if (next < w.size()) {
    std::string flow = w[next];
    std::transform(flow.begin(), flow.end(), flow.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (flow == "none") {
      line.flow = FlowControl::kNone;
    } else if (flow == "rtscts") {
      line.flow = FlowControl::kRtsCts;
    } else if (flow == "xonxoff") {
      line.flow = FlowControl::kXonXoff;
    } else {
      error = "unknown port option '" + w[next] + "' (flow control is none, rtscts or xonxoff)";
      return false;
    }
    ++next;
  }
  if (next < w.size()) {
    error = "unknown port option '" + w[next] + "'";
    return false;
  }
  out = line;
  return true;
}

std::string DescribeSerialLine(const SerialLine& line) {
  std::string text = std::to_string(line.baud) + " " + std::to_string(line.data_bits);
  text += line.parity == Parity::kNone ? 'N' : line.parity == Parity::kEven ? 'E' : 'O';
  text += std::to_string(line.stop_bits);
  if (line.flow == FlowControl::kRtsCts) text += " rtscts";
  if (line.flow == FlowControl::kXonXoff) text += " xonxoff";
  return text;
}
