// Opening a port as a Windows program expects: one client at a time. The program keeps a
// port's pseudo-terminal exclusive while a client holds it and moves the port to a fresh one
// shortly after the client has left, so a client opening it right then is refused with EBUSY
// for a moment, where a Windows program expects the port to open.
#pragma once

#include <sys/types.h>

typedef int (*SystemOpenat)(int dirfd, const char* path, int flags, ...);

// Opens path as openat(dirfd, path, flags, mode) does through `call`. An open of a
// pseudo-terminal is made under a lock that every open through the layer takes (an flock on
// the port folder), and a port it opens is noted with PortOpened and, unless the ports are
// shared (PortsShared), made exclusive (TIOCEXCL) before the lock is given up: of openers at
// the same instant, whatever name they use, exactly one gets the port. When the open fails
// with EBUSY and path leads to one of the ports, tries again every 5 ms: for 200 ms when a
// process holds the port's terminal (DeviceHeld), for up to 3 s while none does (the program
// has yet to move the port to a fresh terminal). Returns the descriptor, or -1 with the errno
// of the last try.
int OpenPort(SystemOpenat call, int dirfd, const char* path, int flags, mode_t mode);
