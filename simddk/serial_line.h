// The line settings of a serial gauge port: speed, frame and flow control, as the device file
// writes them ("9600 8N1", "4800 7E2 rtscts").
#pragma once

#include <string>
#include <string_view>

enum class Parity { kNone, kEven, kOdd };
enum class FlowControl { kNone, kRtsCts, kXonXoff };

struct SerialLine {
  int baud = 9600;
  int data_bits = 8;
  Parity parity = Parity::kNone;
  int stop_bits = 1;
  FlowControl flow = FlowControl::kNone;
  bool operator==(const SerialLine&) const = default;
};

// Parses "BAUD FRAME [FLOW]" or "BAUD DATABITS PARITY STOPBITS [FLOW]": BAUD one of the
// standard rates 50..4000000, FRAME like 8N1 or 7E2 (data bits 5..8, parity N, E or O, stop
// bits 1 or 2), FLOW none, rtscts or xonxoff. Returns true and sets out on success; returns
// false and sets error (out untouched) otherwise.
bool ParseSerialLine(std::string_view text, SerialLine& out, std::string& error);

// Describes line settings in the syntax ParseSerialLine reads, e.g. "9600 8N1".
std::string DescribeSerialLine(const SerialLine& line);

// True when baud is one of the standard rates ParseSerialLine accepts.
bool IsStandardBaud(int baud);
