// The module-wide socket layer state: the system's socket library, loaded and started by the
// first Control_Init that passes its slot check, stopped and unloaded when no slot holds a
// socket any more.
#pragma once

namespace velk::lan {

// Loads and starts the socket library if needed and marks `slot` as holding a socket, in one
// step so that a concurrent release cannot come between. Returns false, marking nothing,
// when the socket library cannot be loaded or started.
bool StartSocketLayerFor(int slot);

// Clears the slot's socket mark and unloads the socket library when no slot holds a socket.
void ReleaseSocketLayerFor(int slot);

// Returns whether the socket layer is started.
bool SocketLayerStarted();

// Returns how often the socket layer has been started since the library was loaded.
unsigned SocketLayerStartCount();

}  // namespace velk::lan
