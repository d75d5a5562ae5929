// One bounded ring of value events between the serving thread and the listeners (the history and
// the publisher), each reading it at its own pace through a ValueEventReader. The serving thread
// packs each event once into a slot of the ring (no copy per listener, no lock per event, three
// cache lines written and none read: the ring is far larger than the caches) and makes the events
// of a serving step visible together with Publish. A reader unpacks the events it takes on its own
// thread. A reader never holds the serving thread up: when more than the capacity waits for it,
// its oldest events give way and are counted as dropped for that reader only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "value_events.h"

// One event with the number the ring gave it (1, 2, ... from the program's start).
struct NumberedEvent {
  uint64_t seq = 0;
  ValueEvent event;
};

class ValueEventReader;

class ValueEventRing {
 public:
  // capacity: events that wait for each reader at most (at least 1), besides those it took.
  explicit ValueEventRing(size_t capacity);
  // The readers must be gone by now.
  ~ValueEventRing();

  // The station's name in the events of the readers made from now on. Returns at once.
  void SetStation(const std::string& station);

  // Serving thread only. Numbers value and packs it into the next slot; the readers see it from
  // the next Publish. Returns false, and keeps nothing, when the values added so far must be
  // published first.
  bool Add(const SentValue& value);
  // Serving thread only. Gives the events added since the last call utc_ms as their time (when
  // they were sent) and makes them visible to the readers, in their order, under one lock; wakes
  // a reader that waits for a first event or has half the capacity waiting. Returns at once.
  void Publish(int64_t utc_ms);

  ValueEventRing(const ValueEventRing&) = delete;
  ValueEventRing& operator=(const ValueEventRing&) = delete;

 private:
  friend class ValueEventReader;
  struct ReaderState {
    uint64_t next = 0;                                    // position of the oldest waiting event
    uint64_t taken_from = 0;                              // the events being copied out: first
    size_t taken = 0;                                     // and how many (0 when none)
    uint64_t end = std::numeric_limits<uint64_t>::max();  // closed: positions from here not its
    uint64_t dropped = 0;
    bool waiting = false;  // waits in Take
    bool woken = false;
    std::condition_variable ready;
  };
  // An event as a slot holds it: the client's name and the text sent side by side in the slot
  // itself when they fit (they nearly always do), in spill otherwise; the input's name and unit
  // as the pointer to their kept label, the limits as numbers with a bit each when set.
  struct alignas(64) Packed {
    static constexpr size_t kInline = 76;
    uint64_t seq = 0;
    int64_t utc_ms = 0;
    double number = 0.0;
    double limits[4] = {};  // USL, UCL, LCL, LSL
    const GaugeLabel* label = nullptr;
    int16_t device = 0;
    int16_t input = 0;
    uint16_t com = 0;
    uint8_t slot = 0;
    uint8_t status = 0;      // ValueStatus
    uint8_t cause = 0;       // ValueCause
    uint8_t limits_set = 0;  // bit k: limits[k] is set
    uint32_t client_size = 0;
    uint32_t text_size = 0;
    char chars[kInline];
    std::string spill;

    void Pack(uint64_t number_in_ring, const SentValue& v);
    // Sets e to this event, with station as the station's name.
    void Unpack(const std::string& station, NumberedEvent& e) const;
  };
  static_assert(sizeof(Packed) == 192, "three cache lines");
  static constexpr size_t kChunk = 1024;  // slots made at a time

  static constexpr size_t kAhead = 8;  // slots the serving thread asks the cache for ahead
  Packed& At(size_t index) const { return chunks_[index / kChunk][index % kChunk]; }
  Packed& Slot(uint64_t position) const { return At(static_cast<size_t>(position % ring_)); }
  size_t Wrap(size_t index) const { return index >= ring_ ? index - ring_ : index; }
  // With the lock held: the first position the serving thread may not fill before a Publish.
  uint64_t FillLimit() const;
  // With the lock held: true when position is among the events a reader took.
  bool IsTaken(uint64_t position) const;
  // With the lock held: events waiting for r.
  size_t Waiting(const ReaderState& r) const;

  mutable std::mutex mutex_;
  std::vector<ReaderState*> readers_;
  // The ring's slots, made a chunk at a time as it first fills; a slot never moves.
  std::vector<std::unique_ptr<Packed[]>> chunks_;
  std::string station_;
  size_t capacity_;
  size_t max_take_;  // events a reader takes at most
  size_t ring_;      // slots: capacity_ waiting, as many again (at least 2 * max_take_) of room
  size_t wake_at_;
  // Written by the serving thread only (under the lock when readers may look).
  uint64_t written_ = 0;      // events published; the next is filled at this position
  size_t written_index_ = 0;  // its slot
  uint64_t fill_limit_ = 0;   // positions below may be filled without asking again
  size_t pending_ = 0;
  uint64_t seq_ = 0;
  // An event that found no free slot (a reader still copies out events a whole ring ago); at
  // Publish it takes the place of the newest event, so that the latest value is not the one
  // lost.
  Packed spare_;
  bool spare_used_ = false;
};

// One listener's view of a ring: takes the oldest events waiting for it, copied out of the ring
// at once (a listener that holds its events for long never holds ring slots), and releases them.
// Only the listener's thread calls it, but Close, Wake, Closed, Size and Dropped.
class ValueEventReader {
 public:
  // Reads the events published from now on. The ring must outlive the reader.
  explicit ValueEventReader(ValueEventRing& ring);
  ~ValueEventReader();

  // Waits until an event waits, Close or Wake is called or timeout passes; then, unless woken
  // or closed, up to linger more while further events gather (cut short when half the capacity
  // waits). Takes up to max of the oldest events (at most half the capacity, at most 10,000)
  // and returns how many; they stay readable with Taken until Release. Returns 0 when nothing
  // waits. Call Release before taking again.
  size_t Take(size_t max, std::chrono::milliseconds timeout, std::chrono::milliseconds linger);
  // The i-th event taken (0 the oldest); valid until Release.
  const NumberedEvent& Taken(size_t i) const { return batch_[front_ + i]; }
  // The first done events taken are finished; the others go back to the front, in their order
  // (a listener that could not hand them on tries them again later), as far as the capacity
  // leaves room (the oldest of them are dropped otherwise).
  void Release(size_t done);
  // Waits for duration, or until Close or Wake is called; takes nothing.
  void Pause(std::chrono::milliseconds duration);
  // Wakes a waiting Take; events published later are not this reader's.
  void Close();
  // Wakes a waiting Take without an event (to look at its other conditions).
  void Wake();

  bool Closed() const;
  // Events waiting, those taken and not released included.
  size_t Size() const;
  // Events dropped since the start.
  uint64_t Dropped() const;

  ValueEventReader(const ValueEventReader&) = delete;
  ValueEventReader& operator=(const ValueEventReader&) = delete;

 private:
  // With the lock held: the oldest events given back that no longer fit beside those waiting.
  size_t Overflow() const;
  // With the lock held, nothing taken: drops those.
  void Trim();

  ValueEventRing& ring_;
  ValueEventRing::ReaderState state_;
  std::string station_;  // the ring's when the reader was made
  // The events taken, from front_, followed by those given back; the listener's own, their
  // strings reused. held_ and back_ are read by other threads under the ring's lock.
  std::vector<NumberedEvent> batch_;
  size_t front_ = 0;
  size_t held_ = 0;
  size_t back_ = 0;
};
