#include "modem_lines.h"

#include <errno.h>
#include <linux/serial.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>

// The lines the client drives; the others are inputs that it only reads.
enum { kOutputLines = TIOCM_DTR | TIOCM_RTS, kInputLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR };

int IsModemRequest(unsigned long request) {
  switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
    case TIOCSERGETLSR:
      return 1;
    default:
      return 0;
  }
}

// No input line ever changes: waits until the port goes away or a signal arrives.
static int WaitForLineChange(int fd) {
  struct pollfd entry = {fd, 0, 0};
  for (;;) {
    const int n = poll(&entry, 1, -1);
    if (n < 0) return -1;
    if (n > 0) {
      errno = EIO;
      return -1;
    }
  }
}

int EmulateModemRequest(int fd, unsigned long request, void* arg, struct LineState* state,
                        SystemIoctl system_ioctl) {
  if (request == TIOCMIWAIT) return WaitForLineChange(fd);
  if (arg == NULL) {
    errno = EFAULT;
    return -1;
  }
  int* bits = arg;
  switch (request) {
    case TIOCMGET:
      *bits = (state->lines & kOutputLines) | kInputLines;
      return 0;
    case TIOCMSET:
      state->lines = *bits & kOutputLines;
      return 0;
    case TIOCMBIS:
      state->lines |= *bits & kOutputLines;
      return 0;
    case TIOCMBIC:
      state->lines &= ~(*bits & kOutputLines);
      return 0;
    case TIOCGICOUNT:
      // No line changes, no breaks and no frame, parity or overrun errors, ever.
      memset(arg, 0, sizeof(struct serial_icounter_struct));
      return 0;
    case TIOCSERGETLSR: {
      int queued = 0;
      if (system_ioctl(fd, TIOCOUTQ, &queued) != 0) return -1;
      *bits = queued == 0 ? TIOCSER_TEMT : 0;
      return 0;
    }
    default:
      errno = EINVAL;
      return -1;
  }
}
