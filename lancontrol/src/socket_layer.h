// The module-wide "socket layer started" state. POSIX sockets need no start-up call; the
// state keeps the library's lifecycle: started by the first Control_Init that passes its
// slot check, released when no slot holds a socket any more.
#pragma once

namespace velk::lan {

// Starts the socket layer if needed and marks `slot` as holding a socket, in one step so that
// a concurrent release cannot come between. Returns true (starting cannot fail here).
bool StartSocketLayerFor(int slot);

// Clears the slot's socket mark and releases the socket layer when no slot holds a socket.
void ReleaseSocketLayerFor(int slot);

// Returns whether the socket layer is started.
bool SocketLayerStarted();

// Returns how often the socket layer has been started since the library was loaded.
unsigned SocketLayerStartCount();

}  // namespace velk::lan
