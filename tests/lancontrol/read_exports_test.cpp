// The read exports: request bytes, outputs, the "---" and empty answers, the two-step
// exports and the date-and-time answers.
#include <cstring>
#include <functional>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using Peer = QentrixPeer;

class ReadExportsTest : public LanControlTest {};

struct ReadCase {
  const char* name;
  std::string request;
  std::function<int32_t(const LanControlLibrary&, std::string&)> call;  // output as text
  const char* answer;
  const char* output;
};

std::string Text(double value) { return std::to_string(value); }

std::vector<ReadCase> ReadCases() {
  const auto text_getter = [](auto getter) {
    return [getter](const LanControlLibrary& lib, std::string& out) {
      char text[VELK_QENTRIX_TEXT_SIZE];
      const int32_t result = getter(lib, text);
      out = text;
      return result;
    };
  };
  const auto float_getter = [](auto member, int16_t c) {
    return [member, c](const LanControlLibrary& lib, std::string& out) {
      float value = 0;
      const int32_t result = (lib.*member)(0, c, &value);
      out = Text(value);
      return result;
    };
  };
  using L = LanControlLibrary;
  return {
      {"GetActCharValue", Bytes({3, 1, 7}),
       [](const L& lib, std::string& out) {
         double v = 0;
         const int32_t r = lib.Control_GetActCharValue(0, 7, &v);
         out = Text(v);
         return r;
       },
       " 12.5xyz", "12.500000"},
      {"GetCharValue", Bytes({5, 2, 128, 0x12, 0x34}),
       [](const L& lib, std::string& out) {
         double v = 0;
         const int32_t r = lib.Control_GetCharValue(0, 128, 0x1234, &v);
         out = Text(v);
         return r;
       },
       "-3e2", "-300.000000"},
      {"GetCharValNum", Bytes({3, 3, 1}),
       [](const L& lib, std::string& out) {
         int32_t n = 0;
         const int32_t r = lib.Control_GetCharValNum(0, 1, &n);
         out = std::to_string(n);
         return r;
       },
       "42 values", "42"},
      {"GetCharDateTime", Bytes({5, 5, 2, 0xFF, 0xFF}), text_getter([](const L& lib, char* t) {
         return lib.Control_GetCharDateTime(0, 2, 65535, t);
       }),
       "1589205909", "14:05:09 - 05/11/2020"},
      {"GetRegister", Bytes({4, 30, 0x07, 0xD0}),
       [](const L& lib, std::string& out) {
         double v = 0;
         const int32_t r = lib.Control_GetRegister(0, 2000, &v);
         out = Text(v);
         return r;
       },
       "0.125", "0.125000"},
      {"Get_RegisterName", Bytes({4, 32, 0, 1}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_RegisterName(0, 1, t); }),
       "Pressure bar", "Pressure bar"},
      {"Get_ActTestOrder", Bytes({2, 53}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_ActTestOrder(0, t); }),
       "Order 12", "Order 12"},
      {"Get_ActTestScheme", Bytes({2, 54}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_ActTestScheme(0, t); }),
       "Scheme", "Scheme"},
      {"Get_ActTestStep", Bytes({2, 55}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_ActTestStep(0, t); }),
       "Step 3", "Step 3"},
      {"Get_CharName", Bytes({3, 57, 9}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_CharName(0, 9, t); }),
       "Diameter", "Diameter"},
      {"Read_RIDataSet", Bytes({5, 61, 30, 0, 0}),
       text_getter([](const L& lib, char* t) { return lib.Control_Read_RIDataSet(0, 30, 0, t); }),
       "batch 7", "batch 7"},
      {"Get_CharUnit", Bytes({3, 84, 4}),
       text_getter([](const L& lib, char* t) { return lib.Control_Get_CharUnit(0, 4, t); }), "mm",
       "mm"},
      {"Get_StatParam", Bytes({4, 90, 5, 0x34}),
       [](const L& lib, std::string& out) {
         double v = 0;
         const int32_t r = lib.Control_Get_StatParam(0, 5, 0x1234, &v);
         out = Text(v);
         return r;
       },
       "1.33", "1.330000"},
      {"Get_Nominal", Bytes({3, 70, 3}), float_getter(&L::Control_Get_Nominal, 3), "10.1",
       "10.100000"},
      {"Get_USL", Bytes({3, 72, 3}), float_getter(&L::Control_Get_USL, 3), "10.2", "10.200000"},
      {"Get_UCL", Bytes({3, 74, 3}), float_getter(&L::Control_Get_UCL, 3), "10.3", "10.300000"},
      {"Get_LCL", Bytes({3, 76, 3}), float_getter(&L::Control_Get_LCL, 3), "9.7", "9.700000"},
      {"Get_LSL", Bytes({3, 78, 3}), float_getter(&L::Control_Get_LSL, 3), "9.8", "9.800000"},
      {"Get_Master1", Bytes({3, 80, 3}), float_getter(&L::Control_Get_Master1, 3), "1.5",
       "1.500000"},
      {"Get_Master2", Bytes({3, 82, 3}), float_getter(&L::Control_Get_Master2, 3), "-2",
       "-2.000000"},
  };
}

TEST_F(ReadExportsTest, EveryReadExportSendsItsRequestAndReadsTheAnswer) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.name);
    peer.QueueReply(Peer::Line(c.answer));
    std::string out;
    EXPECT_EQ(c.call(lib, out), 0);
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(Hex(OnlyRequest()), Hex(c.request));
  }
}

TEST_F(ReadExportsTest, NoValueGivesTwoAndEmptyLineGivesOneWithOutputsUntouched) {
  for (const ReadCase& c : ReadCases()) {
    SCOPED_TRACE(c.name);
    for (const auto& [answer, expected] : {std::pair{"---", 2}, std::pair{"", 1}}) {
      peer.QueueReply(Peer::Line(answer));
      std::string out;
      EXPECT_EQ(c.call(lib, out), expected);
      EXPECT_EQ(Hex(OnlyRequest()), Hex(c.request));
    }
  }
  double value = 7;
  peer.QueueReply(Peer::Line("---"));
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 2);
  EXPECT_EQ(value, 7);
  char text[VELK_QENTRIX_DATE_TIME_SIZE] = "unchanged";
  peer.QueueReply(Peer::Line("---"));
  EXPECT_EQ(lib.Control_GetCharDateTime(0, 1, 1, text), 2);
  EXPECT_STREQ(text, "unchanged");
}

TEST_F(ReadExportsTest, NumbersThatAreNotNumbersReadAsZero) {
  double value = 7;
  peer.QueueReply(Peer::Line("n/a"));
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, 0);
}

TEST_F(ReadExportsTest, LastCharValueAsksForTheCountThenForThatValue) {
  double value = 0;
  peer.QueueReply(Peer::Line("70000"));
  peer.QueueReply(Peer::Line("3.5"));
  EXPECT_EQ(lib.Control_GetLastCharValue(0, 6, &value), 0);
  EXPECT_EQ(value, 3.5);
  // 70,000 keeps its low 16 bits: value number 4,464 = 0x1170.
  EXPECT_EQ(peer.Requests(), (std::vector{Bytes({3, 3, 6}), Bytes({5, 2, 6, 0x11, 0x70})}));
}

TEST_F(ReadExportsTest, LastCharValueAndDateTimeStopAtACountOfZeroOrNoValue) {
  double value = 9;
  char text[VELK_QENTRIX_DATE_TIME_SIZE] = "unchanged";
  peer.QueueReply(Peer::Line("0"));
  EXPECT_EQ(lib.Control_GetLastCharValue(0, 6, &value), 3);
  peer.QueueReply(Peer::Line("0"));
  EXPECT_EQ(lib.Control_GetLastCharDateTime(0, 6, text), 3);
  peer.QueueReply(Peer::Line("---"));
  EXPECT_EQ(lib.Control_GetLastCharValue(0, 6, &value), 2);
  peer.QueueReply(Peer::Line("2"));
  peer.QueueReply(Peer::Line("---"));
  EXPECT_EQ(lib.Control_GetLastCharDateTime(0, 6, text), 2);
  EXPECT_EQ(value, 9);
  EXPECT_STREQ(text, "unchanged");
  EXPECT_EQ(peer.Requests(), (std::vector{Bytes({3, 3, 6}), Bytes({3, 3, 6}), Bytes({3, 3, 6}),
                                          Bytes({3, 3, 6}), Bytes({5, 5, 6, 0, 2})}));
}

TEST_F(ReadExportsTest, DateTimeAnswersBecomeTextOfTwentyOneCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"0", "00:00:00 - 01/01/1970"},
      {"951782400", "00:00:00 - 02/29/2000"},
      {"1589205909", "14:05:09 - 05/11/2020"},
  };
  for (const auto& [answer, expected] : cases) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    peer.QueueReply(Peer::Line("5"));
    peer.QueueReply(Peer::Line(answer));
    EXPECT_EQ(lib.Control_GetLastCharDateTime(0, 1, text), 0);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(text[VELK_QENTRIX_DATE_TIME_SIZE], 'x');
  }
}

TEST_F(ReadExportsTest, OutOfRangeArgumentsSendNothing) {
  double value = 0;
  int32_t count = 0;
  float limit = 0;
  char text[VELK_QENTRIX_TEXT_SIZE];
  int16_t number = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 0, &value), 3);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 129, &value), 3);
  EXPECT_EQ(lib.Control_GetActCharValue(100, 1, &value), 3);
  EXPECT_EQ(lib.Control_GetActCharValue(-1, 1, &value), 3);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, nullptr), 3);
  EXPECT_EQ(lib.Control_GetCharValue(0, 1, 0, &value), 4);
  EXPECT_EQ(lib.Control_GetCharValue(0, 1, 65536, &value), 4);
  EXPECT_EQ(lib.Control_GetCharValue(0, 0, 1, &value), 4);
  EXPECT_EQ(lib.Control_GetCharValue(100, 1, 1, &value), 4);
  EXPECT_EQ(lib.Control_GetCharValNum(0, 129, &count), 4);
  EXPECT_EQ(lib.Control_GetCharValNum(0, 1, nullptr), 4);
  EXPECT_EQ(lib.Control_GetLastCharValue(-1, 1, &value), 4);
  EXPECT_EQ(lib.Control_GetCharDateTime(0, 1, -5, text), 4);
  EXPECT_EQ(lib.Control_GetLastCharDateTime(0, 0, text), 4);
  EXPECT_EQ(lib.Control_GetRegister(0, 0, &value), 3);
  EXPECT_EQ(lib.Control_GetRegister(0, 2001, &value), 3);
  EXPECT_EQ(lib.Control_Get_RegisterName(0, 2001, text), 3);
  EXPECT_EQ(lib.Control_Get_ActTestOrder(100, text), 3);
  EXPECT_EQ(lib.Control_Get_ActTestScheme(0, nullptr), 3);
  EXPECT_EQ(lib.Control_Get_ActTestStep(-1, text), 3);
  EXPECT_EQ(lib.Control_Get_CharName(0, 0, text), 3);
  EXPECT_EQ(lib.Control_Read_RIDataSet(0, 0, 1, text), 3);
  EXPECT_EQ(lib.Control_Read_RIDataSet(0, 31, 1, text), 3);
  EXPECT_EQ(lib.Control_Read_RIDataSet(0, 1, 129, text), 3);
  EXPECT_EQ(lib.Control_Read_RIDataSet(0, 1, -1, text), 3);
  EXPECT_EQ(lib.Control_Get_Nominal(0, 129, &limit), 3);
  EXPECT_EQ(lib.Control_Get_Master2(0, 1, nullptr), 3);
  EXPECT_EQ(lib.Control_Get_CharUnit(0, 200, text), 3);
  EXPECT_EQ(lib.Control_Get_StatParam(0, 0, 1, &value), 3);
  EXPECT_EQ(lib.Control_Get_GTrigVal(100, &number, &value), 3);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, nullptr, &value), 3);

  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(peer.Requests(), std::vector{Bytes({3, 1, 1})});
}

}  // namespace
}  // namespace velk::lan::testing
