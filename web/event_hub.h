// The value events for the page's live view (Server-Sent Events): one reader of the value
// listeners' ring on a thread of its own formats each event once (the MQTT JSON layout) and
// hands it to every subscriber's bounded queue. A subscriber that falls behind by more than its
// queue holds is dropped, never waited for; serving never waits for the page.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "value_event_ring.h"

// One subscriber's queue of formatted events ("id: 7\ndata: {...}\n\n").
class EventSubscription {
 public:
  explicit EventSubscription(size_t bound) : bound_(bound) {}
  // Waits up to timeout for events and moves them, oldest first, into out. Returns false once
  // the subscriber was dropped (it fell behind) or the hub closed; true otherwise (out may be
  // empty when the time passed).
  bool Wait(std::vector<std::string>& out, std::chrono::milliseconds timeout);
  // The hub's side: queues events; drops the subscriber when they do not fit beside those
  // waiting. Returns at once.
  void Offer(const std::vector<std::shared_ptr<const std::string>>& events);
  // Ends the subscription: a waiting Wait returns false.
  void End();
  // Returns true once the subscriber was dropped for falling behind.
  bool Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::shared_ptr<const std::string>> queued_;
  size_t bound_;
  bool ended_ = false;
  bool dropped_ = false;
};

class EventHub {
 public:
  // Reads the events ring publishes from now on; at most subscribers at once, each falling
  // behind by at most queued events. ring must outlive the hub.
  EventHub(ValueEventRing& ring, size_t subscribers, size_t queued);
  // Ends every subscription and the hub's thread.
  ~EventHub();
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // Ends every subscription (their Wait returns false) and takes no more. Returns at once.
  void EndSubscriptions();
  // Returns a new subscription, or null when the hub has as many as it takes or ended them.
  std::shared_ptr<EventSubscription> Subscribe();
  // Subscriptions alive now, and those dropped since the start for falling behind.
  size_t Subscribers() const;
  uint64_t DroppedSubscribers() const;

 private:
  void Run();

  ValueEventReader reader_;
  size_t limit_;
  size_t queued_;
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<EventSubscription>> subscriptions_;
  uint64_t dropped_ = 0;
  bool stop_ = false;
  bool ended_ = false;
  std::thread thread_;
};
