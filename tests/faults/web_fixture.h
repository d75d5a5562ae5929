// The web page tests' fixture: the program with its web page on a free loopback port, a plain
// HTTP client on raw sockets, and a reader of the live event stream.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "network_port_fixture.h"

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string head;
  std::string body;
  // The value of header name (case as sent), or "" when missing.
  std::string Header(const std::string& name) const {
    const size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    const size_t from = at + name.size() + 4;
    return head.substr(from, head.find("\r\n", from) - from);
  }
};

// Sends request as it is and reads the answer until the server closes.
inline HttpReply SendHttp(int port, const std::string& request) {
  HttpReply reply;
  const int fd = ConnectLoopback(port);
  if (fd < 0) return reply;
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  const std::string all = ReadToEnd(fd, std::chrono::seconds(20));
  close(fd);
  const size_t end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return reply;
  reply.status = std::stoi(all.substr(9, 3));
  reply.head = all.substr(0, end + 2);
  reply.body = all.substr(end + 4);
  return reply;
}

inline HttpReply HttpGet(int port, const std::string& path, const std::string& headers = "",
                         const std::string& method = "GET") {
  return SendHttp(port,
                  method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
}

class WebPageTest : public NetworkPortTest {
 protected:
  WebPageTest() : web_(FreePort()) {}
  // The fault tests' settings on COM5 with the web page on web_ and extra keys.
  void ServeWeb(const std::string& extra = "") {
    Serve({""}, "640:" + std::to_string(web_) + "\r\n" + extra);
  }
  // Opens the live event stream; returns the socket, after the stream's first line came.
  int Subscribe(int receive_buffer = 0) const {
    const int fd = ConnectLoopback(web_, receive_buffer);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return -1;
    return fd;
  }
  // Reads the stream until it holds count events ("data: " lines) or timeout passes; returns
  // their JSON.
  static std::vector<nlohmann::json> Events(int fd, size_t count,
                                            std::chrono::milliseconds timeout) {
    std::string got;
    std::vector<nlohmann::json> events;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (events.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
      size_t line;
      while ((line = got.find('\n')) != std::string::npos) {
        const std::string text = got.substr(0, line);
        got.erase(0, line + 1);
        if (text.rfind("data: ", 0) == 0) events.push_back(nlohmann::json::parse(text.substr(6)));
      }
    }
    return events;
  }
  int web_;
};
