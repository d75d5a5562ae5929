#include "value_event_queue.h"

#include <algorithm>
#include <string>

ValueEventQueue::ValueEventQueue(size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity),
      max_take_(std::clamp<size_t>(capacity_ / 2, 1, 10000)),
      ring_(capacity_ + 2 * max_take_),
      wake_at_(std::max<size_t>(1, capacity_ / 2)) {
  chunks_.resize((ring_ + kChunk - 1) / kChunk);
}

bool ValueEventQueue::Place(const NumberedEvent& event) {
  // The ring holds the taken events, the gap left by events dropped since, the waiting
  // events and free slots, in this order; a new event goes into the first free slot.
  const bool freeSlot = taken_ + gap_ + count_ < ring_;
  if (count_ >= capacity_ && freeSlot) {
    head_ = (head_ + 1) % ring_;
    --count_;
    ++dropped_;
    if (taken_ > 0) ++gap_;
  } else if (!freeSlot) {
    // The gap left while a listener holds its events fills the ring: the event before the
    // new one gives way instead, so that the latest value (a gauge's retained last value)
    // is never the one lost.
    ++dropped_;
    if (count_ > 0) Slot((head_ + count_ - 1) % ring_) = event;
    return false;
  }
  const size_t slot = (head_ + count_) % ring_;
  std::unique_ptr<NumberedEvent[]>& chunk = chunks_[slot / kChunk];
  if (!chunk) {
    chunk = std::make_unique<NumberedEvent[]>(std::min(kChunk, ring_ - slot / kChunk * kChunk));
  }
  chunk[slot % kChunk] = event;
  ++count_;
  return waiting_ && (count_ == 1 || count_ >= wake_at_);
}

void ValueEventQueue::Push(const NumberedEvent& event) { PushAll(&event, 1); }

void ValueEventQueue::PushAll(const NumberedEvent* events, size_t count) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    for (size_t i = 0; i < count; ++i) {
      wake = Place(events[i]) || wake;
    }
    if (wake) waiting_ = false;
  }
  if (wake) ready_.notify_one();
}

size_t ValueEventQueue::Take(size_t max, std::chrono::milliseconds timeout,
                             std::chrono::milliseconds linger) {
  std::unique_lock lock(mutex_);
  waiting_ = true;
  ready_.wait_for(lock, timeout, [this] { return count_ > 0 || closed_ || woken_; });
  if (count_ > 0 && count_ < wake_at_ && !closed_ && !woken_ && linger.count() > 0) {
    waiting_ = true;
    ready_.wait_for(lock, linger, [this] { return count_ >= wake_at_ || closed_ || woken_; });
  }
  waiting_ = false;
  woken_ = false;
  const size_t n = std::min({max, count_, max_take_});
  taken_at_ = head_;
  taken_ = n;
  gap_ = 0;
  head_ = (head_ + n) % ring_;
  count_ -= n;
  return n;
}

void ValueEventQueue::Release(size_t done) {
  std::lock_guard lock(mutex_);
  done = std::min(done, taken_);
  // What goes back and does not fit beside the waiting events is the oldest: dropped.
  if (count_ + (taken_ - done) > capacity_) {
    const size_t over = count_ + (taken_ - done) - capacity_;
    done += over;
    dropped_ += over;
  }
  // Events dropped while these were taken left the queue full: then none go back, and no gap
  // lies between them and the waiting events.
  const size_t back = taken_ - done;
  head_ = (head_ + ring_ - back) % ring_;
  count_ += back;
  taken_ = 0;
  gap_ = 0;
}

void ValueEventQueue::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, duration, [this] { return closed_ || woken_; });
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

bool ValueEventQueue::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

size_t ValueEventQueue::Size() const {
  std::lock_guard lock(mutex_);
  return count_ + taken_;
}

uint64_t ValueEventQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::chrono::milliseconds FloodPace::Next(uint64_t dropped) {
  const bool flood = dropped > seen_;
  seen_ = dropped;
  return flood ? kPause : std::chrono::milliseconds(0);
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
