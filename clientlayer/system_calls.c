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

static void* system_ioctl;
static void* system_tcsetattr;
static void* system_tcgetattr;
static void* system_close;

// The C library's own definition of name (the next one after this library), looked up on
// first use and kept in *slot; NULL with errno ENOSYS when there is none.
static void* Next(void** slot, const char* name) {
  void* call = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (call != NULL) return call;
  call = dlsym(RTLD_NEXT, name);
  if (call == NULL) {
    errno = ENOSYS;
    return NULL;
  }
  __atomic_store_n(slot, call, __ATOMIC_RELEASE);
  return call;
}

VELK_EXPORT int ioctl(int fd, unsigned long request, ...) {
  const SystemIoctl call = (SystemIoctl)Next(&system_ioctl, "ioctl");
  if (call == NULL) return -1;
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  struct LineState state;
  if (!IsModemRequest(request) || !PortState(fd, &state)) return call(fd, request, arg);
  const int result = EmulateModemRequest(fd, request, arg, &state, call);
  if (result == 0) StorePortState(fd, &state);
  return result;
}

// A pseudo-terminal keeps its own data bits, parity and stop bits: the rest of what the
// client asks for is applied, its frame is kept to be read back.
VELK_EXPORT int tcsetattr(int fd, int when, const struct termios* wanted) {
  const TcsetattrCall set = (TcsetattrCall)Next(&system_tcsetattr, "tcsetattr");
  const TcgetattrCall get = (TcgetattrCall)Next(&system_tcgetattr, "tcgetattr");
  if (set == NULL || get == NULL) return -1;
  struct LineState state;
  if (wanted == NULL || !PortState(fd, &state)) return set(fd, when, wanted);
  struct termios applied = *wanted;
  struct termios current;
  if (get(fd, &current) != 0) return -1;
  applied.c_cflag = (wanted->c_cflag & ~VELK_FRAME_BITS) | (current.c_cflag & VELK_FRAME_BITS);
  if (set(fd, when, &applied) != 0) return -1;
  state.has_frame = 1;
  state.frame = wanted->c_cflag & VELK_FRAME_BITS;
  StorePortState(fd, &state);
  return 0;
}

VELK_EXPORT int tcgetattr(int fd, struct termios* termios) {
  const TcgetattrCall get = (TcgetattrCall)Next(&system_tcgetattr, "tcgetattr");
  if (get == NULL) return -1;
  const int result = get(fd, termios);
  struct LineState state;
  if (result == 0 && PortState(fd, &state) && state.has_frame) {
    termios->c_cflag = (termios->c_cflag & ~VELK_FRAME_BITS) | state.frame;
  }
  return result;
}

VELK_EXPORT int close(int fd) {
  const CloseCall call = (CloseCall)Next(&system_close, "close");
  if (call == NULL) return -1;
  ForgetDescriptor(fd);
  return call(fd);
}
