// Opening a port as a Windows program expects: one client at a time. The program keeps a
// port's pseudo-terminal exclusive while a client holds it and moves the port to a fresh one
// shortly after the client has left, so a client opening it right then is refused with EBUSY
// for a moment, where a Windows program expects the port to open.
#pragma once

#include <sys/types.h>

typedef int (*SystemOpenat)(int dirfd, const char* path, int flags, ...);

// Opens path as openat(dirfd, path, flags, mode) does through `call`. When that fails with
// EBUSY and path leads to one of the ports, tries again every 5 ms for up to 200 ms. Notes
// the new descriptor with PortOpened and, unless the ports are shared (PortsShared), makes
// the port's terminal exclusive at once (TIOCEXCL). Returns the descriptor, or -1 with the errno of
// the last try.
int OpenPort(SystemOpenat call, int dirfd, const char* path, int flags, mode_t mode);
