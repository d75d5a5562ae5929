#include "telnet_com_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Line = TelnetComPort::Line;

constexpr char kIac = '\xff';
constexpr char kWill = '\xfb', kWont = '\xfc', kDo = '\xfd', kDont = '\xfe';
const std::string kSignature = "Velk_VCP \xff COM5";

std::string Neg(char command, int option) { return {kIac, command, static_cast<char>(option)}; }

// A COM port subnegotiation, value escaped.
std::string Sb(int code, const std::string& value = "") {
  std::string out = {kIac, '\xfa', 44, static_cast<char>(code)};
  TelnetComPort::Escape(reinterpret_cast<const uint8_t*>(value.data()), value.size(), out);
  return out + kIac + '\xf0';
}
std::string Sb(int code, int value) { return Sb(code, std::string(1, static_cast<char>(value))); }

const std::string kOpening =
    Neg(kDo, 44) + Neg(kWill, 0) + Neg(kDo, 0) + Neg(kWill, 3) + Neg(kDo, 3);

struct Recorder : TelnetComPort::Sink {
  void Data(const uint8_t* b, size_t n) override {
    data.append(reinterpret_cast<const char*>(b), n);
  }
  void Reply(const uint8_t* b, size_t n) override {
    replies.append(reinterpret_cast<const char*>(b), n);
  }
  void Purge(bool input, bool output) override {
    purges += std::string(input ? "i" : "") + (output ? "o" : "") + ",";
  }
  std::string data, replies, purges;
};

std::string Describe(const Line& l) {
  return std::to_string(l.baud_rate) + " " + std::to_string(l.data_size) +
         std::to_string(l.parity) + std::to_string(l.stop_size) + " flow " +
         std::to_string(l.flow_control) + "/" + std::to_string(l.inbound_flow) + " dtr " +
         std::to_string(l.dtr) + " rts " + std::to_string(l.rts) + " break " +
         std::to_string(l.break_on);
}

struct Row {
  const char* name;
  std::string input;    // after Start and, with com_port, the client's WILL COM-PORT-OPTION
  std::string replies;  // after the opening and the first modem state
  std::string data = "";
  std::string purges = "";
  Line line = {};
  bool com_port = true;
  bool suspended = false;
};

TEST(TelnetComPort, AnswersClientBytesAlikeInOneCallOrByteByByte) {
  const std::string overlong = Sb(7, std::string(1200, 'A'));
  const std::vector<Row> rows = {
      {.name = "opening only", .input = "", .replies = "", .com_port = false},
      {.name = "client agrees: modem state once",
       .input = Neg(kWill, 44) + Neg(kWill, 44),
       .replies = Sb(107, 0xB0),
       .com_port = false},
      {.name = "pyserial's opening",
       .input = Neg(kDo, 1) + Neg(kWill, 3) + Neg(kDo, 3) + Neg(kDo, 44) + Neg(kWill, 44) +
                Neg(kDo, 0) + Neg(kWill, 0),
       .replies = Neg(kWont, 1) + Neg(kWill, 44) + Sb(107, 0xB0),
       .com_port = false},
      {.name = "commands before the option is agreed are ignored",
       .input = Sb(1, std::string("\0\1\xc2\0", 4)) + Sb(7),
       .replies = "",
       .com_port = false},
      {.name = "settings echo the requested value and stick",
       .input = Sb(1, std::string("\0\1\xc2\0", 4)) + Sb(2, 7) + Sb(3, 3) + Sb(4, 2) + Sb(5, 3) +
                Sb(5, 9) + Sb(5, 12) + Sb(5, 5) + Sb(5, 16) + Sb(5, 17),
       .replies = Sb(101, std::string("\0\1\xc2\0", 4)) + Sb(102, 7) + Sb(103, 3) + Sb(104, 2) +
                  Sb(105, 3) + Sb(105, 9) + Sb(105, 12) + Sb(105, 5) + Sb(105, 16) + Sb(105, 17),
       .line = {.baud_rate = 115200,
                .data_size = 7,
                .parity = 3,
                .stop_size = 2,
                .flow_control = 3,
                .inbound_flow = 16,
                .dtr = false,
                .rts = false,
                .break_on = true}},
      {.name = "requests get current values",
       .input = Sb(1, std::string(4, '\0')) + Sb(2, 0) + Sb(3, 0) + Sb(4, 0) + Sb(5, 0) + Sb(5, 4) +
                Sb(5, 7) + Sb(5, 10) + Sb(5, 13) + Sb(0),
       .replies = Sb(101, std::string("\0\0\x25\x80", 4)) + Sb(102, 8) + Sb(103, 1) + Sb(104, 1) +
                  Sb(105, 1) + Sb(105, 6) + Sb(105, 8) + Sb(105, 11) + Sb(105, 14) +
                  Sb(100, kSignature)},
      {.name = "out of range answered with current, malformed and unknown ignored",
       .input = Sb(2, 9) + Sb(3, 7) + Sb(4, 4) + Sb(5, 99) + Sb(2, "\7\7") + Sb(1, "\1") +
                Sb(12, 4) + Sb(6, 0) + Sb(60) + Sb(0, "client"),
       .replies = Sb(102, 8) + Sb(103, 1) + Sb(104, 1)},
      {.name = "purge reported and acknowledged",
       .input = Sb(12, 1) + Sb(12, 2) + Sb(12, 3),
       .replies = Sb(112, 1) + Sb(112, 2) + Sb(112, 3),
       .purges = "o,i,io,"},
      {.name = "modem poll and masks",
       .input = Sb(7) + Sb(11, 0x30) + Sb(11, 0x30) + Sb(7) + Sb(10, 0xFF) + Sb(11, 0xFF),
       .replies = Sb(107, 0xB0) + Sb(111, 0x30) + Sb(107, 0x30) + Sb(111, 0x30) + Sb(107, 0x30) +
                  Sb(110, 0xFF) + Sb(111, 0xFF) + Sb(107, 0xB0)},
      {.name = "flow control suspend", .input = Sb(9) + Sb(8), .replies = "", .suspended = true},
      {.name = "IAC IAC in data, other commands dropped",
       .input = "a\xff\xff"
                "b\xff\xf1"
                "c\xff\xf0\xff\x05\xff\xf6"
                "d" +
                Sb(5, 1).replace(2, 1, "\x18"),
       .replies = "",
       .data = "a\xff"
               "bcd"},
      {.name = "unknown options refused once, accepted ones not re-answered",
       .input = Neg(kDo, 1) + Neg(kDo, 1) + Neg(kWill, 24) + Neg(kWill, 24) + Neg(kDont, 1) +
                Neg(kWont, 24) + Neg(kDo, 200) + Neg(kWill, 0) + Neg(kDo, 0) + Neg(kDo, 3) +
                Neg(kWill, 44) + Neg(kDont, 44) + Neg(kWont, 0) + Neg(kWill, 0),
       .replies = Neg(kWont, 1) + Neg(kDont, 24) + Neg(kWont, 200) + Neg(kDont, 0) + Neg(kDo, 0)},
      {.name = "overlong subnegotiation skipped, parser recovers",
       .input = overlong + "x" + Sb(2, 6),
       .replies = Sb(102, 6),
       .data = "x",
       .line = {.data_size = 6}},
      {.name = "abandoned subnegotiation, next one counts",
       .input = std::string("\xff\xfa\x2c\x01\0\0\xff\xfa\x2c\x02\x05\xff\xf0", 13),
       .replies = Sb(102, 5),
       .line = {.data_size = 5}},
  };
  for (const Row& row : rows) {
    for (bool bytewise : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (bytewise ? ", byte by byte" : ", one call"));
      TelnetComPort port(kSignature);
      Recorder sink;
      port.Start(sink);
      std::string input = row.input;
      if (row.com_port) input = Neg(kWill, 44) + input;
      const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
      for (size_t i = 0; i < input.size(); i += bytewise ? 1 : input.size()) {
        port.Receive(bytes + i, bytewise ? 1 : input.size(), sink);
      }
      EXPECT_EQ(sink.replies, kOpening + (row.com_port ? Sb(107, 0xB0) : "") + row.replies);
      EXPECT_EQ(sink.data, row.data);
      EXPECT_EQ(sink.purges, row.purges);
      EXPECT_EQ(Describe(port.line()), Describe(row.line));
      EXPECT_EQ(port.OutputSuspended(), row.suspended);
    }
  }
  std::string escaped;
  TelnetComPort::Escape(reinterpret_cast<const uint8_t*>("a\xff"
                                                         "b"),
                        3, escaped);
  EXPECT_EQ(escaped,
            "a\xff\xff"
            "b");
}

}  // namespace
