#include "utc_time.h"

#include <chrono>
#include <cstdio>

std::string IsoUtc(int64_t utcMs) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds(utcMs)};
  const sys_days day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> clock{t - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(ymd.year()),
                unsigned(ymd.month()), unsigned(ymd.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()),
                int(clock.subseconds().count()));
  return text;
}

std::optional<int64_t> ParseIsoUtc(const std::string& text) {
  using namespace std::chrono;
  std::string s = text;
  if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
  int used = 0;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) {
    return std::nullopt;
  }
  if (s.size() > 10) {
    if (s[10] != 'T' && s[10] != 't' && s[10] != ' ') return std::nullopt;
    const std::string rest = s.substr(11);
    int n = 0;
    if (std::sscanf(rest.c_str(), "%2d:%2d%n", &h, &mi, &n) != 2 || n != 5) return std::nullopt;
    if (rest.size() > 5) {
      int n2 = 0;
      if (std::sscanf(rest.c_str() + 5, ":%2d%n", &sec, &n2) != 1 || n2 != 3) return std::nullopt;
      if (rest.size() > 8) {
        int n3 = 0;
        if (std::sscanf(rest.c_str() + 8, ".%3d%n", &ms, &n3) != 1 || n3 != 4 ||
            rest.size() != 12) {
          return std::nullopt;
        }
      }
    }
  }
  const year_month_day ymd{year(y), month(static_cast<unsigned>(mo)),
                           day(static_cast<unsigned>(d))};
  if (!ymd.ok() || h > 23 || mi > 59 || sec > 59 || h < 0 || mi < 0 || sec < 0 || ms < 0) {
    return std::nullopt;
  }
  const auto t = sys_days(ymd) + hours(h) + minutes(mi) + seconds(sec) + milliseconds(ms);
  return duration_cast<milliseconds>(t.time_since_epoch()).count();
}
