#include "listener_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

void LowerListenerPriority() {
  // On Linux the nice value belongs to the thread, named by its thread id.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return;
  ::setpriority(PRIO_PROCESS, tid, std::min(now + 10, 19));
}
