#include "listener_pace.h"

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
