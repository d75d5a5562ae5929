#define _GNU_SOURCE
#include "port_open.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "line_state.h"
#include "port_match.h"
#include "refusal_report.h"

enum {
  kBusyRetryMs = 200,   // a port someone holds is refused after this
  kFreedWaitMs = 3000,  // a port nobody holds is waited for this long at most
  kBusyPauseMs = 5,
  kLockWaitMs = 200,
  kLockPauseUs = 500,
};

static long long NowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static void Pause(long nanoseconds) {
  const struct timespec pause = {0, nanoseconds};
  nanosleep(&pause, NULL);
}

static int OpenFolder(const char* path) {
  return (int)syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The layer's opens of pseudo-terminals exclude each other from the open until the terminal
// is exclusive: an flock on the port folder (on /dev/pts when the folder cannot be opened),
// taken by every opener, in every thread and process, whatever name it opens the port by.
// Without it two opens at the same instant both succeed before either makes the terminal
// exclusive. The lock is held for one open, a look at the folder and one ioctl; when it cannot
// be had within kLockWaitMs (its holder stopped, or killed while a child it forked shares the
// descriptor), the open goes ahead without it. Returns the locked folder's descriptor, or -1
// without a lock.
static int LockOpens(void) {
  int dir = OpenFolder(PortFolderPath());
  if (dir < 0) dir = OpenFolder("/dev/pts");
  if (dir < 0) return -1;
  const long long deadline = NowMs() + kLockWaitMs;
  for (;;) {
    if (flock(dir, LOCK_EX | LOCK_NB) == 0) return dir;
    if (errno != EWOULDBLOCK || NowMs() >= deadline) break;
    Pause(kLockPauseUs * 1000L);
  }
  syscall(SYS_close, dir);
  return -1;
}

// Unlocked explicitly: a child forked while the lock was held shares the descriptor, and
// would keep the lock after this close.
static void UnlockOpens(int dir) {
  if (dir < 0) return;
  flock(dir, LOCK_UN);
  syscall(SYS_close, dir);
}

// One open through `call`; with `lock`, under the lock of LockOpens. A port it opens is made
// exclusive before the lock is given up, unless the ports are shared.
static int OpenOnce(SystemOpenat call, int dirfd, const char* path, int flags, mode_t mode,
                    int lock) {
  const int dir = lock ? LockOpens() : -1;
  const int fd = call(dirfd, path, flags, mode);
  const int saved = errno;
  if (fd >= 0 && PortOpened(fd) && !PortsShared()) syscall(SYS_ioctl, fd, TIOCEXCL);
  UnlockOpens(dir);
  errno = saved;
  return fd;
}

int OpenPort(SystemOpenat call, int dirfd, const char* path, int flags, mode_t mode) {
  dev_t device;
  const int terminal = (flags & (O_DIRECTORY | O_PATH)) == 0 && IsPtsPath(dirfd, path, &device);
  int fd = OpenOnce(call, dirfd, path, flags, mode, terminal);
  if (fd >= 0 || errno != EBUSY || !IsPortPath(dirfd, path)) return fd;
  // Busy: another client holds the terminal, or one that has left kept it exclusive until the
  // program moves the port to a fresh terminal. Every kBusyRetryMs the layer looks whether
  // anyone holds the terminal the path leads to now: while someone does, the open is refused;
  // while nobody does, the program is slow to move the port (a loaded machine) and the open
  // is tried on until kFreedWaitMs.
  const long long start = NowMs();
  long long look = start + kBusyRetryMs;
  while (fd < 0 && errno == EBUSY) {
    const long long now = NowMs();
    if (now >= look) {
      if (now >= start + kFreedWaitMs || !IsPtsPath(dirfd, path, &device) || DeviceHeld(device)) {
        errno = EBUSY;
        break;
      }
      look = now + kBusyRetryMs;
    }
    Pause(kBusyPauseMs * 1000000L);
    fd = OpenOnce(call, dirfd, path, flags, mode, 1);
  }
  if (fd < 0 && errno == EBUSY) ReportRefusedOpen(dirfd, path);
  return fd;
}
