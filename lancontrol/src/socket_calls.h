// The system's TCP sockets as the library uses them: non-blocking IPv4 stream sockets with
// bounded waits. One implementation per platform (posix/, windows/), chosen by the build.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velk::lan {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Outcome of a bounded wait on a socket.
enum class SocketWait { kReady, kTimedOut, kFailed };

// Loads and starts the system's socket library. Returns false when it cannot be loaded,
// lacks an entry point, or does not start. Called by the socket layer only, serialised.
bool LoadSocketLibrary();

// Stops and unloads the socket library loaded by LoadSocketLibrary.
void UnloadSocketLibrary();

// Returns a new non-blocking TCP/IPv4 socket (not inherited by child processes, never
// raising SIGPIPE), or kNoSocket.
SocketHandle OpenStreamSocket();

// Outcome of a name look-up.
enum class LookUp { kFound, kNotFound, kGaveUp };

// Looks `host` up with the system's name resolution. Returns kFound with the first IPv4
// address (network order) in `address`; kNotFound when the name has none; kGaveUp when no
// answer came before `deadline_ms` (NowMs clock) or `abandon` became nonzero first. A look-up
// given up on finishes in the background, keeping the library's code in place for as long as
// it runs any of it.
LookUp LookUpHost(const char* host, uint8_t (&address)[4], int64_t deadline_ms,
                  const std::atomic<int>& abandon);

// Starts connecting `socket` to address:port. Returns kReady when connected at once,
// kTimedOut when the connection is under way (finish with WaitWritable and
// ConnectionFailed), kFailed when it failed.
SocketWait StartConnect(SocketHandle socket, const uint8_t (&address)[4], uint16_t port);

// Returns whether a connection started by StartConnect failed (true) or is established.
bool ConnectionFailed(SocketHandle socket);

// Waits up to `timeout_ms` until `socket` can send (or a connect has finished either way).
SocketWait WaitWritable(SocketHandle socket, int timeout_ms);

// Waits up to `timeout_ms` until `socket` has bytes to receive or has been closed.
SocketWait WaitReadable(SocketHandle socket, int timeout_ms);

// Sends what the system takes at once. Returns the number of bytes sent (0 when it would
// block), or -1 on an error.
long SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t length);

// Receives what has arrived, at most `length` bytes. Returns the number received, 0 when the
// peer closed the connection, -1 on an error, -2 when nothing is there yet.
long ReceiveSome(SocketHandle socket, uint8_t* bytes, std::size_t length);

// Sends every small write at once (no coalescing delay).
void SetNoDelay(SocketHandle socket);

// Ends both directions of the connection; a thread waiting on the socket wakes.
void ShutdownSocket(SocketHandle socket);

void CloseSocket(SocketHandle socket);

}  // namespace velk::lan
