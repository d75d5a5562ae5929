// Numbers on the wire keep "." as decimal point when the caller runs in a comma locale.
#include <clocale>
#include <cstdlib>

#include "lan_control_library.h"

namespace velk::lan::testing {
namespace {

using Peer = QentrixPeer;

// Switches the process to a German locale (decimal comma) for the test's lifetime.
class CommaLocaleTest : public LanControlTest {
 protected:
  void SetUp() override {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
      setenv("LOCPATH", VELK_TEST_LOCALES, 1);
      if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale (built into " VELK_TEST_LOCALES ")";
      }
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    LanControlTest::SetUp();
  }
  void TearDown() override {
    LanControlTest::TearDown();
    std::setlocale(LC_ALL, "C");
  }
};

TEST_F(CommaLocaleTest, NumbersAreWrittenAndReadWithADecimalPoint) {
  EXPECT_EQ(lib.Control_Set_USL(0, 3, -0.001f), 0);
  EXPECT_EQ(OnlyRequest(), Bytes({12, 73, 3}) + "-0.001000");
  EXPECT_EQ(lib.Control_SetRegister(0, 1, 2.5), 0);
  EXPECT_EQ(OnlyRequest(), Bytes({12, 31, 0, 1}) + "2.500000");

  peer.QueueReply(Peer::Line("2.5"));
  double value = 0;
  EXPECT_EQ(lib.Control_GetActCharValue(0, 1, &value), 0);
  EXPECT_EQ(value, 2.5);
  peer.QueueReply(Peer::Line("-1.75"));
  float limit = 0;
  EXPECT_EQ(lib.Control_Get_LSL(0, 1, &limit), 0);
  EXPECT_EQ(limit, -1.75f);
  // A comma is not a decimal point on the wire.
  peer.QueueReply(Peer::Line("3,5"));
  EXPECT_EQ(lib.Control_GetRegister(0, 1, &value), 0);
  EXPECT_EQ(value, 3.0);
}

}  // namespace
}  // namespace velk::lan::testing
