// Opening and closing the connection of a slot, and its reader thread.
#pragma once

#include <cstdint>

namespace velk::lan {

// Connects `slot` (0..99, its call lock held by the caller) to host and port, closing an
// existing connection first. Returns 0 connected, 1 socket, connect or thread failure,
// 2 host unusable.
int32_t OpenConnection(int slot, const char* host, uint16_t port);

// Stops the slot's reader thread (shutdown, then join), closes its socket and frees the slot.
// The call lock must be held. Does nothing for a free slot. Does not touch the socket layer.
void CloseConnection(int slot);

}  // namespace velk::lan
