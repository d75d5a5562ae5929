#include "operator_socket_server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kMaxClients = 16;
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxPendingAnswer = 64 * 1024;

using Clock = std::chrono::steady_clock;

struct Client {
  int fd = -1;
  std::string in;
  std::string out;
  bool discarding = false;  // inside a line that was too long, up to its end
  Clock::time_point last_active = Clock::now();
};

bool MakeAddress(const std::string& path, sockaddr_un& address, std::string& error) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    error = "control socket path '" + path + "' is empty or longer than " +
            std::to_string(sizeof address.sun_path - 1) + " bytes";
    return false;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when some live process accepts connections on the socket at address.
bool SomeoneListens(const sockaddr_un& address) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool live = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return live;
}

// Appends an answer line; a client that lets answers pile up is dropped.
bool Queue(Client& client, const std::string& answer) {
  client.out += answer;
  client.out += '\n';
  return client.out.size() <= kMaxPendingAnswer;
}

bool Flush(Client& client) {
  while (!client.out.empty()) {
    ssize_t n = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.out.erase(0, static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

OperatorSocketServer::~OperatorSocketServer() { Stop(); }

bool OperatorSocketServer::Start(const std::string& path, Handler handler, std::string& error) {
  Stop();
  sockaddr_un address;
  if (!MakeAddress(path, address, error)) return false;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      error = "control socket path '" + path + "' exists and is not a socket";
      return false;
    }
    if (SomeoneListens(address)) {
      error = "another process listens on the control socket '" + path + "'";
      return false;
    }
    unlink(path.c_str());
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // The socket file takes its mode from the umask; it is made private before listen(), so
  // nobody else can connect in between (a socket that does not listen refuses everyone).
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
    error = "cannot listen on the control socket '" + path + "': " + strerror(errno);
    if (fd >= 0) {
      close(fd);
      if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) unlink(path.c_str());
    }
    return false;
  }
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    error = std::string("cannot make the control thread's wake-up descriptor: ") + strerror(errno);
    close(fd);
    unlink(path.c_str());
    return false;
  }
  inode_ = lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
  listen_fd_ = fd;
  wake_fd_ = wake;
  path_ = path;
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void OperatorSocketServer::Stop() {
  if (!thread_.joinable()) return;
  uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof one);
  thread_.join();
  close(wake_fd_);
  close(listen_fd_);
  wake_fd_ = listen_fd_ = -1;
  // Remove the socket file only while it is still the one this server made.
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && info.st_ino == inode_) unlink(path_.c_str());
}

void OperatorSocketServer::Run() {
  std::vector<Client> clients;
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({wake_fd_, POLLIN, 0});
    fds.push_back({listen_fd_, POLLIN, 0});
    for (const Client& c : clients) {
      fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
    }
    // Wake up when the longest-idle connection reaches its limit.
    int timeout_ms = -1;
    const Clock::time_point now = Clock::now();
    for (const Client& c : clients) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          c.last_active + kOperatorIdleLimit - now);
      const int ms = static_cast<int>(std::max<int64_t>(left.count(), 0)) + 1;
      timeout_ms = timeout_ms < 0 ? ms : std::min(timeout_ms, ms);
    }
    if (poll(fds.data(), fds.size(), timeout_ms) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    std::vector<bool> keep(clients.size(), true);
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      short events = fds[i + 2].revents;
      if (events & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
          keep[i] = false;
          continue;
        }
        for (ssize_t k = 0; k < n && keep[i]; ++k) {
          char ch = buffer[k];
          if (ch == '\n') {
            // Only a complete command counts as activity: a byte now and then keeps no place.
            c.last_active = Clock::now();
            if (!c.in.empty() && c.in.back() == '\r') c.in.pop_back();
            if (!c.discarding) keep[i] = Queue(c, handler_(c.in));
            c.in.clear();
            c.discarding = false;
          } else if (!c.discarding) {
            if (c.in.size() >= kMaxLine) {
              keep[i] = Queue(
                  c, "ERR command longer than " + std::to_string(kMaxLine) + " bytes; ignored");
              c.in.clear();
              c.discarding = true;
            } else {
              c.in += ch;
            }
          }
        }
      }
      if (keep[i]) keep[i] = Flush(c);
      if (keep[i] && Clock::now() - c.last_active >= kOperatorIdleLimit) keep[i] = false;
    }
    for (size_t i = clients.size(); i-- > 0;) {
      if (!keep[i]) {
        close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        if (clients.size() >= kMaxClients) {
          // The connection that has sent no command for longest gives way to the new one.
          auto oldest = std::min_element(
              clients.begin(), clients.end(),
              [](const Client& a, const Client& b) { return a.last_active < b.last_active; });
          close(oldest->fd);
          clients.erase(oldest);
        }
        clients.push_back(Client{fd, {}, {}, false, Clock::now()});
      }
    }
  }
  for (Client& c : clients) close(c.fd);
}
