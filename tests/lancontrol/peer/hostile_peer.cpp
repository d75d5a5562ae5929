#include "hostile_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "qentrix_peer.h"

namespace velk::lan::testing {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool Readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}

}  // namespace

bool HostilePeer::KindFromName(const std::string& name, Kind& kind) {
  if (name == "trickle") {
    kind = Kind::kTrickle;
  } else if (name == "never-read") {
    kind = Kind::kNeverReads;
  } else if (name == "never-accept") {
    kind = Kind::kNeverAccepts;
  } else {
    return false;
  }
  return true;
}

HostilePeer::~HostilePeer() {
  stopping_ = true;
  if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& server : servers_) server.join();
  for (int fd : fillers_) close(fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool HostilePeer::Start(uint16_t port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (kind_ == Kind::kNeverReads) {
    // A small receive window makes the library's sends stall sooner.
    const int small = 4096;
    setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  sockaddr_in address = Loopback(port);
  socklen_t length = sizeof address;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, kind_ == Kind::kNeverAccepts ? 0 : 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  if (kind_ == Kind::kNeverAccepts) return FillAcceptQueue();
  acceptor_ = std::thread([this] {
    while (!stopping_) {
      if (!Readable(listen_fd_, 50)) continue;
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      servers_.emplace_back([this, fd] { Serve(fd); });
    }
  });
  return true;
}

// Connects until a connection is no longer completed by the system: from then on the accept
// queue is full and further connects wait for ever.
bool HostilePeer::FillAcceptQueue() {
  for (int attempt = 0; attempt < 64; ++attempt) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    fillers_.push_back(fd);
    const sockaddr_in address = Loopback(port_);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) continue;
    pollfd entry{fd, POLLOUT, 0};
    if (poll(&entry, 1, 300) == 0) return true;
  }
  return false;
}

void HostilePeer::Serve(int fd) {
  using namespace std::chrono_literals;
  if (kind_ == Kind::kTrickle) {
    // Each send completes one record and starts the next, so a partial record is always
    // pending at the receiver.
    constexpr std::size_t kHead = 10;
    char sink[512];
    int16_t number = 0;
    std::string tail;
    while (!stopping_) {
      while (Readable(fd, 0)) {
        if (recv(fd, sink, sizeof sink, 0) <= 0) {
          close(fd);
          return;
        }
      }
      const std::string record = QentrixPeer::TriggerRecord(number, number * 0.5);
      const std::string bytes = tail + record.substr(0, kHead);
      tail = record.substr(kHead);
      if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) <= 0) break;
      if (number > 0) ++records_sent_;
      ++number;
      std::this_thread::sleep_for(3ms);
    }
  } else {
    std::string lines;
    for (int i = 0; i < 4096; ++i) lines += "ok\r";
    std::size_t offset = 0;  // keeps the stream made of whole lines across partial sends
    while (!stopping_) {
      pollfd entry{fd, POLLOUT, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      const ssize_t sent =
          send(fd, lines.data() + offset, lines.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno != EAGAIN) break;
      if (sent > 0) offset = (offset + static_cast<std::size_t>(sent)) % 3;
    }
  }
  close(fd);
}

}  // namespace velk::lan::testing
