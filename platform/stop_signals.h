// SIGTERM, SIGINT and SIGHUP as a stop request that a waiting loop cannot miss. The handler
// sets a flag and makes a descriptor readable; a loop that watches the descriptor wakes even
// when the signal came just before it began to wait, or was taken by another thread.
#pragma once

// Installs the handlers (the first call; later calls only return the descriptor) and lets the
// signals in (a hand-over starts the new run with them blocked). Returns the descriptor that
// becomes readable with each request, one byte per signal, or -1 when it could not be made:
// the handlers then only set the flag.
int InstallStopSignals();

// Blocks the stop signals and SIGUSR2 in the calling thread, before the program runs itself
// again: one that comes while the new run starts waits for its handlers instead of ending it.
void BlockStopSignals();

// True once a stop signal came.
bool StopRequested();

// True once SIGUSR2 came: the program is to hand its ports to a new run of itself (installed
// with the stop signals, ending the wait the same way). False again once another stop signal
// came as well: a stop asked for during a hand-over ends the program instead of being lost.
bool HandOverRequested();
