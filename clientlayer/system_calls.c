// The calls the layer puts in front of the C library's own: ioctl for the modem-control and
// terminal-attribute requests, tcsetattr and tcgetattr for the character frame, the open
// calls (a port held exclusively a moment longer; a fresh state for a port opened anew), and
// close to forget a descriptor. On a descriptor that is not one of the simulated ports, and
// for every other ioctl request, each passes the call to the C library unchanged.
//
// The C library's functions are looked up when the layer is loaded, so that no call takes
// the dynamic loader's lock later: close stays async-signal-safe.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_state.h"
#include "modem_lines.h"
#include "port_open.h"
#include "termios_requests.h"

#define VELK_EXPORT __attribute__((visibility("default")))

typedef int (*TcsetattrCall)(int, int, const struct termios*);
typedef int (*TcgetattrCall)(int, struct termios*);
typedef int (*CloseCall)(int);

static void* system_ioctl;
static void* system_tcsetattr;
static void* system_tcgetattr;
static void* system_close;
static void* system_openat;

// The C library's own definition of name (the next one after this library), kept in *slot;
// NULL with errno ENOSYS when there is none.
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

__attribute__((constructor)) static void LookUpSystemCalls(void) {
  const int saved = errno;
  Next(&system_ioctl, "ioctl");
  Next(&system_tcsetattr, "tcsetattr");
  Next(&system_tcgetattr, "tcgetattr");
  Next(&system_close, "close");
  Next(&system_openat, "openat");
  errno = saved;
}

VELK_EXPORT int ioctl(int fd, unsigned long request, ...) {
  const SystemIoctl call = (SystemIoctl)Next(&system_ioctl, "ioctl");
  if (call == NULL) return -1;
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const int modem = IsModemRequest(request);
  if (!modem && !IsTermiosRequest(request)) return call(fd, request, arg);
  struct LineState state;
  if (!PortState(fd, &state)) return call(fd, request, arg);
  const int result = modem ? EmulateModemRequest(fd, request, arg, &state, call)
                           : EmulateTermiosRequest(fd, request, arg, &state, call);
  if (result == 0) StorePortState(&state);
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
  StorePortState(&state);
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

// The open calls, all carried out by the C library's openat.
static int Open(int dirfd, const char* path, int flags, mode_t mode) {
  const SystemOpenat call = (SystemOpenat)Next(&system_openat, "openat");
  if (call == NULL) return -1;
  return OpenPort(call, dirfd, path, flags, mode);
}

// The mode argument is there only when the flags create a file.
#define VELK_OPEN_MODE(flags, last)                            \
  mode_t mode = 0;                                             \
  if (((flags)&O_CREAT) || ((flags)&O_TMPFILE) == O_TMPFILE) { \
    va_list args;                                              \
    va_start(args, last);                                      \
    mode = va_arg(args, mode_t);                               \
    va_end(args);                                              \
  }

VELK_EXPORT int open(const char* path, int flags, ...) {
  VELK_OPEN_MODE(flags, flags);
  return Open(AT_FDCWD, path, flags, mode);
}

VELK_EXPORT int open64(const char* path, int flags, ...) {
  VELK_OPEN_MODE(flags, flags);
  return Open(AT_FDCWD, path, flags, mode);
}

VELK_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
  VELK_OPEN_MODE(flags, flags);
  return Open(dirfd, path, flags, mode);
}

VELK_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
  VELK_OPEN_MODE(flags, flags);
  return Open(dirfd, path, flags, mode);
}

// The checked forms that programs built with _FORTIFY_SOURCE call.
VELK_EXPORT int __open_2(const char* path, int flags) { return Open(AT_FDCWD, path, flags, 0); }

VELK_EXPORT int __open64_2(const char* path, int flags) { return Open(AT_FDCWD, path, flags, 0); }

VELK_EXPORT int __openat_2(int dirfd, const char* path, int flags) {
  return Open(dirfd, path, flags, 0);
}

VELK_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
  return Open(dirfd, path, flags, 0);
}
