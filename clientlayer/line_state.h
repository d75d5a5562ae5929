// What a client set on a simulated port that the pseudo-terminal cannot hold: the modem
// lines it drives and the character frame (data bits, parity, stop bits). Kept per device,
// as a serial driver keeps them, for as long as the process holds a descriptor of it.
//
// The tables behind these calls take no lock: every call is async-signal-safe and none can
// deadlock in a child after fork. A close of a descriptor that was never recognised as a
// pseudo-terminal costs one atomic load.
#pragma once

#include <sys/types.h>
#include <termios.h>

struct LineState {
  dev_t device;   // the port's pseudo-terminal
  int lines;      // TIOCM_DTR and TIOCM_RTS as the client set them
  int has_frame;  // frame holds the client's c_cflag bits of VELK_FRAME_BITS
  tcflag_t frame;
};

// The c_cflag bits a pseudo-terminal refuses or drops.
#define VELK_FRAME_BITS (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB)

// Returns 1 when fd is one of the simulated ports and copies its device's state to *state
// (a device seen for the first time starts with DTR and RTS on and no frame of its own);
// returns 0 for every other descriptor, whose calls go to the system unchanged.
int PortState(int fd, struct LineState* state);

// Stores *state (from PortState) as the state of its device.
void StorePortState(const struct LineState* state);

// Forgets fd (it is being closed); a device's state goes with its last descriptor.
void ForgetDescriptor(int fd);

// Takes note of fd, just returned by an open: whatever its number named before is forgotten,
// and a port that no other descriptor of the process is open on starts afresh (DTR and RTS
// on, no frame), also when a descriptor of it went without a close the layer saw (dup2,
// close_range). Returns 1 when fd is one of the ports, 0 otherwise.
int PortOpened(int fd);
