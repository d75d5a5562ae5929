// The ring between serving and the listeners: a reader gets every field back as sent, whether
// it fits in the slot or not; each reader drops its own oldest events and gets
// back in order what it could not hand on; events a reader holds stay intact while a flood laps
// the ring, and cost another reader nothing; two readers at different paces each see every
// event they keep, in order; a waiting reader wakes for a single event.
#include "value_event_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The text of the event numbered seq, long enough to live outside the string itself.
std::string Text(uint64_t seq) { return "value number " + std::to_string(seq) + " of a long flow"; }

// The serving thread: adds and publishes count events as a serving step does, each with the
// text of the number the ring gives it.
struct Serving {
  ValueEventRing& ring;
  uint64_t seq = 0;
  void Step(int count = 1) {
    for (int i = 0; i < count; ++i) {
      const std::string text = Text(++seq);
      SentValue v;
      v.text = text;
      if (!ring.Add(v)) {
        ring.Publish(0);
        ring.Add(v);
      }
    }
    ring.Publish(0);
  }
};

std::vector<uint64_t> TakeAll(ValueEventReader& r) {
  std::vector<uint64_t> seqs;
  while (size_t n = r.Take(100, 0ms, 0ms)) {
    for (size_t i = 0; i < n; ++i) seqs.push_back(r.Taken(i).seq);
    r.Release(n);
  }
  return seqs;
}

TEST(ValueEventRingTest, AReaderGetsEveryFieldBackAsSent) {
  const std::string longText(80, 'x'), client = "4321 spc-collector";
  struct Case {
    SentValue sent;
    std::string port;  // as the reader sees it
  };
  const GaugeLabel* caliper = InternGaugeLabel("Caliper", "mm");
  auto value = [&](int slot, int com, std::string_view client, std::string_view text) {
    SentValue v;
    v.slot = slot;
    v.com = com;
    v.client = client;
    v.device = 2;
    v.input = 7;
    v.number = -1.25;
    v.text = text;
    v.status = ValueStatus::OutOfRange;
    v.cause = ValueCause::DataKey;
    if (slot % 2 == 1) {
      v.label = caliper;
      v.limits = {25.2, std::nullopt, 0.0, -3.5};
    }
    return v;
  };
  const Case cases[] = {
      {value(1, 5, client, "10:+0001.234\r\n"), "COM5"},  // side by side in the slot
      {value(2, 0, "", ""), ""},                          // nothing to copy, no COM number
      {value(3, 16, "", std::string_view(longText).substr(0, 76)), "COM16"},  // fills the slot
      {value(4, 300, client, longText), "COM300"},  // too long for the slot: spilled
  };
  ValueEventRing ring(10);
  ring.SetStation("line 4");
  ValueEventReader r(ring);
  for (const Case& c : cases) ASSERT_TRUE(ring.Add(c.sent));
  ring.Publish(1234);
  ASSERT_EQ(r.Take(10, 0ms, 0ms), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const SentValue& v = cases[i].sent;
    ValueEvent want;
    want.utc_ms = 1234;
    want.station = "line 4";
    want.slot = v.slot;
    want.port = cases[i].port;
    want.client = v.client;
    want.device = v.device;
    want.input = v.input;
    want.number = v.number;
    want.text = v.text;
    want.status = v.status;
    want.cause = v.cause;
    if (v.label) {
      want.name = "Caliper";
      want.unit = "mm";
    }
    want.limits = v.limits;
    EXPECT_EQ(r.Taken(i).seq, i + 1);
    EXPECT_EQ(r.Taken(i).event, want) << i;
  }
}

TEST(ValueEventRingTest, EachReaderDropsItsOldestAndGetsBackInOrder) {
  ValueEventRing ring(4);
  Serving serving{ring};
  ValueEventReader r(ring), idle(ring);
  for (int s = 1; s <= 6; ++s) serving.Step();
  EXPECT_EQ(r.Dropped(), 2u);
  // Two taken (half the bound), one handed on; two more arrive meanwhile and fill the queue:
  // the one given back is the oldest and gives way.
  ASSERT_EQ(r.Take(10, 0ms, 0ms), 2u);
  EXPECT_EQ(r.Taken(0).seq, 3u);
  serving.Step(2);
  r.Release(1);
  EXPECT_EQ(r.Dropped(), 3u);
  EXPECT_EQ(r.Size(), 4u);
  // Two taken, none handed on, one more arrives: they go back in front, the oldest dropped.
  ASSERT_EQ(r.Take(10, 0ms, 0ms), 2u);
  serving.Step();
  r.Release(0);
  EXPECT_EQ(r.Dropped(), 4u);
  EXPECT_EQ(TakeAll(r), (std::vector<uint64_t>{6, 7, 8, 9}));
  // A reader that took nothing kept the newest four; one that came later sees what came later.
  ValueEventReader late(ring);
  serving.Step();
  EXPECT_EQ(idle.Dropped(), 6u);
  EXPECT_EQ(TakeAll(idle), (std::vector<uint64_t>{7, 8, 9, 10}));
  EXPECT_EQ(TakeAll(late), (std::vector<uint64_t>{10}));
}

TEST(ValueEventRingTest, EventsHeldWhileAFloodLapsTheRingStayIntactAndTheNewestArrive) {
  ValueEventRing ring(4);  // 8 slots
  Serving serving{ring};
  ValueEventReader r(ring), other(ring);
  serving.Step(2);
  ASSERT_EQ(r.Take(10, 0ms, 0ms), 2u);
  for (int s = 3; s <= 20; ++s) serving.Step();
  EXPECT_EQ(r.Taken(0).event.text, Text(1));
  EXPECT_EQ(r.Taken(1).event.text, Text(2));
  r.Release(1);
  // The one given back is older than the four newest waiting: it gives way. The reader that
  // held events cost the other nothing.
  EXPECT_EQ(TakeAll(r), (std::vector<uint64_t>{17, 18, 19, 20}));
  EXPECT_EQ(r.Dropped(), 15u);
  EXPECT_EQ(TakeAll(other), (std::vector<uint64_t>{17, 18, 19, 20}));
  EXPECT_EQ(other.Dropped(), 16u);
}

TEST(ValueEventRingTest, TwoReadersAtTheirOwnPaceEachSeeTheirEventsInOrder) {
  ValueEventRing ring(5000);
  Serving serving{ring};
  constexpr uint64_t kEvents = 200000;
  struct Seen {
    uint64_t count = 0, last = 0, dropped = 0;
    bool intact = true;
  };
  auto read = [](ValueEventReader& r, Seen& seen, std::chrono::microseconds hold) {
    for (;;) {
      const size_t n = r.Take(1000, 1s, 1ms);
      if (n == 0 && r.Closed()) break;
      for (size_t i = 0; i < n; ++i) {
        const NumberedEvent& e = r.Taken(i);
        seen.intact = seen.intact && e.seq > seen.last && e.event.text == Text(e.seq);
        seen.last = e.seq;
      }
      std::this_thread::sleep_for(hold);  // a slow listener holds its events meanwhile
      seen.count += n;
      r.Release(n);
    }
    seen.dropped = r.Dropped();
  };
  ValueEventReader fast(ring), slow(ring);
  Seen fastSeen, slowSeen;
  std::thread fastThread(read, std::ref(fast), std::ref(fastSeen), 0us);
  std::thread slowThread(read, std::ref(slow), std::ref(slowSeen), 2000us);
  for (uint64_t s = 0; s < kEvents; s += 50) serving.Step(50);
  fast.Close();
  slow.Close();
  fastThread.join();
  slowThread.join();
  for (const Seen* seen : {&fastSeen, &slowSeen}) {
    EXPECT_TRUE(seen->intact);
    EXPECT_EQ(seen->last, kEvents);  // the latest value always arrives
    EXPECT_EQ(seen->count + seen->dropped, kEvents);
  }
  EXPECT_GT(slowSeen.dropped, 0u);
}

TEST(ValueEventRingTest, ASingleEventWakesAWaitingReader) {
  ValueEventRing ring(100000);
  Serving serving{ring};
  ValueEventReader r(ring);
  std::atomic<bool> waiting{false};
  std::thread later([&] {
    while (!waiting) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);  // the reader is in Take by now, most likely
    serving.Step();
  });
  waiting = true;
  const auto start = std::chrono::steady_clock::now();
  // Without a wake-up the reader would only see it when its minute runs out.
  EXPECT_EQ(r.Take(100, 60s, 20ms), 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  later.join();
}

}  // namespace
