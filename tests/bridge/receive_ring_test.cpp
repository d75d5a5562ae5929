// The receive ring and bad bytes from a client: nothing overruns, nothing hangs, the port
// keeps serving.
#include "receive_ring.h"

#include <gtest/gtest.h>

#include "bridge_fixture.h"

namespace {

TEST(ReceiveRing, HoldsAtMost9999BytesAndWraps) {
  ReceiveRing ring;
  for (int i = 0; i < ReceiveRing::kCapacity; ++i) ASSERT_TRUE(ring.Push('a'));
  EXPECT_FALSE(ring.Push('b'));
  EXPECT_EQ(ring.Used(), 9999);
  EXPECT_EQ(ring.Room(), 0);
  ring.Consume(9998);
  EXPECT_TRUE(ring.Push('x'));
  EXPECT_TRUE(ring.Push('y'));
  EXPECT_EQ(ring.RxWrite(), 1);
  EXPECT_EQ(ring.Text(), "axy");
  ring.Consume(100);
  EXPECT_TRUE(ring.Empty());
}

class BadBytesTest : public EngineTest {
 protected:
  // Writes count bytes of fill in pieces while ticking, checking the ring every tick.
  void Flood(char fill, size_t count) {
    const std::string piece(500, fill);
    for (size_t sent = 0; sent < count; sent += piece.size()) {
      client->Write(piece);
      for (int i = 0; i < 3; ++i) {
        Tick();
        ASSERT_LE(bridge->RxRing().Used(), ReceiveRing::kCapacity);
      }
      client->Take();
    }
    Idle(30);
  }
};

TEST_F(BadBytesTest, ControlAndHighBytesAreUndefinedCommands) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  Start();
  EXPECT_EQ(Exchange(std::string("M\0"
                                 "1\r",
                                 4),
                     "?\r\n"),
            "?\r\n");
  EXPECT_EQ(Exchange("\xFF\xFE\r", "?\r\n"), "?\r\n");
  EXPECT_EQ(Exchange(std::string("\0\r\0\r", 4), "?\r\n?\r\n"), "?\r\n?\r\n");
  EXPECT_EQ(Exchange("M1\r", "10:+0001.234\r\n"), "10:+0001.234\r\n");
}

TEST_F(BadBytesTest, FloodWithoutEndCharacterIsDiscardedAndLogged) {
  UsePreset(0);
  UseInput(1, 1, "1", "10");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  Flood('A', 25000);
  EXPECT_NE(work.Read("Velk_VCP.LOG").find("Receive buffer full: 9999 bytes discarded\r\n"),
            std::string::npos);
  const std::string answer = Exchange("\rM1\r", "?\r\n10:+0001.234\r\n");
  EXPECT_TRUE(answer.ends_with("10:+0001.234\r\n")) << answer;
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(BadBytesTest, PrefixModeFloodOfStrayBytesKeepsServing) {
  UsePreset(5);
  UseInput(1, 1, "", "");
  ASSERT_TRUE(bridge->Log().Open());
  Start();
  Flood('\xFF', 12000);
  EXPECT_NE(work.Read("Velk_VCP.LOG").find("Receive buffer full: 9999 bytes discarded\r\n"),
            std::string::npos);
  EXPECT_EQ(Exchange("?", "+0001.234\r\n"), "+0001.234\r\n");
  // A limit command that never ends fills the ring, then goes.
  client->Write("USL,");
  Flood('1', 11000);
  EXPECT_EQ(Exchange("\r?", "+0001.234\r\n"), "+0001.234\r\n");
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(BadBytesTest, BlanksAreDroppedBeforeTheRing) {
  UsePreset(1);
  UseInput(1, 1, "1.1", "11");
  Start();
  Flood(' ', 20000);
  EXPECT_TRUE(bridge->RxRing().Empty());
  EXPECT_EQ(Exchange("R D 1 . 1 \r", "OK\r\n11=+001.234\r\n"), "OK\r\n11=+001.234\r\n");
}

}  // namespace
