// The network port tests' fixture: the program with network ports on free loopback TCP
// ports, its settings tool and status, and clients that read to the end or reset.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loopback.h"
#include "program_fixture.h"

inline const std::string kValue1 = "10:+0001.234\r\n";

// Everything the peer sends until it closes (or timeout).
inline std::string ReadToEnd(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

// Closes fd with a reset instead of an orderly end, as a peer that vanished leaves it.
inline void Reset(int fd) {
  const linger abort{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(fd);
}

class NetworkPortTest : public ProgramTest {
 protected:
  NetworkPortTest() {
    for (int& port : tcp_) port = FreePort();
  }
  // The fault tests' settings; slot k (1..4) on COM4+k with the network port tcp_[k-1] in the
  // given protocol (empty: none), answering on every port; extra keys after.
  void Serve(const std::vector<std::string>& protocols, const std::string& extra = "") {
    std::string keys = "96:1\r\n";
    const int numberKeys[] = {20, 82, 83, 84};
    for (size_t k = 0; k < protocols.size(); ++k) {
      keys += std::to_string(numberKeys[k]) + ":" + std::to_string(5 + k) + "\r\n";
      if (protocols[k].empty()) continue;
      keys += std::to_string(611 + k) + ":" + std::to_string(tcp_[k]) + "\r\n" +
              std::to_string(616 + k) + ":" + protocols[k] + "\r\n";
    }
    Write("Velk_VCP.CFG", FaultSettings() + keys + extra);
    pid_ = Start();
    ASSERT_TRUE(WaitUntilServing()) << Err();
  }
  std::string Log() const { return Read("Velk_VCP.LOG"); }
  // Runs the settings tool in the test's folder; returns its exit status.
  int Tool(const std::string& arguments, const std::string& out = "tool.out") const {
    const int status = Shell(std::string(VELK_CONFIG_TOOL) + " --dir " + Path("") + " " +
                             arguments + " >>" + Path(out) + " 2>&1");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  nlohmann::json Status() const {
    Shell("rm -f " + Path("status.json"));
    Tool("status --json", "status.json");
    return nlohmann::json::parse(Read("status.json"), nullptr, false);
  }
  std::string PySerial(const std::string& url) const {
    const std::string out = Path("pyserial.out");
    Shell("/usr/bin/python3 " VELK_NETWORK_CHECK " '" + url + "' 'M1\\r' '" +
          "10:+0001.234\\r\\n' >" + out + " 2>&1");
    return Read("pyserial.out");
  }
  int tcp_[4];
  pid_t pid_ = -1;
};
