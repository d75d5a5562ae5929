// How a listener of the value events keeps a flood from taking the serving thread's machine, and
// how it tells of the events it lost.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

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
