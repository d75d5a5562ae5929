// SIGTERM, SIGINT and SIGHUP as a stop request that a waiting loop cannot miss. The handler
// sets a flag and makes a descriptor readable; a loop that watches the descriptor wakes even
// when the signal came just before it began to wait, or was taken by another thread.
#pragma once

// Installs the handlers (the first call; later calls only return the descriptor). Returns the
// descriptor that becomes readable with each request, one byte per signal, or -1 when it
// could not be made: the handlers then only set the flag.
int InstallStopSignals();

// True once a stop signal came.
bool StopRequested();

// True once SIGUSR2 came: the program is to hand its ports to a new run of itself (installed
// with the stop signals, ending the wait the same way).
bool HandOverRequested();
