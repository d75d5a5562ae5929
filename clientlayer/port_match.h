// Recognises the simulated ports' pseudo-terminals among a process's descriptors. Reads the
// port folder with plain system calls (no memory allocation, no lock), so every call is
// async-signal-safe.
#pragma once

#include <sys/types.h>

// Returns 1 when fd is open on a pseudo-terminal slave and stores its device number in
// *device; 0 for anything else (another device, a file, a socket, a closed descriptor).
int IsPseudoTerminal(int fd, dev_t* device);

// Returns the port folder: $VELK_VCP_PORT_DIR, or "ports" (in the current directory) when it
// is unset or empty.
const char* PortFolderPath(void);

// Returns 1 when device is the device a port link names: a COM<n> entry of the port folder
// ($VELK_VCP_PORT_DIR, or "ports" in the current directory when it is unset or empty) or a
// path of $VELK_CLIENT_PORTS (paths separated by ':'), each followed to the device it
// resolves to. Returns 0 otherwise, also when the folder cannot be read.
int IsPortDevice(dev_t device);

// Returns 1 when the program serving the port folder lets several clients hold a port at once:
// the folder holds the entry ".shared-ports", which the program keeps while its ports are
// shared. Returns 0 otherwise, also when the folder cannot be read.
int PortsShared(void);

// Returns 1 when path (relative to dirfd, as openat takes it) leads to one of the ports;
// 0 otherwise, also when it cannot be examined. A path whose link moves to another terminal
// while it is matched (the program moving a port to a fresh one) is matched again, up to
// 16 times.
int IsPortPath(int dirfd, const char* path);

// Returns 1 when path (relative to dirfd) leads to a pseudo-terminal slave and stores its
// device number in *device; 0 otherwise (one stat; no look at the port folder).
int IsPtsPath(int dirfd, const char* path, dev_t* device);

// Returns 1 when a process (this one included) has a descriptor open on the pseudo-terminal
// slave device, as /proc tells; 0 when none has, for another device, and when /proc cannot
// tell (descriptors of processes that may not be read, such as another user's, count as none).
int DeviceHeld(dev_t device);
