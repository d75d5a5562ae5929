// The calls the layer puts in front of the C library's own: ioctl for the modem-control
// requests, tcsetattr and tcgetattr for the character frame, and close to forget a
// descriptor. On a descriptor that is not one of the simulated ports, and for every other
// ioctl request, each passes the call to the C library unchanged.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_state.h"
#include "modem_lines.h"

#define VELK_EXPORT __attribute__((visibility("default")))

typedef int (*TcsetattrCall)(int, int, const struct termios*);
typedef int (*TcgetattrCall)(int, struct termios*);
typedef int (*CloseCall)(int);

// The next definition of name after this library: the C library's.
static void* Next(const char* name) {
  void* call = dlsym(RTLD_NEXT, name);
  if (call == NULL) errno = ENOSYS;
  return call;
}

VELK_EXPORT int ioctl(int fd, unsigned long request, ...) {
  static SystemIoctl system_ioctl;
  if (system_ioctl == NULL && (system_ioctl = (SystemIoctl)Next("ioctl")) == NULL) return -1;
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  struct LineState state;
  if (!IsModemRequest(request) || !PortState(fd, &state)) return system_ioctl(fd, request, arg);
  const int result = EmulateModemRequest(fd, request, arg, &state, system_ioctl);
  if (result == 0) StorePortState(fd, &state);
  return result;
}

// A pseudo-terminal keeps its own data bits, parity and stop bits: the rest of what the
// client asks for is applied, its frame is kept to be read back.
VELK_EXPORT int tcsetattr(int fd, int when, const struct termios* wanted) {
  static TcsetattrCall system_tcsetattr;
  static TcgetattrCall system_tcgetattr;
  if (system_tcsetattr == NULL && (system_tcsetattr = (TcsetattrCall)Next("tcsetattr")) == NULL) {
    return -1;
  }
  if (system_tcgetattr == NULL && (system_tcgetattr = (TcgetattrCall)Next("tcgetattr")) == NULL) {
    return -1;
  }
  struct LineState state;
  if (wanted == NULL || !PortState(fd, &state)) return system_tcsetattr(fd, when, wanted);
  struct termios applied = *wanted;
  struct termios current;
  if (system_tcgetattr(fd, &current) != 0) return -1;
  applied.c_cflag = (wanted->c_cflag & ~VELK_FRAME_BITS) | (current.c_cflag & VELK_FRAME_BITS);
  if (system_tcsetattr(fd, when, &applied) != 0) return -1;
  state.has_frame = 1;
  state.frame = wanted->c_cflag & VELK_FRAME_BITS;
  StorePortState(fd, &state);
  return 0;
}

VELK_EXPORT int tcgetattr(int fd, struct termios* termios) {
  static TcgetattrCall system_tcgetattr;
  if (system_tcgetattr == NULL && (system_tcgetattr = (TcgetattrCall)Next("tcgetattr")) == NULL) {
    return -1;
  }
  const int result = system_tcgetattr(fd, termios);
  struct LineState state;
  if (result == 0 && PortState(fd, &state) && state.has_frame) {
    termios->c_cflag = (termios->c_cflag & ~VELK_FRAME_BITS) | state.frame;
  }
  return result;
}

VELK_EXPORT int close(int fd) {
  static CloseCall system_close;
  if (system_close == NULL && (system_close = (CloseCall)Next("close")) == NULL) return -1;
  ForgetDescriptor(fd);
  return system_close(fd);
}
