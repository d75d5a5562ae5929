#include "port_open.h"

#include <errno.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

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
    // The port is this client's from its open on, as a COM port is: the terminal is made
    // exclusive before the open returns, so a second open (of this program or another) fails
    // at once instead of slipping in before the serving program has seen the first.
    if (PortOpened(fd) && !PortsShared()) syscall(SYS_ioctl, fd, TIOCEXCL);
    errno = saved;
  }
  return fd;
}
