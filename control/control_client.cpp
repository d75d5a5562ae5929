#include "control_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

ControlReply AskProgram(const std::string& path, const std::string& request, int timeout_ms) {
  ControlReply reply;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    reply.text = "socket path too long: " + path;
    return reply;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    reply.text = std::strerror(errno);
    return reply;
  }
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    reply.result = (error == ENOENT || error == ECONNREFUSED) ? ControlReply::kNoProgram
                   : (error == EACCES || error == EPERM)      ? ControlReply::kRefused
                                                              : ControlReply::kFailed;
    reply.text = std::strerror(error);
    return reply;
  }
  const std::string line = request + "\n";
  // A program that refuses this user answers and closes at once, maybe before the request is
  // written: the refusal is then read all the same.
  if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()) &&
      errno != EPIPE && errno != ECONNRESET) {
    reply.text = std::strerror(errno);
    close(fd);
    return reply;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string in;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      reply.text = "no answer from the program in time";
      break;
    }
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      reply.text = "the program closed the connection";
      break;
    }
    in.append(buffer, static_cast<size_t>(n));
    const size_t end = in.find('\n');
    if (end != std::string::npos) {
      reply.result = ControlReply::kAnswered;
      reply.text = in.substr(0, end);
      break;
    }
  }
  close(fd);
  return reply;
}
