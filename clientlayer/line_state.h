// What a client set on a simulated port that the pseudo-terminal cannot hold: the modem
// lines it drives and the character frame (data bits, parity, stop bits). Kept per device,
// as a serial driver keeps them, for as long as the process holds a descriptor of it.
#pragma once

#include <sys/types.h>
#include <termios.h>

struct LineState {
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

// Stores the state of the port fd is open on; does nothing when fd is not a known port.
void StorePortState(int fd, const struct LineState* state);

// Forgets fd (it is being closed); a device's state goes with its last descriptor.
void ForgetDescriptor(int fd);
