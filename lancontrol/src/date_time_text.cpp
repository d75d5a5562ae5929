#include "date_time_text.h"

#include <chrono>
#include <cstring>

namespace velk::lan {
namespace {

void PutTwoDigits(char* at, unsigned value) {
  at[0] = static_cast<char>('0' + value / 10 % 10);
  at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

void FormatDateTime(uint32_t seconds, char out[kDateTimeTextSize]) {
  using namespace std::chrono;
  const unsigned days = seconds / 86400;
  const unsigned in_day = seconds % 86400;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  const unsigned year = static_cast<unsigned>(static_cast<int>(date.year()));

  std::memcpy(out, "00:00:00 - 00/00/0000", kDateTimeTextSize);
  PutTwoDigits(out + 0, in_day / 3600);
  PutTwoDigits(out + 3, in_day / 60 % 60);
  PutTwoDigits(out + 6, in_day % 60);
  PutTwoDigits(out + 11, static_cast<unsigned>(date.month()));
  PutTwoDigits(out + 14, static_cast<unsigned>(date.day()));
  PutTwoDigits(out + 17, year / 100);
  PutTwoDigits(out + 19, year % 100);
}

}  // namespace velk::lan
