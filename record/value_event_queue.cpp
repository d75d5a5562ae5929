#include "value_event_queue.h"

#include <algorithm>
#include <string>

ValueEventQueue::ValueEventQueue(size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity), wake_at_(std::max<size_t>(1, capacity_ / 2)) {}

void ValueEventQueue::Push(const NumberedEvent& event) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    const size_t room = capacity_ - taken_;
    if (room == 0) {
      ++dropped_;
      return;
    }
    if (count_ >= room) {
      head_ = (head_ + 1) % capacity_;
      --count_;
      ++dropped_;
    }
    // Slots are made as the ring first fills; after that each is assigned anew.
    const size_t slot = (head_ + count_) % capacity_;
    if (slot == slots_.size()) {
      slots_.push_back(event);
    } else {
      slots_[slot] = event;
    }
    ++count_;
    wake = waiting_ && (count_ == 1 || count_ >= wake_at_);
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
  const size_t n = std::min({max, count_, std::max<size_t>(1, capacity_ / 2)});
  taken_at_ = head_;
  taken_ = n;
  head_ = (head_ + n) % capacity_;
  count_ -= n;
  return n;
}

void ValueEventQueue::Release(size_t done) {
  std::lock_guard lock(mutex_);
  const size_t back = taken_ - std::min(done, taken_);
  if (back > 0) {
    // Events dropped meanwhile left a gap between the taken and the waiting ones: the events
    // that go back move up to close it, the newest first.
    const size_t end = (taken_at_ + taken_) % capacity_;
    const size_t gap = (head_ + capacity_ - end) % capacity_;
    if (gap > 0) {
      for (size_t j = taken_; j-- > taken_ - back;) {
        std::swap(slots_[(taken_at_ + j) % capacity_], slots_[(taken_at_ + j + gap) % capacity_]);
      }
    }
    head_ = (head_ + capacity_ - back) % capacity_;
    count_ += back;
  }
  taken_ = 0;
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
