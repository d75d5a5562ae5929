// Messages that may repeat many times a second (a reading dropped for every value a gauge
// pushes): each text is written at once the first time, then counted, and the count written
// at most once per interval, so a flood costs a few lines instead of one line per event.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

class RepeatedReport {
 public:
  using Clock = std::chrono::steady_clock;

  // Writes to out; now gives the time (the steady clock unless a test passes its own).
  RepeatedReport(std::ostream& out, std::chrono::milliseconds interval,
                 std::function<Clock::time_point()> now = Clock::now);
  RepeatedReport(const RepeatedReport&) = delete;
  RepeatedReport& operator=(const RepeatedReport&) = delete;

  // Writes "prefix text" and a line end when text was not written within the last interval,
  // followed by " (N more times in the last S s)" when it came N times meanwhile; otherwise
  // only counts it. Safe to call from several threads.
  void Report(const std::string& text);
  // Writes the counts still held (" ... N more times") and forgets every text.
  void Flush();

 private:
  struct Entry {
    Clock::time_point written;
    long unreported = 0;
  };
  void WriteLine(const std::string& text, long more);

  std::ostream& out_;
  const std::chrono::milliseconds interval_;
  const std::function<Clock::time_point()> now_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};
