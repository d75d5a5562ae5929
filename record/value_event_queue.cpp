#include "value_event_queue.h"

#include <string>

ValueEventQueue::ValueEventQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

void ValueEventQueue::Push(const NumberedEvent& event) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (events_.size() >= capacity_) {
      events_.pop_front();
      ++dropped_;
    }
    wasEmpty = events_.empty();
    events_.push_back(event);
  }
  // Only a listener that found the queue empty waits for an event: the others need no wake-up.
  if (wasEmpty) ready_.notify_one();
}

bool ValueEventQueue::PopBatch(std::vector<NumberedEvent>& out, size_t max,
                               std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, timeout, [this] { return !events_.empty() || closed_ || woken_; });
  woken_ = false;
  for (size_t n = 0; n < max && !events_.empty(); ++n) {
    out.push_back(std::move(events_.front()));
    events_.pop_front();
  }
  return !(closed_ && events_.empty() && out.empty());
}

void ValueEventQueue::PushFront(std::vector<NumberedEvent>& events) {
  std::lock_guard lock(mutex_);
  size_t keep = events.size();
  const size_t room = capacity_ > events_.size() ? capacity_ - events_.size() : 0;
  if (keep > room) {
    dropped_ += keep - room;
    keep = room;
  }
  events_.insert(events_.begin(), std::make_move_iterator(events.end() - keep),
                 std::make_move_iterator(events.end()));
  events.clear();
}

void ValueEventQueue::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

void ValueEventQueue::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  ready_.notify_all();
}

size_t ValueEventQueue::Size() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

uint64_t ValueEventQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::string DropReport::Due(const char* what, uint64_t total,
                            std::chrono::steady_clock::time_point now, bool at_once) {
  if (total == reported_) return {};
  if (any_ && !at_once && now - last_ < std::chrono::minutes(1)) return {};
  const uint64_t count = total - reported_;
  reported_ = total;
  last_ = now;
  any_ = true;
  return std::string("Velk_VCP: ") + what + ": " + std::to_string(count) +
         " values dropped since the last report, " + std::to_string(total) + " in all";
}
