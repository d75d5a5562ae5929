#include "control_server.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <utility>

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

bool ControlServer::Start(const std::string& path, std::string& reason, std::string& note) {
  Stop();
  note.clear();
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
    // Left by a program that ended without removing it, or made by a process that is no
    // program of this folder (the caller holds the folder alone): replaced either way, so that
    // requests never go to somebody else.
    if (Answered(address)) note = "replaced " + path + ", where another process answered";
    unlink(path.c_str());
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
  sender_done_ = sender_.Start();
  if (sender_done_ < 0 || !watch_.WatchReadable(sender_done_, [this] { SendersDone(); }) ||
      !watch_.WatchReadable(fd, [this] { Accept(); })) {
    reason = "cannot watch the socket " + path;
    if (sender_done_ >= 0) watch_.Unwatch(sender_done_);
    sender_.Stop();
    sender_done_ = -1;
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
  // The sender lets go of every connection before they close.
  if (sender_done_ >= 0) watch_.Unwatch(sender_done_);
  sender_.Stop();
  sender_done_ = -1;
  for (auto& [fd, connection] : connections_) connection.sending = false;
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
      // The longest idle goes; one whose answer is still being sent is not idle.
      auto idle = connections_.end();
      for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->second.sending) continue;
        if (idle == connections_.end() || it->second.last < idle->second.last) idle = it;
      }
      if (idle == connections_.end()) {
        close(fd);
        continue;
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
  // Takes at most one request: what follows it stays in the socket and wakes the loop again,
  // so a client that sends many at once gets one answered per loop turn, between serving steps.
  char buffer[kLineMax + 2];
  const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_PEEK);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    Close(fd);
    return;
  }
  if (n < 0) return;
  const auto* newline = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(n)));
  const size_t take = newline ? static_cast<size_t>(newline - buffer) + 1 : static_cast<size_t>(n);
  const ssize_t taken = recv(fd, buffer, take, MSG_DONTWAIT);
  if (taken != static_cast<ssize_t>(take)) {
    Close(fd);
    return;
  }
  it->second.last = std::chrono::steady_clock::now();
  std::string& in = it->second.in;
  in.append(buffer, take);
  if (in.size() > kLineMax + 1) {
    Send(fd, Refusal("request longer than " + std::to_string(kLineMax) + " bytes"));
    Close(fd);
    return;
  }
  if (!newline) return;
  std::string line = std::exchange(in, {});
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  peer_pid_ = it->second.pid;
  nlohmann::json answer = AnswerJson(line);
  peer_pid_ = 0;
  // Written out and sent by the sender: a large answer (the status of many gauges) costs the
  // serving thread only its making. The connection takes no request until it went.
  watch_.Unwatch(fd);
  if (!sender_.Send(fd, std::move(answer))) {
    Close(fd);
    return;
  }
  it->second.sending = true;
}

void ControlServer::Send(int fd, const std::string& text) {
  const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent == static_cast<ssize_t>(text.size())) return;
  if (sent < 0 && errno != EAGAIN && errno != EINTR) {
    Close(fd);
    return;
  }
  // A large answer (the status of many gauges) or a client that reads slowly: the rest goes
  // from the sender, and the connection takes no request until it went.
  const size_t done = sent > 0 ? static_cast<size_t>(sent) : 0;
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  watch_.Unwatch(fd);
  if (!sender_.Send(fd, text.substr(done))) {
    Close(fd);
    return;
  }
  it->second.sending = true;
}

void ControlServer::SendersDone() {
  for (const auto& [fd, ok] : sender_.TakeDone()) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) continue;
    it->second.sending = false;
    if (!ok || !watch_.WatchReadable(fd, [this, fd] { Read(fd); })) {
      connections_.erase(it);
      close(fd);
    }
  }
}

void ControlServer::Close(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  // A connection whose answer is still being sent closes when the sender lets go of it.
  if (it->second.sending) return;
  connections_.erase(it);
  watch_.Unwatch(fd);
  close(fd);
}

std::string ControlServer::Answer(const std::string& line) {
  // Texts that are no valid UTF-8 are written with replacement characters, never refused.
  return AnswerJson(line).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json ControlServer::AnswerJson(const std::string& line) {
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
  return answer;
}
