// The running program's local socket: a Unix socket in the working folder, private to the
// user (0600, and every connection's peer credentials checked), through which tools talk to
// the program. One request per line (words separated by blanks, the first names the request),
// one answer per request: a JSON object on one line with "ok" true, or "ok" false and "error".
// Its descriptors are served from the serving loop's event set, so requests run between
// serving steps on the serving thread, never beside the engine. A connection gets one request
// answered per wake-up (a client that sends many at once is served one per loop turn), and
// the part of an answer its socket does not take at once goes from a thread of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "answer_sender.h"
#include "readable_watch.h"

inline constexpr const char* kControlSocketName = "Velk_VCP.control";

class ControlServer {
 public:
  // A request line longer than this is refused and its connection closed.
  static constexpr size_t kLineMax = 4096;
  // Connections at most; a further one closes the longest idle.
  static constexpr size_t kConnectionsMax = 8;

  // Answers the request's words (the first is its name). Returns the answer's members; "ok"
  // is added when missing. May throw RequestError for a refusal that the client reads.
  using Handler = std::function<nlohmann::json(const std::vector<std::string>& words)>;
  struct RequestError {
    std::string message;
  };

  explicit ControlServer(IReadableWatch& watch) : watch_(watch) {}
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;
  ~ControlServer() { Stop(); }

  // Answers request name with handler from now on.
  void On(const std::string& name, Handler handler) { handlers_[name] = std::move(handler); }

  // Listens at path (relative to the current directory; private whatever the umask). The
  // caller holds its working folder alone, so a socket file at path is replaced, also one that
  // a process answers (note then says so; else it is empty). Returns false with the reason when
  // path is no socket, or the socket cannot be made or watched.
  bool Start(const std::string& path, std::string& reason, std::string& note);
  // Closes every connection and the socket and removes the socket file (when it is still this
  // one's). Nothing when not started.
  void Stop();
  bool started() const { return listener_ >= 0; }

  // The answer to one request line (no line end): what a connection gets for it.
  std::string Answer(const std::string& line);
  // The same as JSON, not yet written out (connections have it written by the sender).
  nlohmann::json AnswerJson(const std::string& line);
  // The process id of the client whose request is being answered (its peer credentials); 0
  // outside a request.
  pid_t peer_pid() const { return peer_pid_; }

 private:
  struct Connection {
    pid_t pid = 0;
    std::string in;
    std::chrono::steady_clock::time_point last{};
    bool sending = false;  // the sender has the rest of its answer; not watched meanwhile
  };
  void Accept();
  void Read(int fd);
  void Send(int fd, const std::string& text);
  void Close(int fd);
  void SendersDone();

  IReadableWatch& watch_;
  std::map<std::string, Handler> handlers_;
  std::map<int, Connection> connections_;
  AnswerSender sender_;
  int sender_done_ = -1;
  int listener_ = -1;
  std::string path_;
  ino_t inode_ = 0;
  pid_t peer_pid_ = 0;
};
