// The write exports: request bytes, number texts, text limits and the "ok" answer.
#include <functional>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using Peer = QentrixPeer;

class WriteExportsTest : public LanControlTest {};

std::string WithText(std::initializer_list<int> head, const std::string& text) {
  return Bytes(head) + text;
}

TEST_F(WriteExportsTest, RequestsCarryTheirArgumentsAndNumberTexts) {
  using L = LanControlLibrary;
  const std::pair<std::function<int32_t(const L&)>, std::string> cases[] = {
      {[](const L& lib) { return lib.Control_SetRegister(0, 1, 2.5); },
       WithText({12, 31, 0, 1}, "2.500000")},
      {[](const L& lib) { return lib.Control_SetRegister(0, 2000, -1234567.125); },
       WithText({19, 31, 0x07, 0xD0}, "-1234567.125000")},
      {[](const L& lib) { return lib.Control_Set_USL(0, 3, -0.001f); },
       WithText({12, 73, 3}, "-0.001000")},
      {[](const L& lib) { return lib.Control_Set_Nominal(0, 128, 12.5f); },
       WithText({12, 71, 128}, "12.500000")},
      {[](const L& lib) { return lib.Control_Set_UCL(0, 1, 1.0f); },
       WithText({11, 75, 1}, "1.000000")},
      {[](const L& lib) { return lib.Control_Set_LCL(0, 1, 0.0f); },
       WithText({11, 77, 1}, "0.000000")},
      {[](const L& lib) { return lib.Control_Set_LSL(0, 1, -2.0f); },
       WithText({12, 79, 1}, "-2.000000")},
      {[](const L& lib) { return lib.Control_Set_Master1(0, 1, 100.0f); },
       WithText({13, 81, 1}, "100.000000")},
      {[](const L& lib) { return lib.Control_Set_Master2(0, 1, 0.5f); },
       WithText({11, 83, 1}, "0.500000")},
      {[](const L& lib) { return lib.Control_ChangeTestOrder(0, "ABC"); },
       WithText({6, 51, 3}, "ABC")},
      {[](const L& lib) { return lib.Control_Set_RIDataSet(0, 2, 5, "xy"); },
       WithText({8, 60, 2, 0, 5, 2}, "xy")},
      {[](const L& lib) { return lib.Control_Set_RIDataSet(0, 30, 0, ""); },
       Bytes({6, 60, 30, 0, 0, 0})},
      {[](const L& lib) { return lib.Control_Set_CharUnit(0, 7, "\xB5m"); },
       WithText({5, 85, 7}, "\xB5m")},
  };
  for (const auto& [call, request] : cases) {
    SCOPED_TRACE(Hex(request));
    peer.QueueReply(Peer::Line("ok"));
    EXPECT_EQ(call(lib), 0);
    EXPECT_EQ(Hex(OnlyRequest()), Hex(request));
  }
}

TEST_F(WriteExportsTest, AnythingButOkIsRefusedAndNoAnswerIsOne) {
  for (const auto& [answer, expected] :
       {std::pair{"OK", 2}, std::pair{"ok ", 2}, std::pair{"---", 2}, std::pair{"error", 2},
        std::pair{"", 1}, std::pair{"ok", 0}}) {
    SCOPED_TRACE(answer);
    peer.QueueReply(Peer::Line(answer));
    EXPECT_EQ(lib.Control_Set_Master1(0, 1, 1.0f), expected);
    peer.QueueReply(Peer::Line(answer));
    EXPECT_EQ(lib.Control_ChangeTestOrder(0, "A"), expected);
  }
}

TEST_F(WriteExportsTest, TextsUpToTheirLimitsAreSentLongerOnesRefused) {
  const std::string order(96, 'o');
  const std::string data_set(93, 'd');
  EXPECT_EQ(lib.Control_ChangeTestOrder(0, order.c_str()), 0);
  EXPECT_EQ(OnlyRequest(), WithText({99, 51, 96}, order));
  EXPECT_EQ(lib.Control_Set_CharUnit(0, 1, order.c_str()), 0);
  EXPECT_EQ(OnlyRequest(), WithText({99, 85, 1}, order));
  EXPECT_EQ(lib.Control_Set_RIDataSet(0, 1, 1, data_set.c_str()), 0);
  EXPECT_EQ(OnlyRequest(), WithText({99, 60, 1, 0, 1, 93}, data_set));

  EXPECT_EQ(lib.Control_ChangeTestOrder(0, (order + "x").c_str()), 3);
  EXPECT_EQ(lib.Control_Set_CharUnit(0, 1, (order + "x").c_str()), 3);
  EXPECT_EQ(lib.Control_Set_RIDataSet(0, 1, 1, (data_set + "x").c_str()), 3);
  EXPECT_EQ(lib.Control_ChangeTestOrder(0, nullptr), 3);
  EXPECT_EQ(lib.Control_Set_CharUnit(0, 1, nullptr), 3);
  EXPECT_EQ(lib.Control_Set_RIDataSet(0, 1, 1, nullptr), 3);
  EXPECT_TRUE(peer.Requests().empty());
}

TEST_F(WriteExportsTest, NumberTextsOverNinetyFiveCharactersAreRefused) {
  // 2e88 has 89 integer digits: 96 characters with ".000000", one too many.
  EXPECT_EQ(lib.Control_SetRegister(0, 1, 2e88), 3);
  EXPECT_EQ(lib.Control_SetRegister(0, 1, 1e300), 3);
  EXPECT_EQ(lib.Control_Set_Nominal(0, 1, 3e38f), 0);  // 39 digits fit
  EXPECT_EQ(lib.Control_SetRegister(0, 1, 2e87), 0);
  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].size(), 99u);
}

TEST_F(WriteExportsTest, OutOfRangeArgumentsSendNothing) {
  EXPECT_EQ(lib.Control_SetRegister(0, 0, 1), 3);
  EXPECT_EQ(lib.Control_SetRegister(0, 2001, 1), 3);
  EXPECT_EQ(lib.Control_SetRegister(100, 1, 1), 3);
  EXPECT_EQ(lib.Control_ChangeTestOrder(-1, "A"), 3);
  EXPECT_EQ(lib.Control_Set_RIDataSet(0, 0, 1, "A"), 3);
  EXPECT_EQ(lib.Control_Set_RIDataSet(0, 1, 129, "A"), 3);
  EXPECT_EQ(lib.Control_Set_Nominal(0, 0, 1), 3);
  EXPECT_EQ(lib.Control_Set_USL(0, 129, 1), 3);
  EXPECT_EQ(lib.Control_Set_CharUnit(0, 0, "mm"), 3);
  EXPECT_TRUE(peer.Requests().empty());
}

}  // namespace
}  // namespace velk::lan::testing
