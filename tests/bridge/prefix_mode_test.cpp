// The poll cycle in prefix mode (no end character), with the single-gauge format.
#include <gtest/gtest.h>

#include "bridge_fixture.h"

namespace {

class PrefixModeTest : public EngineTest {
 protected:
  void SetUp() override {
    UsePreset(5);
    UseInput(1, 1, "", "");
    Start();
  }
  void Expect(const std::string& bytes, const std::string& answer) {
    EXPECT_EQ(Exchange(bytes, answer), answer) << "for " << bytes;
  }
};

TEST_F(PrefixModeTest, CommandsAreRecognisedWithoutEndCharacter) {
  Expect("?", "+0001.234\r\n");
  Expect("?I", "+0001.234\r\nSINGLE GAUGE\r\n");
  Expect("P", "P0\r\n");
  Expect("V", "V1.0\r\n");
  Expect("-", "");
  EXPECT_EQ(bridge->Table().Entry(1, 1).Active, 0);
  Expect("?", "");
  Expect("+", "");
  Expect("?", "+0001.234\r\n");
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(PrefixModeTest, StrayBytesAreSkippedAndConsumedWithTheNextCommand) {
  Expect("xy", "");
  EXPECT_EQ(bridge->RxRing().Used(), 2);
  const int read = bridge->RxRing().RxRead();
  Expect("?", "+0001.234\r\n");
  EXPECT_EQ(bridge->RxRing().RxRead(), read + 3);
  EXPECT_TRUE(bridge->RxRing().Empty());
  // A terminal's line end does no harm.
  Expect("?\r\n", "+0001.234\r\n");
  Expect("?", "+0001.234\r\n");
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(PrefixModeTest, AStrayLWaitsOnlyWhileItCanStillBeALimitCommand) {
  Expect("L", "");
  EXPECT_EQ(bridge->RxRing().Used(), 1);
  Expect("x?", "+0001.234\r\n");
  Expect("LS", "");
  Expect("?", "+0001.234\r\n");
  EXPECT_TRUE(bridge->RxRing().Empty());
}

TEST_F(PrefixModeTest, LimitCommandArrivingInPiecesIsApplied) {
  Expect("US", "");
  Expect("L,", "");
  Expect("0.5", "");
  EXPECT_EQ(bridge->Table().Entry(1, 1).LimitValue[USL], 999999.999999);
  Expect("\r", "");
  EXPECT_EQ(bridge->Table().Entry(1, 1).LimitValue[USL], 0.5);
  EXPECT_TRUE(bridge->RxRing().Empty());
  Expect("?", "OUT OF RANGE\r\n");
  // A limit command without a value is no command: its bytes are skipped.
  Expect("LSL,\r?", "OUT OF RANGE\r\n");
  EXPECT_EQ(bridge->Table().Entry(1, 1).LimitValue[LSL], -999999.999999);
}

TEST_F(PrefixModeTest, FootSwitchQueryFollowsTheLatch) {
  ASSERT_EQ(Operator("press 1"), 0);
  Idle(12);
  EXPECT_EQ(bridge->FootSwitchDown(), 1);
  Expect("P", "P1\r\n");
  ASSERT_EQ(Operator("release 1"), 0);
  Idle(12);
  Expect("P", "P0\r\n");
}

}  // namespace
