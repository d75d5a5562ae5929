// Recognises the simulated ports' pseudo-terminals among a process's descriptors. Reads the
// port folder with plain system calls (no memory allocation, no lock), so every call is
// async-signal-safe.
#pragma once

#include <sys/types.h>

// Returns 1 when fd is open on a pseudo-terminal slave and stores its device number in
// *device; 0 for anything else (another device, a file, a socket, a closed descriptor).
int IsPseudoTerminal(int fd, dev_t* device);

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
// 0 otherwise, also when it cannot be examined.
int IsPortPath(int dirfd, const char* path);
