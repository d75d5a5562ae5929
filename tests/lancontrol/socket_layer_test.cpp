// The socket layer's lifecycle with the library's parts linked in directly: started by the
// first Control_Init past the slot check, released when the last socket closes.
#include "socket_layer.h"

#include <gtest/gtest.h>

#include <thread>

#include "qentrix_peer.h"
#include "velk_qentrix_control.h"

namespace velk::lan {
namespace {

using namespace std::chrono_literals;

TEST(SocketLayerTest, StartedByTheFirstInitAndReleasedWithTheLastSlot) {
  testing::QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_EQ(Control_Init(100, "127.0.0.1", peer.port()), 3);
  EXPECT_EQ(Control_Init(-1, "127.0.0.1", peer.port()), 3);
  EXPECT_FALSE(SocketLayerStarted());
  Control_DeInit(0);
  EXPECT_FALSE(SocketLayerStarted());
  const unsigned starts = SocketLayerStartCount();

  ASSERT_EQ(Control_Init(0, "127.0.0.1", peer.port()), 0);
  ASSERT_EQ(Control_Init(1, "127.0.0.1", peer.port()), 0);
  EXPECT_TRUE(SocketLayerStarted());
  Control_DeInit(0);
  EXPECT_TRUE(SocketLayerStarted());
  Control_DeInit(1);
  EXPECT_FALSE(SocketLayerStarted());
  EXPECT_EQ(SocketLayerStartCount(), starts + 1);

  ASSERT_EQ(Control_Init(1, "127.0.0.1", peer.port()), 0);
  EXPECT_TRUE(SocketLayerStarted());
  EXPECT_EQ(SocketLayerStartCount(), starts + 2);
  double value = 0;
  EXPECT_EQ(Control_GetActCharValue(1, 1, &value), 0);
  Control_DeInit(1);
  EXPECT_FALSE(SocketLayerStarted());
}

TEST(SocketLayerTest, AFailedInitReleasesItUnlessAnotherSlotIsConnected) {
  testing::QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  EXPECT_EQ(Control_Init(2, nullptr, peer.port()), 2);
  EXPECT_FALSE(SocketLayerStarted());
  ASSERT_EQ(Control_Init(3, "127.0.0.1", peer.port()), 0);
  EXPECT_EQ(Control_Init(2, nullptr, peer.port()), 2);
  EXPECT_TRUE(SocketLayerStarted());
  Control_DeInit(3);
  EXPECT_FALSE(SocketLayerStarted());
}

TEST(SocketLayerTest, APeerClosingKeepsItStartedUntilTheNextRelease) {
  testing::QentrixPeer peer;
  ASSERT_TRUE(peer.Start());
  ASSERT_EQ(Control_Init(4, "127.0.0.1", peer.port()), 0);
  ASSERT_EQ(Control_Init(5, "127.0.0.1", peer.port()), 0);
  ASSERT_TRUE(peer.WaitForConnections(2, 2s));
  peer.CloseConnections();
  ASSERT_TRUE(peer.WaitForConnections(0, 2s));
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(SocketLayerStarted());
  Control_DeInit(99);  // a free slot: the other two no longer hold sockets
  EXPECT_FALSE(SocketLayerStarted());
  Control_DeInit(4);
  Control_DeInit(5);
}

}  // namespace
}  // namespace velk::lan
