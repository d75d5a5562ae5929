#include "qentrix_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace velk::lan::testing {
namespace {

std::string Number(double value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string("0");
}

int Byte(std::string_view request, std::size_t at) {
  return at < request.size() ? static_cast<uint8_t>(request[at]) : 0;
}

int Word(std::string_view request, std::size_t at) {
  return Byte(request, at) << 8 | Byte(request, at + 1);
}

}  // namespace

QentrixPeer::Reply QentrixPeer::Line(std::string_view text) {
  Reply reply;
  reply.bytes = std::string(text) + "\r";
  return reply;
}

std::string QentrixPeer::TriggerRecord(int16_t number, double value) {
  std::string record(19, '\0');
  record[0] = 19;
  record[1] = 'T';
  record[2] = static_cast<char>(number & 0xFF);
  record[3] = static_cast<char>((number >> 8) & 0xFF);
  const auto bits = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) record[10 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  record[18] = '\r';
  return record;
}

// Characteristic c has current value c + 0.25, value n = c * 1000 + n, 10 stored values;
// register r holds r / 2; limit code k of characteristic c is c * 100 + (k - 70) / 2.
std::string QentrixPeer::DefaultAnswer(std::string_view request) {
  const int code = Byte(request, 1);
  const int c = Byte(request, 2);
  std::string answer;
  switch (code) {
    case 1:
      answer = Number(c + 0.25);
      break;
    case 2:
      answer = Number(c * 1000.0 + Word(request, 3));
      break;
    case 3:
      answer = "10";
      break;
    case 5:
      answer = "1589205909";
      break;
    case 30:
      answer = Number(Word(request, 2) / 2.0);
      break;
    case 32:
      answer = "Register " + std::to_string(Word(request, 2));
      break;
    case 53:
      answer = "Order A";
      break;
    case 54:
      answer = "Scheme B";
      break;
    case 55:
      answer = "Step C";
      break;
    case 57:
      answer = "Characteristic " + std::to_string(c);
      break;
    case 61:
      answer = "Data set " + std::to_string(c) + "/" + std::to_string(Byte(request, 4));
      break;
    case 84:
      answer = "mm";
      break;
    case 90:
      answer = Number(c * 10.0 + Byte(request, 3));
      break;
    case 31:
    case 51:
    case 60:
    case 85:
      answer = "ok";
      break;
    default:
      if (code >= 70 && code <= 83) {
        answer = code % 2 == 0 ? Number(c * 100.0 + (code - 70) / 2) : "ok";
      } else {
        answer = "---";
      }
  }
  return answer + "\r";
}

QentrixPeer::~QentrixPeer() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    Wake();
    thread_.join();
  }
  for (Connection& connection : connections_) close(connection.fd);
  if (listen_fd_ >= 0) close(listen_fd_);
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool QentrixPeer::Start(uint16_t port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (listen_fd_ < 0 || wake_fd_ < 0) return false;
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 128) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return false;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void QentrixPeer::QueueReply(Reply reply) {
  std::lock_guard lock(mutex_);
  replies_.push_back(std::move(reply));
}

void QentrixPeer::Push(std::string_view bytes) {
  {
    std::lock_guard lock(mutex_);
    for (Connection& connection : connections_) {
      connection.outgoing.push_back(Chunk{Clock::now(), std::string(bytes)});
    }
  }
  Wake();
}

void QentrixPeer::CloseConnections() {
  {
    std::lock_guard lock(mutex_);
    for (Connection& connection : connections_) connection.closing = true;
  }
  Wake();
}

std::vector<std::string> QentrixPeer::Requests() {
  std::lock_guard lock(mutex_);
  return requests_;
}

void QentrixPeer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

bool QentrixPeer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool QentrixPeer::WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return connections_.size() == count; });
}

bool QentrixPeer::WaitUntilSent(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return AllSent(); });
}

std::size_t QentrixPeer::OpenConnections() {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

bool QentrixPeer::AllSent() const {
  return std::all_of(connections_.begin(), connections_.end(),
                     [](const Connection& connection) { return connection.outgoing.empty(); });
}

void QentrixPeer::Wake() {
  const uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof one);
}

void QentrixPeer::Schedule(Connection& connection, const Reply& reply) {
  if (reply.silent) return;
  Clock::time_point due = Clock::now() + std::chrono::milliseconds(reply.delay_ms);
  std::string bytes = reply.bytes;
  const bool closes = reply.close_after >= 0;
  if (closes) bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(reply.close_after)));
  if (reply.bytewise) {
    for (char byte : bytes) {
      connection.outgoing.push_back(Chunk{due, std::string(1, byte)});
      due += std::chrono::milliseconds(1);
    }
  } else if (!bytes.empty()) {
    connection.outgoing.push_back(Chunk{due, bytes});
  }
  if (closes) connection.outgoing.push_back(Chunk{due, std::string(), true});
}

void QentrixPeer::ReceiveFrom(Connection& connection) {
  char buffer[4096];
  const ssize_t got = recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
    connection.closing = true;
    return;
  }
  if (got < 0) return;
  connection.received.append(buffer, static_cast<std::size_t>(got));
  for (;;) {
    if (connection.received.empty()) return;
    const std::size_t length =
        std::max<std::size_t>(1, static_cast<uint8_t>(connection.received[0]));
    if (connection.received.size() < length) return;
    std::string request = connection.received.substr(0, length);
    connection.received.erase(0, length);
    Reply reply;
    if (!replies_.empty()) {
      reply = std::move(replies_.front());
      replies_.pop_front();
    } else {
      reply.bytes = DefaultAnswer(request);
    }
    requests_.push_back(std::move(request));
    Schedule(connection, reply);
  }
}

void QentrixPeer::SendTo(Connection& connection) {
  const Clock::time_point now = Clock::now();
  while (!connection.outgoing.empty() && connection.outgoing.front().due <= now) {
    Chunk& chunk = connection.outgoing.front();
    if (chunk.close_after) {
      connection.closing = true;
      connection.outgoing.clear();
      return;
    }
    const ssize_t sent =
        send(connection.fd, chunk.bytes.data(), chunk.bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno != EAGAIN && errno != EINTR) connection.closing = true;
      return;
    }
    chunk.bytes.erase(0, static_cast<std::size_t>(sent));
    if (!chunk.bytes.empty()) return;
    connection.outgoing.pop_front();
  }
}

int QentrixPeer::PollTimeoutMs() {
  const Clock::time_point now = Clock::now();
  int timeout = 100;
  for (const Connection& connection : connections_) {
    if (connection.outgoing.empty()) continue;
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(connection.outgoing.front().due - now);
    timeout = std::min(timeout, static_cast<int>(std::max<long>(0, wait.count())));
  }
  return timeout;
}

void QentrixPeer::Run() {
  std::vector<pollfd> fds;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const auto now = Clock::now();
    fds.assign({{listen_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}});
    for (const Connection& connection : connections_) {
      short events = POLLIN;
      if (!connection.outgoing.empty() && connection.outgoing.front().due <= now) events |= POLLOUT;
      fds.push_back({connection.fd, events, 0});
    }
    const int timeout = PollTimeoutMs();
    lock.unlock();
    poll(fds.data(), fds.size(), timeout);
    lock.lock();

    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      (void)!read(wake_fd_, &count, sizeof count);
    }
    // Connections added since the poll have no entry yet; they are served next round.
    for (std::size_t i = 2; i < fds.size(); ++i) {
      Connection& connection = connections_[i - 2];
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ReceiveFrom(connection);
    }
    for (Connection& connection : connections_) SendTo(connection);
    if (fds[0].revents & POLLIN) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Connection connection;
        connection.fd = fd;
        connections_.push_back(std::move(connection));
      }
    }
    const auto closed =
        std::remove_if(connections_.begin(), connections_.end(), [](const Connection& connection) {
          if (connection.closing) close(connection.fd);
          return connection.closing;
        });
    connections_.erase(closed, connections_.end());
    changed_.notify_all();
  }
}

}  // namespace velk::lan::testing
