// Turning the caller's host text into an IPv4 address.
#pragma once

#include <cstdint>

namespace velk::lan {

// Resolves `host` (a host name or a dotted IPv4 address) to an IPv4 address in network
// order: first through the system's name resolution, then by the dotted-address reading.
// Returns false when `host` is null, has a dot-separated part over 103 characters, or
// neither way gives an address.
bool ResolveHost(const char* host, uint8_t (&address)[4]);

}  // namespace velk::lan
