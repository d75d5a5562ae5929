// Peers that stall, close mid-answer, dribble, flood or send overlong lines.
#include <cstring>
#include <thread>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;
using Peer = QentrixPeer;

class RobustnessTest : public LanControlTest {};

TEST_F(RobustnessTest, NoAnswerWithinTheWaitGivesOneAndTheSlotGoesOn) {
  Peer::Reply stall;
  stall.silent = true;
  peer.QueueReply(stall);
  double value = 7;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 1);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 5s);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, 1.25);
}

TEST_F(RobustnessTest, AConnectionClosedMidAnswerGivesOneAtOnce) {
  Peer::Reply cut = Peer::Line("123.456");
  cut.close_after = 4;
  peer.QueueReply(cut);
  double value = 7;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 1);
}

TEST_F(RobustnessTest, AnAnswerFollowedByCloseIsStillRead) {
  Peer::Reply last = Peer::Line("6.5");
  last.close_after = 4;
  peer.QueueReply(last);
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, 6.5);
}

TEST_F(RobustnessTest, AnswersArrivingByteByByteAreAssembled) {
  Peer::Reply slow = Peer::Line("-98.765");
  slow.bytewise = true;
  peer.QueueReply(slow);
  Peer::Reply slow_text = Peer::Line("Characteristic name");
  slow_text.bytewise = true;
  peer.QueueReply(slow_text);
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, -98.765);
  char name[VELK_QENTRIX_TEXT_SIZE];
  EXPECT_EQ(lib.Control_Get_CharName(0, 1, name), 0);
  EXPECT_STREQ(name, "Characteristic name");
}

TEST_F(RobustnessTest, OverlongTextAnswersAreCutToTheBuffer) {
  const std::string long_line = std::string(100, 'a') + std::string(50, 'b');
  peer.QueueReply(Peer::Line(long_line));
  char name[VELK_QENTRIX_TEXT_SIZE + 16];
  std::memset(name, '#', sizeof name);
  EXPECT_EQ(lib.Control_Get_CharName(0, 1, name), 0);
  EXPECT_EQ(std::string(name), long_line.substr(0, 103));
  for (std::size_t i = VELK_QENTRIX_TEXT_SIZE; i < sizeof name; ++i) EXPECT_EQ(name[i], '#');
  EXPECT_EQ(lib.Control_Get_CharName(0, 2, name), 0);
  EXPECT_STREQ(name, "Characteristic 2");
}

TEST_F(RobustnessTest, LinesLongerThanTheRingAreCutNotOverwritten) {
  peer.QueueReply(Peer::Line("1234.5" + std::string(5000, '0')));
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  // The head of the line: "1234.5" followed by 97 zeros.
  EXPECT_EQ(value, 1234.5);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 2, &value), 0);
  EXPECT_EQ(value, 2.25);
}

TEST_F(RobustnessTest, AFloodOfUnaskedBytesIsDroppedWithoutLosingLaterAnswers) {
  ASSERT_TRUE(peer.WaitForConnections(1, 2s));
  peer.Push(std::string(20000, 'x'));
  ASSERT_TRUE(peer.WaitUntilSent(5s));
  double value = 0;
  int good = 0;
  for (int round = 0; round < 30 && good < 3; ++round) {
    const int16_t c = static_cast<int16_t>(round % 100 + 1);
    if (lib.Control_GetActCharValue(0, c, &value) == 0 && value == c + 0.25) {
      ++good;
    } else {
      good = 0;
    }
  }
  EXPECT_EQ(good, 3);
}

TEST_F(RobustnessTest, ARecordBetweenRequestAndAnswerIsReadAsPartOfTheLine) {
  Peer::Reply record_first;
  record_first.bytes = Peer::TriggerRecord(1, 1) + "5.5\r";
  peer.QueueReply(record_first);
  char text[VELK_QENTRIX_TEXT_SIZE];
  EXPECT_EQ(lib.Control_Get_CharUnit(0, 1, text), 0);
  // The line runs up to the record's CR; the record's first zero byte ends the text.
  EXPECT_EQ(std::string(text), std::string("\x13T\x01"));
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, 1.25);
}

}  // namespace
}  // namespace velk::lan::testing
