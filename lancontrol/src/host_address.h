// Turning the caller's host text into an IPv4 address.
#pragma once

#include <atomic>
#include <cstdint>

#include "socket_calls.h"

namespace velk::lan {

// Resolves `host` (a host name or a dotted IPv4 address) to an IPv4 address in network
// order: first through the system's name resolution, then by the dotted-address reading.
// Returns kFound with the address; kNotFound when `host` is null, has a dot-separated part
// over 103 characters, or neither way gives an address; kGaveUp when the name resolution did
// not answer before `deadline_ms` (NowMs clock) or `abandon` became nonzero.
LookUp ResolveHost(const char* host, uint8_t (&address)[4], int64_t deadline_ms,
                   const std::atomic<int>& abandon);

}  // namespace velk::lan
