// Connecting and disconnecting slots: result codes, reuse, reconnection, peers that close,
// and many slots used from many threads at once.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "lan_control_library.h"
#include "loopback.h"

namespace velk::lan::testing {
namespace {

using namespace std::chrono_literals;

const LanControlLibrary& Lib() { return LanControlLibrary::Get(); }

double ActValue(int16_t slot, int16_t c, int32_t* result = nullptr) {
  double value = -1;
  const int32_t r = Lib().Control_GetActCharValue(slot, c, &value);
  if (result != nullptr) *result = r;
  return r == 0 ? value : -1;
}

TEST(ConnectionTest, InitResultCodes) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_EQ(lib.Control_Init(-1, "127.0.0.1", peer.port()), 3);
  EXPECT_EQ(lib.Control_Init(100, "127.0.0.1", peer.port()), 3);
  EXPECT_EQ(lib.Control_Init(0, "127.0.0.1", static_cast<uint16_t>(FreePort())), 1);
  EXPECT_EQ(lib.Control_Init(0, nullptr, peer.port()), 2);
  EXPECT_EQ(lib.Control_Init(0, (std::string(104, '1') + ".0.0.1").c_str(), peer.port()), 2);
  EXPECT_EQ(peer.OpenConnections(), 0u);
  int32_t result = 0;
  ActValue(0, 1, &result);
  EXPECT_EQ(result, 1);

  EXPECT_EQ(lib.Control_Init(99, "127.0.0.1", peer.port()), 0);
  EXPECT_EQ(ActValue(99, 2), 2.25);
  lib.Control_DeInit(99);
  EXPECT_TRUE(peer.WaitForConnections(0, 2s));
  ActValue(99, 2, &result);
  EXPECT_EQ(result, 1);
}

TEST(ConnectionTest, DeInitOfFreeOrOutOfRangeSlotsIsHarmless) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  lib.Control_DeInit(5);
  lib.Control_DeInit(-1);
  lib.Control_DeInit(100);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(lib.Control_Init(5, "127.0.0.1", peer.port()), 0);
  lib.Control_DeInit(5);
  lib.Control_DeInit(5);
  ASSERT_EQ(lib.Control_Init(5, "127.0.0.1", peer.port()), 0);
  EXPECT_EQ(ActValue(5, 1), 1.25);
  lib.Control_DeInit(5);
}

TEST(ConnectionTest, InitOnAConnectedSlotClosesTheOldConnectionFirst) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer first;
  QentrixPeer second;
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  ASSERT_EQ(lib.Control_Init(3, "127.0.0.1", first.port()), 0);
  ASSERT_TRUE(first.WaitForConnections(1, 2s));
  ASSERT_EQ(lib.Control_Init(3, "127.0.0.1", second.port()), 0);
  EXPECT_TRUE(first.WaitForConnections(0, 2s));
  second.QueueReply(QentrixPeer::Line("8.5"));
  EXPECT_EQ(ActValue(3, 1), 8.5);
  EXPECT_TRUE(first.Requests().empty());
  lib.Control_DeInit(3);
}

TEST(ConnectionTest, QuickDeInitAndInitNeverMixConnections) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peers[2];
  ASSERT_TRUE(peers[0].Start());
  ASSERT_TRUE(peers[1].Start());
  for (int round = 0; round < 40; ++round) {
    QentrixPeer& peer = peers[round % 2];
    ASSERT_EQ(lib.Control_Init(7, "127.0.0.1", peer.port()), 0);
    peer.QueueReply(QentrixPeer::Line(std::to_string(round)));
    ASSERT_EQ(ActValue(7, 1), round);
    lib.Control_DeInit(7);
  }
  EXPECT_TRUE(peers[0].WaitForConnections(0, 2s));
  EXPECT_TRUE(peers[1].WaitForConnections(0, 2s));
}

TEST(ConnectionTest, APeerThatClosesFreesTheSlot) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(lib.Control_Init(11, "127.0.0.1", peer.port()), 0);
  ASSERT_TRUE(peer.WaitForConnections(1, 2s));
  peer.CloseConnections();
  ASSERT_TRUE(peer.WaitForConnections(0, 2s));
  int32_t result = 0;
  const auto start = std::chrono::steady_clock::now();
  while (ActValue(11, 1, &result), result == 0 && std::chrono::steady_clock::now() - start < 2s) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(result, 1);
  EXPECT_EQ(lib.Control_Init(11, "127.0.0.1", peer.port()), 0);
  EXPECT_EQ(ActValue(11, 4), 4.25);
  lib.Control_DeInit(11);
}

TEST(ConnectionTest, HundredSlotsFromHundredThreads) {
  const LanControlLibrary& lib = Lib();
  ASSERT_NE(lib.handle, nullptr);
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int16_t slot = 0; slot < 100; ++slot) {
    threads.emplace_back([&, slot] {
      if (lib.Control_Init(slot, "127.0.0.1", peer.port()) != 0) {
        ++failures;
        return;
      }
      for (int round = 0; round < 10; ++round) {
        const auto c = static_cast<int16_t>((slot + round) % 128 + 1);
        if (ActValue(slot, c) != c + 0.25) ++failures;
        float nominal = 0;
        if (lib.Control_Get_Nominal(slot, c, &nominal) != 0 || nominal != c * 100.0f) ++failures;
      }
      lib.Control_DeInit(slot);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(peer.Requests().size(), 2000u);
  EXPECT_TRUE(peer.WaitForConnections(0, 5s));
}

}  // namespace
}  // namespace velk::lan::testing

namespace velk::lan::testing {
namespace {

TEST(ConnectionTest, UnloadingWithOpenSlotsStopsTheReaderThreads) {
  QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  void* handle = dlopen(VELK_QENTRIX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  const auto init = reinterpret_cast<decltype(&::Control_Init)>(dlsym(handle, "Control_Init"));
  ASSERT_NE(init, nullptr);
  ASSERT_EQ(init(20, "127.0.0.1", peer.port()), 0);
  ASSERT_EQ(init(21, "127.0.0.1", peer.port()), 0);
  ASSERT_TRUE(peer.WaitForConnections(2, 2s));
  dlclose(handle);
  // When this was the library's last user it is gone now, and its connections with it.
  void* still_loaded = dlopen(VELK_QENTRIX_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  if (still_loaded == nullptr) {
    EXPECT_TRUE(peer.WaitForConnections(0, 2s));
  } else {
    dlclose(still_loaded);
  }
}

}  // namespace
}  // namespace velk::lan::testing
