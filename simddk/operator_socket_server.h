// The simulated device's operator socket (velk-ddk and tests act through it): a thread that accepts
// connections on a UNIX socket, reads command lines and answers each with the line the handler
// returns.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

// A connection that sends no complete command (a line) for this long is closed, so that idle
// clients cannot keep the (at most 16) connection places taken; bytes without a line end do
// not count. When all places are taken, the connection idle longest gives way to a new one.
inline constexpr std::chrono::seconds kOperatorIdleLimit{5};

class OperatorSocketServer {
 public:
  using Handler = std::function<std::string(std::string_view)>;

  OperatorSocketServer() = default;
  OperatorSocketServer(const OperatorSocketServer&) = delete;
  OperatorSocketServer& operator=(const OperatorSocketServer&) = delete;
  ~OperatorSocketServer();

  // Listens on path and answers commands with handler on a thread of its own. The socket file
  // is readable and writable by the owner only (0600), whatever the umask. A socket file left
  // by a dead process is replaced; a path another live server listens on, or that is not a
  // socket, is left alone. Returns false with a reason in error when it cannot listen.
  bool Start(const std::string& path, Handler handler, std::string& error);
  // Stops the thread, closes every connection and removes the socket file. Safe to repeat.
  void Stop();
  bool running() const { return thread_.joinable(); }

 private:
  void Run();

  Handler handler_;
  std::string path_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  unsigned long inode_ = 0;
  std::thread thread_;
};
