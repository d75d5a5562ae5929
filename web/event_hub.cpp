#include "event_hub.h"

#include <algorithm>

#include "value_json.h"

bool EventSubscription::Wait(std::vector<std::string>& out, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return ended_ || dropped_ || !queued_.empty(); });
  if (ended_ || dropped_) return false;
  for (const auto& event : queued_) out.push_back(*event);
  queued_.clear();
  return true;
}

void EventSubscription::Offer(const std::vector<std::shared_ptr<const std::string>>& events) {
  std::lock_guard lock(mutex_);
  if (ended_ || dropped_) return;
  if (queued_.size() + events.size() > bound_) {
    dropped_ = true;
    queued_.clear();
  } else {
    queued_.insert(queued_.end(), events.begin(), events.end());
  }
  ready_.notify_one();
}

void EventSubscription::End() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  ready_.notify_one();
}

bool EventSubscription::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

EventHub::EventHub(ValueEventRing& ring, size_t subscribers, size_t queued)
    : reader_(ring), limit_(subscribers), queued_(queued), thread_([this] { Run(); }) {}

EventHub::~EventHub() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  reader_.Close();
  thread_.join();
  for (const auto& weak : subscriptions_) {
    if (auto subscription = weak.lock()) subscription->End();
  }
}

void EventHub::EndSubscriptions() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  for (const auto& weak : subscriptions_) {
    if (auto subscription = weak.lock()) subscription->End();
  }
}

std::shared_ptr<EventSubscription> EventHub::Subscribe() {
  std::lock_guard lock(mutex_);
  std::erase_if(subscriptions_, [](const auto& weak) { return weak.expired(); });
  if (stop_ || ended_ || subscriptions_.size() >= limit_) return nullptr;
  auto subscription = std::make_shared<EventSubscription>(queued_);
  subscriptions_.push_back(subscription);
  return subscription;
}

size_t EventHub::Subscribers() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(subscriptions_.begin(), subscriptions_.end(),
                                           [](const auto& weak) { return !weak.expired(); }));
}

uint64_t EventHub::DroppedSubscribers() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void EventHub::Run() {
  std::vector<std::shared_ptr<const std::string>> events;
  std::vector<std::shared_ptr<EventSubscription>> targets;
  std::string json, scratch;
  while (!reader_.Closed()) {
    const size_t n =
        reader_.Take(1000, std::chrono::milliseconds(500), std::chrono::milliseconds(0));
    if (n == 0) continue;
    events.clear();
    for (size_t i = 0; i < n; ++i) {
      const NumberedEvent& e = reader_.Taken(i);
      json = "id: " + std::to_string(e.seq) + "\ndata: ";
      AppendValueEventJson8Bit(json, e, scratch);
      json += "\n\n";
      events.push_back(std::make_shared<const std::string>(json));
    }
    reader_.Release(n);
    targets.clear();
    {
      std::lock_guard lock(mutex_);
      for (const auto& weak : subscriptions_) {
        if (auto subscription = weak.lock()) targets.push_back(std::move(subscription));
      }
    }
    uint64_t dropped = 0;
    for (const auto& subscription : targets) {
      const bool before = subscription->Dropped();
      subscription->Offer(events);
      if (!before && subscription->Dropped()) ++dropped;
    }
    // A subscriber that goes meanwhile frees its place at once.
    targets.clear();
    if (dropped > 0) {
      std::lock_guard lock(mutex_);
      dropped_ += dropped;
    }
  }
}
