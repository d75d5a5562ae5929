// POSIX sockets behind socket_calls.h.
#include "socket_calls.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace velk::lan {
namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

SocketWait Poll(SocketHandle socket, short events, int timeout_ms) {
  pollfd entry{Fd(socket), events, 0};
  const int ready = poll(&entry, 1, timeout_ms < 0 ? 0 : timeout_ms);
  if (ready > 0) return SocketWait::kReady;
  if (ready == 0 || errno == EINTR) return SocketWait::kTimedOut;
  return SocketWait::kFailed;
}

}  // namespace

bool LoadSocketLibrary() { return true; }

void UnloadSocketLibrary() {}

SocketHandle OpenStreamSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

bool LookUpHost(const char* host, uint8_t (&address)[4]) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  const bool usable = found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in);
  if (usable) {
    std::memcpy(address, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
  }
  freeaddrinfo(found);
  return usable;
}

SocketWait StartConnect(SocketHandle socket, const uint8_t (&address)[4], uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr, address, 4);
  if (connect(Fd(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return SocketWait::kReady;
  }
  return errno == EINPROGRESS || errno == EINTR ? SocketWait::kTimedOut : SocketWait::kFailed;
}

bool ConnectionFailed(SocketHandle socket) {
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0;
}

SocketWait WaitWritable(SocketHandle socket, int timeout_ms) {
  return Poll(socket, POLLOUT, timeout_ms);
}

SocketWait WaitReadable(SocketHandle socket, int timeout_ms) {
  return Poll(socket, POLLIN, timeout_ms);
}

long SendSome(SocketHandle socket, const uint8_t* bytes, std::size_t length) {
  const ssize_t sent = send(Fd(socket), bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return static_cast<long>(sent);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long ReceiveSome(SocketHandle socket, uint8_t* bytes, std::size_t length) {
  const ssize_t received = recv(Fd(socket), bytes, length, MSG_DONTWAIT);
  if (received >= 0) return static_cast<long>(received);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -2 : -1;
}

void SetNoDelay(SocketHandle socket) {
  const int on = 1;
  setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ShutdownSocket(SocketHandle socket) { shutdown(Fd(socket), SHUT_RDWR); }

void CloseSocket(SocketHandle socket) { close(Fd(socket)); }

}  // namespace velk::lan
