#include "value_event_ring.h"

#include <algorithm>
#include <cstring>

ValueEventRing::ValueEventRing(size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity),
      max_take_(std::clamp<size_t>(capacity_ / 2, 1, 10000)),
      // The slots beyond the capacity are the room the serving thread has while a reader copies
      // out the events it took from the oldest end; only a reader slower than that makes each
      // new event replace the newest one, for every reader.
      ring_(capacity_ + std::max(capacity_, 2 * max_take_)),
      wake_at_(std::max<size_t>(1, capacity_ / 2)) {
  chunks_.resize((ring_ + kChunk - 1) / kChunk);
}

ValueEventRing::~ValueEventRing() = default;

// A reader's next waiting event is never more than the capacity behind what was published
// (Publish and Release see to it), so the events it may still take lie in
// [written_ - capacity_, written_). A slot filled below written_ + ring_ - capacity_ is a whole
// ring ahead of those: no reader can take it before it is published. Events a reader holds
// already bound the filling too: their slots come round again one ring later.
uint64_t ValueEventRing::FillLimit() const {
  uint64_t limit = written_ + (ring_ - capacity_);
  for (const ReaderState* r : readers_) {
    if (r->taken > 0) limit = std::min<uint64_t>(limit, r->taken_from + ring_);
  }
  return limit;
}

bool ValueEventRing::IsTaken(uint64_t position) const {
  return std::any_of(readers_.begin(), readers_.end(), [&](const ReaderState* r) {
    return r->taken > 0 && position >= r->taken_from && position < r->taken_from + r->taken;
  });
}

size_t ValueEventRing::Waiting(const ReaderState& r) const {
  const uint64_t end = std::min(written_, r.end);
  return end > r.next ? static_cast<size_t>(end - r.next) : 0;
}

void ValueEventRing::Packed::Pack(uint64_t number_in_ring, const SentValue& v) {
  seq = number_in_ring;
  number = v.number;
  device = static_cast<int16_t>(v.device);
  input = static_cast<int16_t>(v.input);
  com = static_cast<uint16_t>(std::clamp(v.com, 0, 0xffff));
  slot = static_cast<uint8_t>(v.slot);
  status = static_cast<uint8_t>(v.status);
  cause = static_cast<uint8_t>(v.cause);
  label = v.label;
  const std::optional<double>* given[4] = {&v.limits.usl, &v.limits.ucl, &v.limits.lcl,
                                           &v.limits.lsl};
  limits_set = 0;
  for (int k = 0; k < 4; ++k) {
    limits[k] = given[k]->value_or(0.0);
    if (given[k]->has_value()) limits_set = static_cast<uint8_t>(limits_set | 1u << k);
  }
  client_size = static_cast<uint32_t>(v.client.size());
  text_size = static_cast<uint32_t>(v.text.size());
  if (v.client.size() + v.text.size() <= kInline) {
    // An empty view may have no data at all: memcpy is not given it.
    if (!v.client.empty()) std::memcpy(chars, v.client.data(), v.client.size());
    if (!v.text.empty()) std::memcpy(chars + v.client.size(), v.text.data(), v.text.size());
  } else {
    spill.assign(v.client).append(v.text);
  }
}

void ValueEventRing::Packed::Unpack(const std::string& station, NumberedEvent& n) const {
  n.seq = seq;
  ValueEvent& e = n.event;
  e.utc_ms = utc_ms;
  e.station = station;
  e.slot = slot;
  e.port.clear();
  if (com > 0) e.port.append("COM").append(std::to_string(com));
  const char* both = client_size + text_size <= kInline ? chars : spill.data();
  e.client.assign(both, client_size);
  e.text.assign(both + client_size, text_size);
  e.device = device;
  e.input = input;
  e.number = number;
  e.status = static_cast<ValueStatus>(status);
  e.cause = static_cast<ValueCause>(cause);
  if (label != nullptr) {
    e.name.assign(label->name);
    e.unit.assign(label->unit);
  } else {
    e.name.clear();
    e.unit.clear();
  }
  std::optional<double>* wanted[4] = {&e.limits.usl, &e.limits.ucl, &e.limits.lcl, &e.limits.lsl};
  for (int k = 0; k < 4; ++k) {
    if ((limits_set >> k & 1u) != 0) {
      *wanted[k] = limits[k];
    } else {
      wanted[k]->reset();
    }
  }
}

void ValueEventRing::SetStation(const std::string& station) {
  std::lock_guard lock(mutex_);
  station_ = station;
}

bool ValueEventRing::Add(const SentValue& value) {
  if (spare_used_) return false;
  const uint64_t position = written_ + pending_;
  if (position >= fill_limit_) {
    std::lock_guard lock(mutex_);
    fill_limit_ = FillLimit();
    if (position >= fill_limit_) {
      if (pending_ > 0) return false;
      spare_used_ = true;
      spare_.Pack(++seq_, value);
      return true;
    }
  }
  const size_t i = Wrap(written_index_ + pending_);
  std::unique_ptr<Packed[]>& chunk = chunks_[i / kChunk];
  if (!chunk) chunk = std::make_unique<Packed[]>(std::min(kChunk, ring_ - i / kChunk * kChunk));
  chunk[i % kChunk].Pack(++seq_, value);
  ++pending_;
  // The ring is far larger than the caches: a slot filled without asking ahead would wait for
  // memory on each of its lines.
  const size_t ahead = Wrap(i + kAhead);
  if (ahead < ring_ && chunks_[ahead / kChunk]) {
    const char* line = reinterpret_cast<const char*>(&At(ahead));
    for (size_t k = 0; k < sizeof(Packed); k += 64) __builtin_prefetch(line + k, 1);
  }
  return true;
}

void ValueEventRing::Publish(int64_t utc_ms) {
  if (pending_ == 0 && !spare_used_) return;
  for (size_t i = 0; i < pending_; ++i) At(Wrap(written_index_ + i)).utc_ms = utc_ms;
  if (spare_used_) spare_.utc_ms = utc_ms;
  std::lock_guard lock(mutex_);
  const uint64_t published = written_;
  written_ += pending_;
  written_index_ = Wrap(written_index_ + pending_);
  pending_ = 0;
  if (spare_used_) {
    // The event that found no slot replaces the newest one, unless a reader holds that; either
    // way each reader misses one event.
    spare_used_ = false;
    const uint64_t newest = written_ - 1;
    const bool replaced = written_ > 0 && !IsTaken(newest);
    if (replaced) std::swap(Slot(newest), spare_);
    for (ReaderState* r : readers_) {
      const bool open = r->end > written_;
      if (open || (replaced && newest >= r->next && newest < r->end)) ++r->dropped;
    }
  }
  for (ReaderState* r : readers_) {
    const uint64_t end = std::min(published, r->end);
    const bool wasEmpty = end <= r->next;
    if (written_ - r->next > capacity_) {
      // The oldest events give way; those past a closed reader's end were never its own.
      const uint64_t excess = written_ - capacity_ - r->next;
      const uint64_t own = std::min(written_, r->end);
      r->dropped += std::min(excess, own > r->next ? own - r->next : 0);
      r->next += excess;
    }
    const size_t waiting = Waiting(*r);
    if (r->waiting && waiting > 0 && (wasEmpty || waiting >= wake_at_)) {
      r->waiting = false;
      r->ready.notify_one();
    }
  }
}

ValueEventReader::ValueEventReader(ValueEventRing& ring) : ring_(ring) {
  std::lock_guard lock(ring_.mutex_);
  station_ = ring_.station_;
  state_.next = ring_.written_;
  ring_.readers_.push_back(&state_);
}

ValueEventReader::~ValueEventReader() {
  std::lock_guard lock(ring_.mutex_);
  std::erase(ring_.readers_, &state_);
}

size_t ValueEventReader::Overflow() const {
  const size_t all = back_ + ring_.Waiting(state_);
  return all > ring_.capacity_ ? std::min(back_, all - ring_.capacity_) : 0;
}

void ValueEventReader::Trim() {
  const size_t over = Overflow();
  front_ += over;
  back_ -= over;
  state_.dropped += over;
}

size_t ValueEventReader::Take(size_t max, std::chrono::milliseconds timeout,
                              std::chrono::milliseconds linger) {
  std::unique_lock lock(ring_.mutex_);
  ValueEventRing::ReaderState& r = state_;
  Trim();
  auto waiting = [&] { return back_ + ring_.Waiting(r); };
  auto closed = [&] { return r.end != std::numeric_limits<uint64_t>::max(); };
  r.waiting = true;
  r.ready.wait_for(lock, timeout, [&] { return waiting() > 0 || r.woken || closed(); });
  const size_t gathered = waiting();
  if (gathered > 0 && gathered < ring_.wake_at_ && !closed() && !r.woken && linger.count() > 0) {
    r.waiting = true;
    r.ready.wait_for(lock, linger,
                     [&] { return waiting() >= ring_.wake_at_ || r.woken || closed(); });
  }
  r.waiting = false;
  r.woken = false;
  Trim();
  // What was given back comes first, alone.
  if (back_ > 0) {
    held_ = std::min({max, back_, ring_.max_take_});
    back_ -= held_;
    return held_;
  }
  const size_t n = std::min({max, ring_.Waiting(r), ring_.max_take_});
  if (n == 0) return 0;
  r.taken_from = r.next;
  r.taken = n;
  r.next += n;
  // Unpacked without the lock: the slots stay the reader's until it says otherwise.
  lock.unlock();
  if (batch_.size() < n) batch_.resize(n);
  for (size_t i = 0; i < n; ++i) ring_.Slot(r.taken_from + i).Unpack(station_, batch_[i]);
  lock.lock();
  r.taken = 0;
  front_ = 0;
  held_ = n;
  return n;
}

void ValueEventReader::Release(size_t done) {
  std::lock_guard lock(ring_.mutex_);
  done = std::min(done, held_);
  // The events not done go back in front of any given back before, where they stand.
  front_ += done;
  back_ += held_ - done;
  held_ = 0;
  Trim();
}

void ValueEventReader::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(ring_.mutex_);
  state_.ready.wait_for(lock, duration, [this] {
    return state_.woken || state_.end != std::numeric_limits<uint64_t>::max();
  });
}

void ValueEventReader::Close() {
  std::lock_guard lock(ring_.mutex_);
  if (state_.end == std::numeric_limits<uint64_t>::max()) state_.end = ring_.written_;
  state_.ready.notify_all();
}

void ValueEventReader::Wake() {
  std::lock_guard lock(ring_.mutex_);
  state_.woken = true;
  state_.ready.notify_all();
}

bool ValueEventReader::Closed() const {
  std::lock_guard lock(ring_.mutex_);
  return state_.end != std::numeric_limits<uint64_t>::max();
}

size_t ValueEventReader::Size() const {
  std::lock_guard lock(ring_.mutex_);
  return held_ + back_ + ring_.Waiting(state_) - Overflow();
}

uint64_t ValueEventReader::Dropped() const {
  std::lock_guard lock(ring_.mutex_);
  return state_.dropped + Overflow();
}
