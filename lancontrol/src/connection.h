// Opening and closing the connection of a slot, and its reader thread.
#pragma once

#include <cstdint>

namespace velk::lan {

// Longest wait for the host's name to be looked up and the connection to be accepted.
constexpr int kConnectTimeoutMs = 5000;

// Connects `slot` (0..99, its call lock held by the caller) to host and port, closing an
// existing connection first. Look-up and connect give up after kConnectTimeoutMs together,
// or at once when a closer abandons the slot. Returns 0 connected; 1 socket library, socket,
// look-up (no answer in time, abandoned), connect (refused, timed out or abandoned) or thread
// failure; 2 host unusable (no such name, not an address). On failure the slot is free.
int32_t OpenConnection(int slot, const char* host, uint16_t port);

// Stops the slot's reader thread (it wakes on the shutdown and ends within a moment), closes
// its socket and frees the slot. The call lock must be held. Does nothing for a free slot.
// Does not touch the socket layer.
void CloseConnection(int slot);

// As CloseConnection, while the library is being unloaded: waits for the reader thread only
// as the platform needs (see Thread::ReleaseOnUnload) and never past `deadline_ms`.
void CloseConnectionOnUnload(int slot, int64_t deadline_ms);

// Tells the slot's reader thread to stop and wakes it, without the call lock and without
// waiting; the thread closes the socket as it ends.
void StopReader(int slot);

}  // namespace velk::lan
