#include "port_open.h"

#include <errno.h>
#include <time.h>

#include "line_state.h"
#include "port_match.h"
#include "refusal_report.h"

enum { kBusyRetryMs = 200, kBusyPauseMs = 5 };

static long long NowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

int OpenPort(SystemOpenat call, int dirfd, const char* path, int flags, mode_t mode) {
  int fd = call(dirfd, path, flags, mode);
  if (fd < 0 && errno == EBUSY && IsPortPath(dirfd, path)) {
    const long long deadline = NowMs() + kBusyRetryMs;
    while (fd < 0 && errno == EBUSY && NowMs() < deadline) {
      const struct timespec pause = {0, kBusyPauseMs * 1000000L};
      nanosleep(&pause, NULL);
      fd = call(dirfd, path, flags, mode);
    }
    if (fd < 0 && errno == EBUSY) ReportRefusedOpen(dirfd, path);
  }
  if (fd >= 0) {
    const int saved = errno;
    PortOpened(fd);
    errno = saved;
  }
  return fd;
}
