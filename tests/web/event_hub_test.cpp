// The live events' hub on a real ring: every subscriber gets the events in order as the MQTT
// JSON layout has them; one that falls behind is dropped alone, and the hub takes no more than
// its subscribers.
#include "event_hub.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

void Send(ValueEventRing& ring, int count, int64_t at) {
  for (int i = 0; i < count; ++i) {
    SentValue v;
    v.slot = 1;
    v.com = 5;
    v.device = 1;
    v.input = 1 + i % 2;
    v.number = 1.5 + i;
    v.text = "10:+0001.500\r\n";
    ASSERT_TRUE(ring.Add(v));
  }
  ring.Publish(at);
}

// Waits until count events came for subscription (or it ended); returns their JSON.
std::vector<nlohmann::json> Take(EventSubscription& subscription, size_t count) {
  std::vector<nlohmann::json> got;
  std::vector<std::string> events;
  WaitFor([&] {
    if (!subscription.Wait(events, 100ms)) return true;
    for (const std::string& e : events) {
      const nlohmann::json event = nlohmann::json::parse(e.substr(e.find("data: ") + 6));
      EXPECT_EQ(e.rfind("id: " + event["seq"].dump() + "\ndata: ", 0), 0u) << e;
      EXPECT_EQ(e.substr(e.size() - 2), "\n\n");
      got.push_back(event);
    }
    events.clear();
    return got.size() >= count;
  });
  return got;
}

}  // namespace

TEST(EventHubTest, SubscribersGetTheEventsInOrderAndOneThatFallsBehindIsDroppedAlone) {
  ValueEventRing ring(100000);
  ring.SetStation("line3");
  EventHub hub(ring, 2, 100);
  const auto reader = hub.Subscribe();
  auto sleeper = hub.Subscribe();
  ASSERT_TRUE(reader && sleeper);
  EXPECT_EQ(hub.Subscribe(), nullptr);  // two at most
  EXPECT_EQ(hub.Subscribers(), 2u);

  Send(ring, 3, 1796000000000);
  const std::vector<nlohmann::json> first = Take(*reader, 3);
  ASSERT_EQ(first.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(first[i]["seq"], i + 1);
    EXPECT_EQ(first[i]["station"], "line3");
    EXPECT_EQ(first[i]["port"], "COM5");
    EXPECT_EQ(first[i]["gauge"], i % 2 == 0 ? "1.1" : "1.2");
    EXPECT_EQ(first[i]["number"], 1.5 + static_cast<double>(i));
    EXPECT_EQ(first[i]["time"], "2026-11-30T00:53:20.000Z");
  }
  // The sleeper never takes its events: beyond its queue it is dropped; the reader goes on.
  for (int round = 0; round < 5; ++round) {
    Send(ring, 40, 1796000000000 + round);
    EXPECT_EQ(Take(*reader, 40).size(), 40u) << round;
  }
  ASSERT_TRUE(WaitFor([&] { return sleeper->Dropped(); }));
  std::vector<std::string> none;
  EXPECT_FALSE(sleeper->Wait(none, 0ms));
  EXPECT_FALSE(reader->Dropped());
  EXPECT_EQ(hub.DroppedSubscribers(), 1u);
  // A place that frees is taken again.
  sleeper.reset();
  EXPECT_TRUE(WaitFor([&] { return hub.Subscribers() == 1; }));
  EXPECT_NE(hub.Subscribe(), nullptr);
  // Ended, the subscriptions' waits return at once and no new one is made.
  hub.EndSubscriptions();
  EXPECT_FALSE(reader->Wait(none, 10s));
  EXPECT_EQ(hub.Subscribe(), nullptr);
}
