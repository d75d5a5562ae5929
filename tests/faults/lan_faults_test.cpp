// The LAN control library against a peer that floods it: a megabyte of garbage, a thousand
// trigger records at once, and slots connected and disconnected from many threads.
#include <cstdint>
#include <random>
#include <thread>

#include "lan_control_library.h"
#include "lan_soak.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;

class LanFloodTest : public LanControlTest {
 protected:
  // Asks for values until three in a row are the peer's right answers; returns the number of
  // requests that took (or -1 after limit). Trigger values taken on the way go to check.
  template <typename Check>
  int RequestsUntilRecovered(int limit, Check check) {
    int good = 0;
    for (int round = 0; round < limit; ++round) {
      const auto c = static_cast<int16_t>(round % 128 + 1);
      double value = 0;
      good = lib.Control_GetActCharValue(0, c, &value) == 0 && value == c + 0.25 ? good + 1 : 0;
      int16_t number = 0;
      double trigger = 0;
      while (lib.Control_Get_GTrigVal(0, &number, &trigger) == 0) check(number, trigger);
      if (good == 3) return round + 1;
    }
    return -1;
  }
};

TEST_F(LanFloodTest, AMegabyteOfGarbageIsWorkedThroughAndTheSlotAnswersAgain) {
  ASSERT_TRUE(peer.WaitForConnections(1, 2s));
  std::mt19937 random(8);
  std::string garbage(1 << 20, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  peer.Push(garbage);
  // Every request drops what is pending and reads at most one ring of it, so the megabyte
  // takes a few thousand requests, each answered at once by some line of the garbage.
  const int taken = RequestsUntilRecovered(20000, [](int16_t, double) {});
  EXPECT_GT(taken, 0) << "the slot never answered correctly again";
  EXPECT_TRUE(peer.WaitUntilSent(1s));
  EXPECT_EQ(peer.OpenConnections(), 1u);
}

TEST_F(LanFloodTest, AThousandTriggerRecordsInOneBurstKeepTheirOrderAndValues) {
  ASSERT_TRUE(peer.WaitForConnections(1, 2s));
  std::string burst;
  for (int16_t i = 0; i < 1000; ++i) burst += QentrixPeer::TriggerRecord(i, i * 0.5);
  peer.Push(burst);
  ASSERT_TRUE(peer.WaitUntilSent(5s));
  int taken = 0;
  int16_t last = -1;
  const int requests = RequestsUntilRecovered(2000, [&](int16_t number, double value) {
    EXPECT_GT(number, last);
    EXPECT_EQ(value, number * 0.5);
    last = number;
    ++taken;
  });
  EXPECT_GT(requests, 0);
  // The queue holds 100 values; records arriving when it is full are dropped, never mixed.
  EXPECT_GE(taken, 100);
  EXPECT_LE(taken, 1000);
}

TEST(LanSoakTest, HundredSlotsConnectAndDisconnectFromTwentyThreads) {
  const LanControlLibrary& lib = LanControlLibrary::Get();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  const SoakCounts counts = RunSoak(lib, peer, 20, 3s);
  EXPECT_EQ(counts.failures, 0);
  EXPECT_GE(counts.connects, 200);
  EXPECT_GE(counts.exchanges, 100);
  EXPECT_TRUE(peer.WaitForConnections(0, 5s)) << peer.OpenConnections() << " left open";
}

}  // namespace
}  // namespace velk::lan::testing
