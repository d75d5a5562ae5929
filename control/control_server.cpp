#include "control_server.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  return true;
}

// True when a program accepts connections at path.
bool Answered(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return live;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Refusal(const std::string& message) {
  return nlohmann::json{{"ok", false}, {"error", message}}.dump() + "\n";
}

}  // namespace

bool ControlServer::Start(const std::string& path, std::string& reason) {
  Stop();
  sockaddr_un address{};
  if (!MakeAddress(path, address)) {
    reason = "socket path " + path + " is too long";
    return false;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      reason = path + " exists and is no socket";
      return false;
    }
    if (Answered(address)) {
      reason = "another program answers at " + path;
      return false;
    }
    unlink(path.c_str());  // left by a program that ended without removing it
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  // Made private before it listens: nobody else can connect in between.
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0 || lstat(path.c_str(), &info) != 0) {
    reason = "cannot make the socket " + path + ": " + std::strerror(errno);
    if (fd >= 0) {
      close(fd);
      unlink(path.c_str());
    }
    return false;
  }
  if (!watch_.WatchReadable(fd, [this] { Accept(); })) {
    reason = "cannot watch the socket " + path;
    close(fd);
    unlink(path.c_str());
    return false;
  }
  listener_ = fd;
  path_ = path;
  inode_ = info.st_ino;
  return true;
}

void ControlServer::Stop() {
  while (!connections_.empty()) Close(connections_.begin()->first);
  if (listener_ < 0) return;
  watch_.Unwatch(listener_);
  close(listener_);
  listener_ = -1;
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && info.st_ino == inode_) unlink(path_.c_str());
  path_.clear();
}

void ControlServer::Accept() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: none waits
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
      const std::string refusal = Refusal("refused: the program belongs to another user");
      (void)!send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      close(fd);
      continue;
    }
    if (connections_.size() >= kConnectionsMax) {
      auto idle = connections_.begin();
      for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->second.last < idle->second.last) idle = it;
      }
      Close(idle->first);
    }
    if (!watch_.WatchReadable(fd, [this, fd] { Read(fd); })) {
      close(fd);
      continue;
    }
    connections_[fd].last = std::chrono::steady_clock::now();
    connections_[fd].pid = peer.pid;
  }
}

void ControlServer::Read(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  char buffer[1024];
  const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    Close(fd);
    return;
  }
  if (n < 0) return;
  it->second.last = std::chrono::steady_clock::now();
  std::string& in = it->second.in;
  in.append(buffer, static_cast<size_t>(n));
  for (size_t end; (end = in.find('\n')) != std::string::npos;) {
    std::string line = in.substr(0, end);
    in.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    peer_pid_ = it->second.pid;
    const std::string answer = Answer(line) + "\n";
    peer_pid_ = 0;
    Send(fd, answer);
    if (connections_.count(fd) == 0) return;  // the answer could not go
  }
  if (in.size() > kLineMax) {
    Send(fd, Refusal("request longer than " + std::to_string(kLineMax) + " bytes"));
    Close(fd);
  }
}

void ControlServer::Send(int fd, const std::string& text) {
  // Answers are small: a client that does not take one whole is dropped.
  const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent != static_cast<ssize_t>(text.size())) Close(fd);
}

void ControlServer::Close(int fd) {
  if (connections_.erase(fd) == 0) return;
  watch_.Unwatch(fd);
  close(fd);
}

std::string ControlServer::Answer(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  auto it = words.empty() ? handlers_.end() : handlers_.find(words.front());
  nlohmann::json answer;
  if (words.empty()) {
    answer = {{"ok", false}, {"error", "empty request"}};
  } else if (it == handlers_.end()) {
    answer = {{"ok", false}, {"error", "unknown request " + words.front()}};
  } else {
    try {
      answer = it->second(words);
      if (!answer.is_object()) answer = {{"value", answer}};
      if (!answer.contains("ok")) answer["ok"] = true;
    } catch (const RequestError& e) {
      answer = {{"ok", false}, {"error", e.message}};
    }
  }
  // Texts that are no valid UTF-8 are written with replacement characters, never refused.
  return answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
