#include "listener_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

void LowerListenerPriority() {
  sched_param param{};
  if (::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param) == 0) return;
  // On Linux the nice value belongs to the thread, named by its thread id.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  if (::getpriority(PRIO_PROCESS, tid) == -1 && errno != 0) return;
  ::setpriority(PRIO_PROCESS, tid, 19);
}
