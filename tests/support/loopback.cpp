#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

int FreePort() {
  // Below the kernel's ephemeral range (32768 and up): a port handed out there is soon the
  // local port of some other test's connection, or another test's bind to port 0, before the
  // program under test binds it. Chosen at random, so that tests run at once rarely meet.
  static std::mt19937 pick(static_cast<unsigned>(std::random_device{}()) ^
                           static_cast<unsigned>(getpid()));
  std::uniform_int_distribution<int> ports(20000, 32767);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int port = ports(pick);
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    if (free) return port;
  }
  // Nothing free there: one the kernel picks.
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  socklen_t length = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  close(s);
  return ntohs(a.sin_port);
}

int ListenLoopback(int port, int& bound) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  socklen_t length = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    close(s);
    return -1;
  }
  bound = ntohs(a.sin_port);
  return s;
}

int ConnectLoopback(int port, int receive_buffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  const sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}
