#include "process_priority.h"

#include <errno.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <iostream>

namespace {

constexpr int kWantedNice = -10;

}  // namespace

bool RaiseProcessPriority() {
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, 0);
  if (errno == 0 && now <= kWantedNice) return true;
  // Without CAP_SYS_NICE the nice limit (RLIMIT_NICE, 20 - value) says how far a process may go.
  int target = kWantedNice;
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur <= 40) {
    target = std::max(kWantedNice, 20 - static_cast<int>(limit.rlim_cur));
  }
  if (setpriority(PRIO_PROCESS, 0, kWantedNice) == 0 ||
      (target < now && setpriority(PRIO_PROCESS, 0, target) == 0)) {
    return true;
  }
  std::cerr << "Velk_VCP: the process priority stays normal (" << std::strerror(errno)
            << "; raising it needs CAP_SYS_NICE or a nice limit, see RLIMIT_NICE)\n";
  return false;
}
