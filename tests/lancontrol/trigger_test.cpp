// Trigger records pushed by the peer: queued oldest first, kept after the connection ends,
// drained before every request together with any stray bytes.
#include <thread>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;
using Peer = QentrixPeer;

class TriggerTest : public LanControlTest {
 protected:
  // Pushes `bytes` and waits until they have had time to arrive in the library.
  void PushAndSettle(const std::string& bytes) {
    ASSERT_TRUE(peer.WaitForConnections(1, 2s));
    peer.Push(bytes);
    ASSERT_TRUE(peer.WaitUntilSent(2s));
    std::this_thread::sleep_for(250ms);
  }
};

TEST_F(TriggerTest, RecordsComeOutOldestFirst) {
  int16_t number = 0;
  double value = 0;
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 1);
  PushAndSettle(Peer::TriggerRecord(1, 1.5) + Peer::TriggerRecord(-2, -2.5) +
                Peer::TriggerRecord(300, 1e-9));
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(value, 1.5);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, -2);
  EXPECT_EQ(value, -2.5);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 300);
  EXPECT_EQ(value, 1e-9);
  number = 77;
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 1);
  EXPECT_EQ(number, 77);
  EXPECT_TRUE(peer.Requests().empty());
}

TEST_F(TriggerTest, RecordsBeforeARequestAreQueuedAndTheAnswerStaysClean) {
  PushAndSettle(Peer::TriggerRecord(4, 40) + Peer::TriggerRecord(5, 50));
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 2, &value), 0);
  EXPECT_EQ(value, 2.25);
  int16_t number = 0;
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 4);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 5);
  EXPECT_EQ(value, 50);
}

TEST_F(TriggerTest, QueuedRecordsStayReadableAfterThePeerCloses) {
  PushAndSettle(Peer::TriggerRecord(1, 10) + Peer::TriggerRecord(2, 20) +
                Peer::TriggerRecord(3, 30));
  peer.CloseConnections();
  ASSERT_TRUE(peer.WaitForConnections(0, 2s));
  std::this_thread::sleep_for(250ms);
  int16_t number = 0;
  double value = 0;
  for (int16_t expected = 1; expected <= 3; ++expected) {
    EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
    EXPECT_EQ(number, expected);
  }
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 1);
  // A new connection empties the queue; Control_DeInit does not.
  ASSERT_EQ(lib.Control_Init(0, "127.0.0.1", peer.port()), 0);
  PushAndSettle(Peer::TriggerRecord(8, 80));
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  lib.Control_DeInit(0);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 8);
  ASSERT_EQ(lib.Control_Init(0, "127.0.0.1", peer.port()), 0);
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 1);
}

TEST_F(TriggerTest, StrayBytesAreDroppedBeforeARequest) {
  for (const std::string& stray : {std::string("abc"), std::string(19, 'x'),
                                   std::string(40, 'y') + "\r", Peer::TriggerRecord(1, 1) + "zz"}) {
    PushAndSettle(stray);
    double value = 0;
    EXPECT_EQ(lib.Control_GetActCharValue(0, 3, &value), 0);
    EXPECT_EQ(value, 3.25);
  }
}

TEST_F(TriggerTest, ALateEighteenCharacterAnswerIsTakenAsATriggerRecord) {
  Peer::Reply late;
  late.bytes = std::string("ab\x05\x01------", 10) + std::string("\0\0\0\0\0\0\xF0?", 8) + "\r";
  late.delay_ms = 2300;
  peer.QueueReply(late);
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 1);
  ASSERT_TRUE(peer.WaitUntilSent(3s));
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(lib.Control_GetActCharValue(0, 2, &value), 0);
  EXPECT_EQ(value, 2.25);
  int16_t number = 0;
  EXPECT_EQ(lib.Control_Get_GTrigVal(0, &number, &value), 0);
  EXPECT_EQ(number, 0x0105);
  EXPECT_EQ(value, 1.0);
}

TEST_F(TriggerTest, AFullQueueDropsNewRecordsAndKeepsOrder) {
  std::string records;
  for (int16_t i = 0; i < 130; ++i) records += Peer::TriggerRecord(i, i * 0.5);
  PushAndSettle(records);
  int16_t number = 0;
  double value = 0;
  int16_t last = -1;
  int taken = 0;
  while (taken < 200 && lib.Control_Get_GTrigVal(0, &number, &value) == 0) {
    EXPECT_GT(number, last);
    EXPECT_EQ(value, number * 0.5);
    last = number;
    ++taken;
  }
  EXPECT_GE(taken, 100);
  EXPECT_LE(taken, 130);
}

}  // namespace
}  // namespace velk::lan::testing
