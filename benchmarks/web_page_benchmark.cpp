// What the web page costs serving: M1 round trips and sustained load with 10,000 commands in
// flight on a simulated port of the shipped program (Velk_VCP --headless), three ways: the page
// off, the page on with nobody looking, and the page open as a browser has it (its status
// fetched once a second, the log every 5 s, one live event stream reading every value).
//
// Usage: velk_web_benchmark [round-trips] [seconds of sustained load]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kCommand = "M1\r";
const std::string kAnswer = "10:+0001.234\r\n";

bool ReadAtLeast(int fd, std::string& text, size_t count) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (text.size() < count) {
    if (Clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 10);
    }
  }
}

struct Figures {
  double median_us = 0, p99_us = 0;
  int failures = 0;
  double per_second = 0;
  long lost = 0;
};

void RoundTrips(int fd, int count, Figures& f) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    std::string got;
    WriteAll(fd, kCommand);
    if (!ReadAtLeast(fd, got, kAnswer.size()) || got != kAnswer) {
      ++f.failures;
      continue;
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  f.median_us = times[times.size() / 2];
  f.p99_us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
}

// Keeps up to 10,000 commands in flight for seconds and counts the answers.
void Sustained(int fd, double seconds, Figures& f) {
  constexpr long kWindow = 10000;
  std::atomic<long> answered{0}, sent{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::string chunk;
    for (int i = 0; i < 100; ++i) chunk += kCommand;
    while (!stop) {
      if (sent - answered + 100 > kWindow) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        continue;
      }
      WriteAll(fd, chunk);
      sent += 100;
    }
  });
  std::string pending;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  auto take = [&] {
    const size_t whole = pending.size() / kAnswer.size();
    answered += static_cast<long>(whole);
    pending.erase(0, whole * kAnswer.size());
  };
  while (Clock::now() < end && ReadAtLeast(fd, pending, kAnswer.size())) take();
  stop = true;
  writer.join();
  while (answered < sent && ReadAtLeast(fd, pending, kAnswer.size())) take();
  f.lost = sent - answered;
  f.per_second =
      static_cast<double>(answered) / std::chrono::duration<double>(Clock::now() - start).count();
}

// One HTTP GET; returns the bytes of the answer (until the server closes).
size_t Get(int port, const std::string& path) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return 0;
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  size_t total = 0;
  char buffer[65536];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) total += static_cast<size_t>(n);
  close(fd);
  return total;
}

// The page as a browser has it open, on threads of the benchmark until stop.
struct OpenPage {
  std::atomic<bool> stop{false};
  std::atomic<long> events{0};
  std::thread poller, stream;

  explicit OpenPage(int port) {
    poller = std::thread([this, port] {
      for (int tick = 0; !stop; ++tick) {
        Get(port, "/api/status");
        if (tick % 5 == 0) Get(port, "/api/log");
        for (int i = 0; i < 10 && !stop; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    stream = std::thread([this, port] {
      const int fd = ConnectLoopback(port);
      const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      std::string got;
      char buffer[65536];
      while (!stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
        size_t at;
        while ((at = got.find("\n\n")) != std::string::npos) {
          events += got.compare(0, 4, "id: ") == 0;
          got.erase(0, at + 2);
        }
      }
      close(fd);
    });
  }
  ~OpenPage() {
    stop = true;
    poller.join();
    stream.join();
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::atoi(argv[1]) : 2000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
  char folder[] = "/tmp/velk-web-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string dir = folder;
  std::ofstream(dir + "/Velk_VCP.DDK")
      << "socket: Velk_VCP.sock\ndevice: 1\ninput: 1\nvalue: 1.234\n";
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN"))
      fs::copy_file(entry.path(), dir + "/" + name);
  }
  {
    std::ifstream preset(std::string(VELK_DATA_DIR) + "/LIB000.DRV", std::ios::binary);
    std::ofstream(dir + "/Velk_VCP.CFG")
        << "20:5\r\n40:0\r\n50:0\r\n1000:1\r\n1001:1\r\n1002:10\r\n"
        << preset.rdbuf();
  }
  const int web = FreePort();
  const pid_t server = fork();
  if (server == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
    unsetenv("VELK_VCP_PORT_DIR");
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    execl(VELK_VCP, "Velk_VCP", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  int fd = -1;
  for (int i = 0; i < 500 && fd < 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fd = open((dir + "/ports/COM5").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  }
  if (fd < 0) {
    std::fprintf(stderr, "the serving process did not create ports/COM5\n");
    kill(server, SIGTERM);
    return 1;
  }
  const auto tool = [&](const std::string& arguments) {
    return std::system(
        (std::string(VELK_CONFIG_TOOL) + " --dir " + dir + " " + arguments + " >/dev/null")
            .c_str());
  };
  Figures off, idle, open;
  long events = 0;
  RoundTrips(fd, trips, off);
  Sustained(fd, seconds, off);
  bool ok = tool("web " + std::to_string(web)) == 0;
  RoundTrips(fd, trips, idle);
  Sustained(fd, seconds, idle);
  {
    OpenPage page(web);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RoundTrips(fd, trips, open);
    Sustained(fd, seconds, open);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    events = page.events;
  }
  close(fd);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  fs::remove_all(dir);
  for (const auto& [what, f] :
       {std::pair{"page off", off}, std::pair{"page on, nobody looking", idle},
        std::pair{"page open, one live stream", open}}) {
    std::printf(
        "%-28s M1 median %7.1f us  p99 %7.1f us (%d failed)   10,000 in flight %8.0f/s "
        "(%ld lost)\n",
        what, f.median_us, f.p99_us, f.failures, f.per_second, f.lost);
    ok = ok && f.failures == 0 && f.lost == 0;
  }
  std::printf(
      "live stream: %ld value events received (a stream that falls 2,000 behind is dropped)\n",
      events);
  return ok ? 0 : 1;
}
