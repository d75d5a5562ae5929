// Where the simulated serial ports appear for clients, and the start-up probe of port numbers.
#pragma once

#include <string>

// Returns the port folder: the value of the environment variable VELK_VCP_PORT_DIR when it is
// set and not empty, otherwise "ports" (relative to the current directory).
std::string PortFolder();

// Returns true when name can name a port entry: 1..64 characters of letters, digits, '_', '-'
// and '.', not starting with '.' (so no path and no hidden file).
bool IsValidPortName(const std::string& name);

// Creates folder and any missing parents, owner-only (0700) whatever the umask. Returns true
// when it exists as a folder afterwards; false with a reason in error otherwise.
bool EnsureFolder(const std::string& folder, std::string& error);

// The entry of the port folder that tells the client layer (velk-client, velk-wine) that
// several clients may hold a port at once; without it the layer makes a port exclusive as it
// opens it.
inline constexpr const char* kSharedPortsMarker = ".shared-ports";

// Makes (shared) or removes (not shared) the marker in folder when the folder exists.
// Returns false when that fails (the layer then follows the old state); nothing else changes.
bool MarkPortsShared(const std::string& folder, bool shared);

// Port probe: returns true when the entry "COM<n>" of the folder exists and opens for reading
// (O_RDONLY | O_NONBLOCK | O_NOCTTY); it is closed again at once. False for n < 1, for a missing
// entry, a dangling link and anything that does not open (for example without permission).
// A user marks a number as taken by linking COM<n> to a real serial device.
bool PortCanBeOpened(int n);
bool PortCanBeOpened(const std::string& folder, int n);
