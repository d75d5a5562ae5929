// The queue between serving and a listener: drops the oldest, gives back what a listener could
// not hand on in order, keeps the events a listener reads in place while others arrive, and
// wakes a waiting listener for a single event.
#include "value_event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The event numbered seq, with a text long enough to live outside the string itself.
NumberedEvent Event(uint64_t seq) {
  NumberedEvent n;
  n.seq = seq;
  n.event.text = "value number " + std::to_string(seq) + " of a long flow";
  return n;
}

std::vector<uint64_t> TakeAll(ValueEventQueue& q) {
  std::vector<uint64_t> seqs;
  while (size_t n = q.Take(100, 0ms, 0ms)) {
    for (size_t i = 0; i < n; ++i) seqs.push_back(q.Taken(i).seq);
    q.Release(n);
  }
  return seqs;
}

TEST(ValueEventQueueTest, DropsTheOldestAndGivesBackInOrder) {
  ValueEventQueue q(4);
  for (uint64_t s = 1; s <= 6; ++s) q.Push(Event(s));
  EXPECT_EQ(q.Dropped(), 2u);
  // Two taken (half the bound), one handed on; two more arrive meanwhile and fill the queue:
  // the one given back is the oldest and gives way.
  ASSERT_EQ(q.Take(10, 0ms, 0ms), 2u);
  EXPECT_EQ(q.Taken(0).seq, 3u);
  q.Push(Event(7));
  q.Push(Event(8));
  q.Release(1);
  EXPECT_EQ(q.Dropped(), 3u);
  EXPECT_EQ(q.Size(), 4u);
  // Two taken, none handed on, one more arrives: they go back in front, the oldest dropped.
  ASSERT_EQ(q.Take(10, 0ms, 0ms), 2u);
  q.Push(Event(9));
  q.Release(0);
  EXPECT_EQ(q.Dropped(), 4u);
  EXPECT_EQ(TakeAll(q), (std::vector<uint64_t>{6, 7, 8, 9}));
}

TEST(ValueEventQueueTest, AListenerReadsWhatItTookWhileAFloodArrives) {
  ValueEventQueue q(5000);
  constexpr uint64_t kEvents = 200000;
  std::thread serving([&] {
    for (uint64_t s = 1; s <= kEvents; ++s) q.Push(Event(s));
    q.Close();
  });
  uint64_t seen = 0, last = 0;
  bool inOrder = true;
  for (;;) {
    const size_t n = q.Take(1000, 1s, 1ms);
    if (n == 0 && q.Closed()) break;
    for (size_t i = 0; i < n; ++i) {
      const NumberedEvent& e = q.Taken(i);
      inOrder = inOrder && e.seq > last && e.event == Event(e.seq).event;
      last = e.seq;
    }
    seen += n;
    q.Release(n);
  }
  serving.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(last, kEvents);  // the latest value always arrives
  EXPECT_EQ(seen + q.Dropped(), kEvents);
}

TEST(ValueEventQueueTest, ASingleEventWakesAWaitingListener) {
  ValueEventQueue q(100000);
  std::atomic<bool> waiting{false};
  std::thread later([&] {
    while (!waiting) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);  // the listener is in Take by now, most likely
    q.Push(Event(1));
  });
  waiting = true;
  const auto start = std::chrono::steady_clock::now();
  // Without a wake-up the listener would only see it when its minute runs out.
  EXPECT_EQ(q.Take(100, 60s, 20ms), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  later.join();
}

}  // namespace
