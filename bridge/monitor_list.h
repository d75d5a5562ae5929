// A monitor list of the main window: the last few commands or answers, oldest first.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

class MonitorList {
 public:
  static constexpr size_t kMaxLines = 7;

  // Adds line; when the list already holds kMaxLines lines its oldest line goes first.
  void Add(const std::string& line) {
    if (lines_.size() >= kMaxLines) lines_.pop_front();
    lines_.push_back(line);
  }
  void Clear() { lines_.clear(); }
  const std::deque<std::string>& lines() const { return lines_; }

 private:
  std::deque<std::string> lines_;
};
