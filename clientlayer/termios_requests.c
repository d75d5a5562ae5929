#include "termios_requests.h"

#include <errno.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>

// The kernel's struct termios2; its first 36 bytes are the kernel's struct termios, which
// TCGETS and TCSETS* take. c_cflag is at the same place in both.
struct KernelTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};

#define VELK_TCGETS2 _IOR('T', 0x2A, struct KernelTermios2)
#define VELK_TCSETS2 _IOW('T', 0x2B, struct KernelTermios2)
#define VELK_TCSETSW2 _IOW('T', 0x2C, struct KernelTermios2)
#define VELK_TCSETSF2 _IOW('T', 0x2D, struct KernelTermios2)

static const size_t kKernelTermiosSize = offsetof(struct KernelTermios2, c_ispeed);

int IsTermiosRequest(unsigned long request) {
  switch (request) {
    case TCGETS:
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
    case VELK_TCGETS2:
    case VELK_TCSETS2:
    case VELK_TCSETSW2:
    case VELK_TCSETSF2:
      return 1;
    default:
      return 0;
  }
}

int EmulateTermiosRequest(int fd, unsigned long request, void* arg, struct LineState* state,
                          SystemIoctl system_ioctl) {
  if (arg == NULL) {
    errno = EFAULT;
    return -1;
  }
  const int is_get = request == TCGETS || request == VELK_TCGETS2;
  const int is_two = request == VELK_TCGETS2 || request == VELK_TCSETS2 ||
                     request == VELK_TCSETSW2 || request == VELK_TCSETSF2;
  const unsigned long get = is_two ? VELK_TCGETS2 : TCGETS;
  struct KernelTermios2 attributes;
  if (is_get) {
    if (system_ioctl(fd, request, arg) != 0) return -1;
    if (state->has_frame) {
      memcpy(&attributes, arg, kKernelTermiosSize);
      attributes.c_cflag = (attributes.c_cflag & ~VELK_FRAME_BITS) | state->frame;
      memcpy(arg, &attributes, kKernelTermiosSize);
    }
    return 0;
  }
  struct KernelTermios2 current;
  if (system_ioctl(fd, get, &current) != 0) return -1;
  memcpy(&attributes, arg, is_two ? sizeof attributes : kKernelTermiosSize);
  const tcflag_t wanted = attributes.c_cflag & VELK_FRAME_BITS;
  attributes.c_cflag =
      (attributes.c_cflag & ~VELK_FRAME_BITS) | (current.c_cflag & VELK_FRAME_BITS);
  if (system_ioctl(fd, request, &attributes) != 0) return -1;
  state->has_frame = 1;
  state->frame = wanted;
  return 0;
}
