// Round trips through a simulated port served by the headless program, against a raw
// pseudo-terminal echo as the floor, and the serving process's CPU use while idle.
//
// Usage: velk_port_benchmark [round-trips] [seconds of sustained load]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_headless.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kDdk = "socket: Velk_VCP.sock\ndevice: 1\ninput: 1\nvalue: 1.234\n";
const char* const kSettings = "20:5\r\n40:0\r\n50:0\r\n1000:1\r\n1001:1\r\n1002:10\r\n";
const std::string kCommand = "M1\r";
const std::string kAnswer = "10:+0001.234\r\n";
constexpr int kWindow = 1000;  // commands in flight

// Reads until text holds at least count bytes; false after 2 s without them.
bool ReadAtLeast(int fd, std::string& text, size_t count) {
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (text.size() < count) {
    if (Clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[8192];
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

struct Latency {
  double median_us = 0;
  double p99_us = 0;
  int failures = 0;
};

Latency RoundTrips(int fd, const std::string& command, const std::string& answer, int count) {
  std::vector<double> times;
  Latency result;
  for (int i = 0; i < count; ++i) {
    std::string got;
    const auto start = Clock::now();
    WriteAll(fd, command);
    if (!ReadAtLeast(fd, got, answer.size()) || got != answer) {
      ++result.failures;
      continue;
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (times.empty()) return result;
  std::sort(times.begin(), times.end());
  result.median_us = times[times.size() / 2];
  result.p99_us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return result;
}

// A raw pty whose master echoes every byte back from a thread: the floor of a round trip.
Latency EchoFloor(int count) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  termios t{};
  tcgetattr(master, &t);
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
  std::thread echo([master] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) return;
      if (write(master, buffer, static_cast<size_t>(n)) < 0) return;
    }
  });
  const Latency result = RoundTrips(slave, kAnswer, kAnswer, count);
  close(slave);
  echo.join();
  close(master);
  return result;
}

// Keeps up to window commands in flight for seconds; returns answered commands per second,
// or -1 when an answer was lost or wrong.
double Sustained(int fd, double seconds, int window) {
  std::string pending;
  long sent = 0, answered = 0;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  const auto start = Clock::now();
  std::string batch;
  for (int i = 0; i < window; ++i) batch += kCommand;
  while (Clock::now() < end) {
    if (sent - answered < window) {
      WriteAll(fd, batch);
      sent += window;
    }
    const size_t before = pending.size();
    if (!ReadAtLeast(fd, pending, before + kAnswer.size())) return -1;
    while (pending.size() >= kAnswer.size()) {
      if (pending.compare(0, kAnswer.size(), kAnswer) != 0) return -1;
      pending.erase(0, kAnswer.size());
      ++answered;
    }
  }
  while (answered < sent) {
    if (!ReadAtLeast(fd, pending, kAnswer.size())) return -1;
    if (pending.compare(0, kAnswer.size(), kAnswer) != 0) return -1;
    pending.erase(0, kAnswer.size());
    ++answered;
  }
  return static_cast<double>(answered) /
         std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time the process has used so far, from the scheduler's nanosecond account.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  in >> ns;
  return ns / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;
  const double seconds = argc > 2 ? std::max(1.0, atof(argv[2])) : 3.0;

  char pattern[] = "/tmp/velk-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN")) {
      fs::copy_file(entry.path(), dir + "/" + name);
    }
  }
  std::ofstream(dir + "/Velk_VCP.DDK") << kDdk;
  std::ofstream(dir + "/Velk_VCP.CFG") << kSettings;

  const pid_t server = fork();
  if (server == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
    unsetenv("VELK_VCP_PORT_DIR");
    freopen("/dev/null", "w", stdout);
    char name[] = "Velk_VCP";
    char* args[] = {name, nullptr};
    _exit(RunHeadless(1, args));
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
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  const Latency floor = EchoFloor(trips);
  const Latency port = RoundTrips(fd, kCommand, kAnswer, trips);
  const double rate = Sustained(fd, seconds, kWindow);

  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double cpuBefore = CpuSeconds(server);
  const auto idleStart = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double idleCpu = (CpuSeconds(server) - cpuBefore) /
                         std::chrono::duration<double>(Clock::now() - idleStart).count();

  close(fd);
  kill(server, SIGTERM);
  int status = 0;
  waitpid(server, &status, 0);
  fs::remove_all(dir);

  std::printf("raw pty echo round trip:     median %8.1f us   p99 %8.1f us   (%d trips)\n",
              floor.median_us, floor.p99_us, trips);
  std::printf("command -> answer via port:  median %8.1f us   p99 %8.1f us   (%d lost)\n",
              port.median_us, port.p99_us, port.failures);
  if (rate < 0) {
    std::printf("sustained: answers lost or wrong\n");
  } else {
    std::printf("sustained, %d in flight:   %8.0f commands/s without loss (%.0f s)\n", kWindow,
                rate, seconds);
  }
  std::printf("idle with a client holding the port: %.3f %% of one core\n", idleCpu * 100);
  return port.failures == 0 && rate >= 0 ? 0 : 1;
}
