// A bounded queue of value events between the serving thread and one listener thread. Push
// never waits for the listener: when the queue is full the oldest event gives way and is
// counted as dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "value_events.h"

// One event with the number the recorder gave it (1, 2, ... from the program's start).
struct NumberedEvent {
  uint64_t seq = 0;
  ValueEvent event;
};

class ValueEventQueue {
 public:
  explicit ValueEventQueue(size_t capacity);

  // Appends the event; when capacity events wait already, drops the oldest first (counted).
  // Returns at once.
  void Push(const NumberedEvent& event);
  // Waits until an event waits, Close is called or timeout passes (or ready() turns true
  // while an event waits); then moves up to max events, oldest first, into out. Returns false
  // once closed and empty.
  bool PopBatch(std::vector<NumberedEvent>& out, size_t max, std::chrono::milliseconds timeout);
  // Puts events taken by PopBatch back at the front, in their order, as far as room is left;
  // the rest (the oldest) count as dropped.
  void PushFront(std::vector<NumberedEvent>& events);
  // Wakes a waiting PopBatch and lets it return false once the queue is empty.
  void Close();
  // Wakes a waiting PopBatch without an event (to look at its other conditions).
  void Wake();

  size_t Size() const;
  // Events dropped since the start.
  uint64_t Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<NumberedEvent> events_;
  size_t capacity_;
  uint64_t dropped_ = 0;
  bool closed_ = false;
  bool woken_ = false;
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
