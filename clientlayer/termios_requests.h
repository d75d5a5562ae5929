// The terminal-attribute ioctl requests (TCGETS, TCSETS, TCSETSW, TCSETSF and their termios2
// forms TCGETS2 .. TCSETSF2) on a port, handled as tcsetattr and tcgetattr are: the
// pseudo-terminal keeps its own frame, the client's frame is kept and read back.
#pragma once

#include "line_state.h"
#include "modem_lines.h"

// Returns 1 for those eight requests, 0 for every other.
int IsTermiosRequest(unsigned long request);

// Carries out one of them on a port whose state is *state (a setting request stores the
// client's frame there). Returns 0 on success; -1 with errno EFAULT for a null argument, or
// with the errno of the system's request that failed.
int EmulateTermiosRequest(int fd, unsigned long request, void* arg, struct LineState* state,
                          SystemIoctl system_ioctl);
