// A bounded queue of value events between the serving thread and one listener thread. Push
// never waits for the listener: when the queue is full the oldest event gives way and is
// counted as dropped. The events live in a ring of slots that are used again (their texts
// keep their memory), so that a push in a steady flow allocates nothing; the listener works on
// the events it took in place, and holds the lock only to take or give them back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "value_events.h"

// One event with the number the recorder gave it (1, 2, ... from the program's start).
struct NumberedEvent {
  uint64_t seq = 0;
  ValueEvent event;
};

class ValueEventQueue {
 public:
  // capacity: events the queue holds (at least 1) besides those a listener took; the listener
  // is woken early, while it gathers events, once half of that waits.
  explicit ValueEventQueue(size_t capacity);

  // Copies the event in; when capacity events wait already, drops the oldest first (counted;
  // while a listener holds taken events and many were dropped meanwhile, the newest waiting
  // one instead, so that the event pushed last is always kept).
  // Wakes the listener only when it waits for a first event or the queue is half full.
  // Returns at once.
  void Push(const NumberedEvent& event);
  // Push of count events in their order, under one lock (the events of one serving step).
  void PushAll(const NumberedEvent* events, size_t count);
  // Waits until an event waits, Close or Wake is called or timeout passes; then, unless
  // woken or closed, up to linger more while further events gather (cut short when half the
  // capacity waits). Takes up to max of the oldest events (at most half the capacity, at most
  // 10,000) for the listener and returns how many; they stay readable with Taken until Release.
  // Returns 0 when nothing waits. Call Release before taking again.
  size_t Take(size_t max, std::chrono::milliseconds timeout, std::chrono::milliseconds linger);
  // The i-th event taken (0 the oldest); the listener reads it without a lock.
  const NumberedEvent& Taken(size_t i) const { return Slot((taken_at_ + i) % ring_); }
  // The first done events taken are finished; the others go back to the front of the queue,
  // in their order (a listener that could not hand them on tries them again later), as far as
  // the capacity leaves room (the oldest of them are dropped otherwise).
  void Release(size_t done);
  // Waits for duration, or until Close or Wake is called; takes nothing.
  void Pause(std::chrono::milliseconds duration);
  // Wakes a waiting Take and lets the queue refuse further events.
  void Close();
  // Wakes a waiting Take without an event (to look at its other conditions).
  void Wake();

  bool Closed() const;
  // Events waiting, those taken and not released included.
  size_t Size() const;
  // Events dropped since the start.
  uint64_t Dropped() const;

 private:
  static constexpr size_t kChunk = 1024;  // slots made at a time
  NumberedEvent& Slot(size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  // One event of a push, with the lock held; returns true when the listener is to be woken.
  bool Place(const NumberedEvent& event);

  mutable std::mutex mutex_;
  std::condition_variable ready_;
  // The ring's slots, made a chunk at a time as it first fills; a slot never moves, so that the
  // listener reads the events it took while the serving thread adds others.
  std::vector<std::unique_ptr<NumberedEvent[]>> chunks_;
  size_t capacity_;
  size_t max_take_;  // events a listener takes at most
  size_t ring_;      // slots: capacity_ waiting, max_take_ taken, max_take_ dropped meanwhile
  size_t wake_at_;
  size_t head_ = 0;      // slot of the oldest waiting event
  size_t count_ = 0;     // events waiting, not taken
  size_t taken_at_ = 0;  // slot of the oldest taken event
  size_t taken_ = 0;     // events taken and not released
  size_t gap_ = 0;       // slots between the taken and the waiting events, dropped meanwhile
  uint64_t dropped_ = 0;
  bool closed_ = false;
  bool woken_ = false;
  bool waiting_ = false;  // the listener waits in Take
};

// Paces a listener that a flood outruns. While its queue drops events, the listener cannot
// keep up whatever it does; it then takes one batch per kPause and the newest events win, so
// that the records of a flood (and a broker's work for them) take little from serving. As soon
// as nothing is dropped it takes events as fast as they come again.
class FloodPace {
 public:
  static constexpr std::chrono::milliseconds kPause{100};
  // Returns how long to pause before the next batch: kPause when dropped (the queue's count)
  // grew since the last call, zero otherwise.
  std::chrono::milliseconds Next(uint64_t dropped);

 private:
  uint64_t seen_ = 0;
};

// Says at most once a minute how many events a listener dropped since it last said so.
class DropReport {
 public:
  // Returns the line to print ("" when nothing is due): when total has grown since the last
  // line and a minute has passed since it (or none was printed yet), or now is true.
  std::string Due(const char* what, uint64_t total, std::chrono::steady_clock::time_point now,
                  bool at_once = false);

 private:
  uint64_t reported_ = 0;
  std::chrono::steady_clock::time_point last_{};
  bool any_ = false;
};
