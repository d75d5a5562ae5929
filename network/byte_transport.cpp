#include "byte_transport.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>

ssize_t SocketTransport::Receive(uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t n = recv(fd_, data, size, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWait;
    error_ = std::string("connection lost: ") + std::strerror(errno);
    return kFailed;
  }
}

ssize_t SocketTransport::Send(const uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t n = send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWait;
    error_ = std::string("connection lost: ") + std::strerror(errno);
    return kFailed;
  }
}
