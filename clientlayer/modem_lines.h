// The modem-control requests of a serial port, answered for a pseudo-terminal that has no
// modem lines: DTR and RTS read back as the client set them, CTS, DSR and DCD are always on,
// RI is off, and no line ever changes.
#pragma once

#include "line_state.h"

// Returns 1 for the requests emulated on ports: TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC,
// TIOCMIWAIT, TIOCGICOUNT and TIOCSERGETLSR; 0 for every other request.
int IsModemRequest(unsigned long request);

typedef int (*SystemIoctl)(int fd, unsigned long request, ...);

// Carries out one of those requests on a port whose state is *state (updated by the setting
// requests). Returns 0 on success; -1 with errno EFAULT for a null argument, EINTR when a
// signal ends TIOCMIWAIT, EIO when the port goes away during TIOCMIWAIT (which otherwise
// waits, as no line changes), or what TIOCOUTQ fails with for TIOCSERGETLSR.
int EmulateModemRequest(int fd, unsigned long request, void* arg, struct LineState* state,
                        SystemIoctl system_ioctl);
