// Round trips through simulated ports served by the shipped program (Velk_VCP --headless, the
// binary the build made, or the one VELK_VCP names), against a raw
// pseudo-terminal echo as the floor: single reads, an 8-channel read cycle, the all-channels
// read, sustained load with 1,000 and 10,000 commands in flight, foot switch to value, the
// serving process's CPU use while idle and its peak memory; then M1 over raw TCP and over
// RFC 2217 beside a TCP echo (the network floor) and 1,000 in flight over TCP. With --values the
// program also keeps the value history and publishes to a mosquitto broker it starts on 127.0.0.1
// (a subscriber counts what arrives), and the benchmark also measures how many value events per
// second the history and the publisher take with eight gauges read as fast as the port goes.
//
// Usage: velk_port_benchmark [round-trips] [seconds of sustained load] [--values]
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "loopback.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Device 1: foot switch 0 and eight gauges reading 1.234.
std::string DeviceFile() {
  std::string text = "socket: Velk_VCP.sock\ndevice: 1\nfootswitch: 0\n";
  for (int n = 1; n <= 8; ++n) text += "input: " + std::to_string(n) + "\nvalue: 1.234\n";
  return text;
}

// Preset 0 on COM5..COM8 without log, COM6 also over raw TCP and COM7 over RFC 2217; gauges 1.1
// .. 1.8 at addresses 1..8, answered as 10..80; gauge 1.1 also on the foot switch.
std::string SettingsFile(int rawPort, int rfc2217Port) {
  std::string text = "20:5\r\n82:6\r\n83:7\r\n84:8\r\n40:0\r\n50:0\r\n";
  text += "612:" + std::to_string(rawPort) + "\r\n617:raw\r\n613:" + std::to_string(rfc2217Port) +
          "\r\n618:rfc2217\r\n";
  for (int n = 1; n <= 8; ++n) {
    const int key = 1000 + (n - 1) * 5;
    text += std::to_string(key) + ":" + (n == 1 ? "3" : "1") + "\r\n" + std::to_string(key + 1) +
            ":" + std::to_string(n) + "\r\n" + std::to_string(key + 2) + ":" +
            std::to_string(n * 10) + "\r\n";
  }
  return text;
}

std::string Answer(int n) { return std::to_string(n * 10) + ":+0001.234\r\n"; }

const std::string kCommand = "M1\r";

// A non-blocking connection to port of 127.0.0.1 without delay; -1 when refused.
int Connect(int port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

// Reads until text holds at least count bytes; false after 5 s without them.
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

struct Latency {
  double median_us = 0;
  double p99_us = 0;
  int failures = 0;
};

Latency Summarise(std::vector<double> times, int failures) {
  Latency result;
  result.failures = failures;
  if (times.empty()) return result;
  std::sort(times.begin(), times.end());
  result.median_us = times[times.size() / 2];
  result.p99_us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return result;
}

// Times count rounds; one round sends each command in turn and waits for its answer. Adds
// each round's time (or a failure) to times.
void TimeRoundTrips(int fd, const std::vector<std::pair<std::string, std::string>>& exchanges,
                    int count, std::vector<double>& times, int& failures) {
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    bool ok = true;
    for (const auto& [command, answer] : exchanges) {
      std::string got;
      WriteAll(fd, command);
      if (!ReadAtLeast(fd, got, answer.size()) || got != answer) ok = false;
    }
    if (!ok) {
      ++failures;
      continue;
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
}

Latency RoundTrips(int fd, const std::vector<std::pair<std::string, std::string>>& exchanges,
                   int count) {
  std::vector<double> times;
  int failures = 0;
  TimeRoundTrips(fd, exchanges, count, times, failures);
  return Summarise(std::move(times), failures);
}

// A TCP echo on 127.0.0.1, served by a process of its own that waits as the program waits
// (poll, read, write): the floor of a network round trip. Returns a connected socket and the
// echo's process id.
std::pair<int, pid_t> TcpEcho() {
  int port = 0;
  const int listener = ListenLoopback(0, port);
  const pid_t echo = fork();
  if (echo == 0) {
    const int peer = accept(listener, nullptr, nullptr);
    const int on = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char buffer[4096];
    for (;;) {
      pollfd p{peer, POLLIN, 0};
      if (poll(&p, 1, -1) < 0) _exit(0);
      const ssize_t n = read(peer, buffer, sizeof buffer);
      if (n <= 0 || write(peer, buffer, static_cast<size_t>(n)) < 0) _exit(0);
    }
  }
  close(listener);
  return {Connect(port), echo};
}

// The floor's exchange and the program's, timed in alternating blocks of 50.
std::pair<Latency, Latency> Alternating(int floorFd, int portFd, int count) {
  std::vector<double> floor, single;
  int floorFailures = 0, singleFailures = 0;
  for (int done = 0; done < count; done += 50) {
    const int block = std::min(50, count - done);
    TimeRoundTrips(floorFd, {{Answer(1), Answer(1)}}, block, floor, floorFailures);
    TimeRoundTrips(portFd, {{kCommand, Answer(1)}}, block, single, singleFailures);
  }
  return {Summarise(std::move(floor), floorFailures), Summarise(std::move(single), singleFailures)};
}

// A raw pty whose master echoes every byte back from a process of its own that waits on it as
// the program waits on its ports: the floor of a round trip. The floor and M1 are timed in
// alternating blocks of 50, so that both see the same machine (load, cores, clock).
std::pair<Latency, Latency> FloorAndSingle(int port, int count) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  grantpt(master);
  unlockpt(master);
  termios t{};
  tcgetattr(master, &t);
  cfmakeraw(&t);
  tcsetattr(master, TCSANOW, &t);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
  const pid_t echo = fork();
  if (echo == 0) {
    close(slave);
    char buffer[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, -1) < 0 || (p.revents & POLLHUP)) _exit(0);
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0 && write(master, buffer, static_cast<size_t>(n)) < 0) _exit(0);
    }
  }
  const auto result = Alternating(slave, port, count);
  close(slave);
  close(master);
  kill(echo, SIGTERM);
  waitpid(echo, nullptr, 0);
  return result;
}

struct Throughput {
  double per_second = 0;
  long lost = 0;  // answers missing at the end
  long cut = 0;   // answers that arrived but not whole and right
  long answered = 0;
};

// Keeps up to window commands in flight for seconds (a writer thread), checks every answer.
Throughput Sustained(int fd, double seconds, long window, const std::string& command = kCommand,
                     const std::string& answer = Answer(1)) {
  std::atomic<long> answered{0};
  std::atomic<long> sent{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    const std::string chunk = [&] {
      std::string text;
      for (int i = 0; i < 100; ++i) text += command;
      return text;
    }();
    while (!stop) {
      if (sent - answered + 100 > window) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        continue;
      }
      WriteAll(fd, chunk);
      sent += 100;
    }
  });
  Throughput result;
  std::string pending;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  auto take = [&] {
    size_t k = 0;
    for (; k + answer.size() <= pending.size(); k += answer.size()) {
      if (pending.compare(k, answer.size(), answer) != 0) ++result.cut;
      ++answered;
    }
    pending.erase(0, k);
  };
  while (Clock::now() < end) {
    if (!ReadAtLeast(fd, pending, answer.size())) break;
    take();
  }
  stop = true;
  writer.join();
  while (answered < sent && ReadAtLeast(fd, pending, answer.size())) take();
  result.lost = sent - answered;
  result.answered = answered;
  result.per_second =
      static_cast<double>(answered) / std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

// Sends one line to the device library's control socket and returns its answer line.
std::string Operator(const std::string& socketPath, const std::string& command) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    WriteAll(fd, command + "\n");
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') answer += c;
  }
  close(fd);
  return answer;
}

// Foot switch pressed (through the control socket) until its value arrives on the port.
Latency FootSwitch(int fd, const std::string& socketPath, int count) {
  std::vector<double> times;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    std::string got;
    const auto start = Clock::now();
    Operator(socketPath, "press 1");
    const bool ok = ReadAtLeast(fd, got, Answer(1).size()) && got == Answer(1);
    const auto took = Clock::now() - start;
    Operator(socketPath, "release 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(80));  // the release is seen
    if (ok) {
      times.push_back(std::chrono::duration<double, std::micro>(took).count());
    } else {
      ++failures;
    }
  }
  return Summarise(std::move(times), failures);
}

// CPU time the process has used so far, from the scheduler's nanosecond account.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  in >> ns;
  return ns / 1e9;
}

// Share of one core the process used over the next seconds.
double CpuShare(pid_t pid, double seconds) {
  const double before = CpuSeconds(pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return (CpuSeconds(pid) - before) / std::chrono::duration<double>(Clock::now() - start).count();
}

// A line of /proc/PID/status in kB ("VmHWM" is the peak resident memory).
long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return atol(line.c_str() + key.size() + 1);
  }
  return 0;
}

// Starts a program with its output into file; returns its process id.
pid_t Spawn(const std::vector<std::string>& args, const std::string& file) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(file.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Events in the value history so far.
long HistoryRows(const std::string& path) {
  sqlite3* db = nullptr;
  long rows = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 1000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM value_events", -1, &st, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      rows = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return rows;
}

// Value messages the subscriber has printed so far (one line each).
long Messages(const std::string& path) {
  std::ifstream in(path);
  long lines = 0;
  for (std::string line; std::getline(in, line);)
    lines += line.find("\"seq\"") != std::string::npos;
  return lines;
}

struct Drain {
  long produced = 0;        // value events the program sent
  long stored = 0;          // of which in the history
  long published = 0;       // of which the subscriber received
  double stored_per_s = 0;  // from the start of the load to the last one stored
  double published_per_s = 0;
};

// Sends M* (eight gauges) perSecond times a second for seconds, one at a time, each answer
// read; returns the commands answered.
long Paced(int fd, double seconds, int perSecond, const std::string& all) {
  long answered = 0;
  const auto start = Clock::now();
  const auto step = std::chrono::duration<double>(1.0 / perSecond);
  for (long k = 0; Clock::now() - start < std::chrono::duration<double>(seconds); ++k) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(step * k));
    std::string got;
    WriteAll(fd, "M*\r");
    if (ReadAtLeast(fd, got, all.size()) && got == all) ++answered;
  }
  return answered;
}

// Eight gauges read with all-channels commands, in flight as fast as the port goes
// (perSecond 0) or paced, for seconds (eight events each); then waits until the history and
// the subscriber take no more.
Drain ValueEvents(int fd, double seconds, int perSecond, const std::string& db,
                  const std::string& received) {
  std::string all;
  for (int n = 1; n <= 8; ++n) all += Answer(n);
  // What earlier figures sent is taken first, so that it is not counted here.
  long storedBefore = HistoryRows(db), publishedBefore = Messages(received);
  for (auto quiet = Clock::now(); Clock::now() - quiet < std::chrono::seconds(2);) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long stored = HistoryRows(db), published = Messages(received);
    if (stored != storedBefore || published != publishedBefore) quiet = Clock::now();
    storedBefore = stored;
    publishedBefore = published;
  }
  const auto start = Clock::now();
  Drain d;
  d.produced = 8 * (perSecond > 0 ? Paced(fd, seconds, perSecond, all)
                                  : Sustained(fd, seconds, 100, "M*\r", all).answered);
  auto lastStored = Clock::now(), lastPublished = Clock::now();
  for (auto quiet = Clock::now(); Clock::now() - quiet < std::chrono::seconds(3);) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long stored = HistoryRows(db) - storedBefore;
    const long published = Messages(received) - publishedBefore;
    if (stored != d.stored) lastStored = quiet = Clock::now();
    if (published != d.published) lastPublished = quiet = Clock::now();
    d.stored = stored;
    d.published = published;
  }
  d.stored_per_s = d.stored / std::chrono::duration<double>(lastStored - start).count();
  d.published_per_s = d.published / std::chrono::duration<double>(lastPublished - start).count();
  return d;
}

void PrintDrain(const char* what, const Drain& d) {
  std::printf("value events, %s: %ld sent\n", what, d.produced);
  std::printf("  history:  %ld stored (%ld lost), %9.0f events/s\n", d.stored,
              d.produced - d.stored, d.stored_per_s);
  std::printf("  MQTT:     %ld received (%ld lost), %9.0f events/s\n", d.published,
              d.produced - d.published, d.published_per_s);
}

void Print(const char* what, const Latency& l) {
  std::printf("%-34s median %9.1f us   p99 %9.1f us   (%d failed)\n", what, l.median_us, l.p99_us,
              l.failures);
}

struct Network {
  Latency floor, raw, rfc2217;
  Throughput sustained;
};

// Serves slot (1..4) through the program's socket, as its hot key would.
void ServeSlot(const std::string& dir, int slot) {
  Operator(dir + "/Velk_VCP.control", "serve " + std::to_string(slot));
}

// A network client of port tcp once the slot's pty client (closed just before) has left:
// until then the program refuses with one line. For RFC 2217 the client agrees to the COM
// port option and takes the server's negotiation before anything is timed.
int NetworkClient(int tcp, bool rfc2217) {
  for (int i = 0; i < 500; ++i) {
    const int fd = Connect(tcp);
    if (fd < 0) return -1;
    std::string greeting;
    if (rfc2217) WriteAll(fd, "\xff\xfb\x2c");  // IAC WILL COM-PORT-OPTION
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) greeting.assign(buffer, static_cast<size_t>(n));
    if (greeting.find("held by another client") == std::string::npos) return fd;
    close(fd);
  }
  return -1;
}

// M1 over raw TCP (slot 2) and RFC 2217 (slot 3) beside a TCP echo, and 1,000 in flight over
// raw TCP, once the slots' pty clients have left (one client per slot).
Network OverTheNetwork(const std::string& dir, int rawPort, int rfc2217Port, int trips,
                       double seconds) {
  Network result;
  ServeSlot(dir, 2);
  const int raw = NetworkClient(rawPort, false);
  const auto [echo, echoPid] = TcpEcho();
  std::tie(result.floor, result.raw) = Alternating(echo, raw, trips);
  result.sustained = Sustained(raw, seconds, 1000);
  ServeSlot(dir, 3);
  const int rfc2217 = NetworkClient(rfc2217Port, true);
  result.rfc2217 = Alternating(echo, rfc2217, trips).second;
  ServeSlot(dir, 1);
  for (int fd : {raw, rfc2217, echo}) close(fd);
  kill(echoPid, SIGTERM);
  waitpid(echoPid, nullptr, 0);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool values = std::erase(args, "--values") > 0;
  const int trips = args.size() > 0 ? std::max(10, atoi(args[0].c_str())) : 1000;
  const double seconds = args.size() > 1 ? std::max(1.0, atof(args[1].c_str())) : 3.0;

  char pattern[] = "/tmp/velk-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN")) {
      fs::copy_file(entry.path(), dir + "/" + name);
    }
  }
  std::ofstream(dir + "/Velk_VCP.DDK") << DeviceFile();
  const int rawPort = FreePort(), rfc2217Port = FreePort();
  pid_t broker = -1, subscriber = -1;
  if (values) {
    const int port = FreePort();
    std::ofstream(dir + "/broker.conf")
        << "listener " << port << " 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\n";
    broker = Spawn({"mosquitto", "-c", dir + "/broker.conf"}, "/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    subscriber = Spawn({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1",
                        "-t", "velk/+/+/value"},
                       dir + "/received");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::ofstream(dir + "/Velk_VCP.CFG")
        << SettingsFile(rawPort, rfc2217Port) << "600:1\r\n603:mqtt://127.0.0.1:" << port
        << "\r\n605:bench\r\n";
  } else {
    std::ofstream(dir + "/Velk_VCP.CFG") << SettingsFile(rawPort, rfc2217Port);
  }

  const pid_t server = fork();
  if (server == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
    unsetenv("VELK_VCP_PORT_DIR");
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    const char* program = getenv("VELK_VCP") ? getenv("VELK_VCP") : VELK_VCP;
    execl(program, "Velk_VCP", "--headless", static_cast<char*>(nullptr));
    std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(errno));
    _exit(127);
  }
  std::vector<int> ports;
  for (int n = 5; n <= 8; ++n) {
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      fd = open((dir + "/ports/COM" + std::to_string(n)).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    if (fd < 0) {
      std::fprintf(stderr, "the serving process did not create ports/COM%d\n", n);
      kill(server, SIGTERM);
      return 1;
    }
    ports.push_back(fd);
  }
  const int fd = ports[0];
  std::this_thread::sleep_for(std::chrono::milliseconds(100));

  std::vector<std::pair<std::string, std::string>> cycle;
  std::string all;
  for (int n = 1; n <= 8; ++n) {
    cycle.emplace_back("M" + std::to_string(n) + "\r", Answer(n));
    all += Answer(n);
  }
  const std::string db = dir + "/Velk_VCP.values.db", received = dir + "/received";
  const auto [floor, single] = FloorAndSingle(fd, trips);
  const Latency eight = RoundTrips(fd, cycle, std::max(10, trips / 8));
  const Latency allChannels = RoundTrips(fd, {{"M*\r", all}}, trips);
  const Throughput thousand = Sustained(fd, seconds, 1000);
  const Throughput tenThousand = Sustained(fd, seconds, 10000);
  const Latency foot = FootSwitch(fd, dir + "/Velk_VCP.sock", 20);
  // The floods come after the figures compared with a run without the listeners, so that both
  // runs measure those in the same state: a flood leaves the machine slower for a while.
  const Drain paced = values ? ValueEvents(fd, seconds, 1000, db, received) : Drain{};
  const Drain flood = values ? ValueEvents(fd, seconds, 0, db, received) : Drain{};

  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double idleHeld = CpuShare(server, 3);
  for (int port : ports) close(port);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double idleFree = CpuShare(server, 3);
  const Network network = OverTheNetwork(dir, rawPort, rfc2217Port, trips, seconds);
  const long peakKb = StatusKb(server, "VmHWM");

  kill(server, SIGTERM);
  int status = 0;
  waitpid(server, &status, 0);
  for (pid_t helper : {subscriber, broker}) {
    if (helper <= 0) continue;
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
  }
  fs::remove_all(dir);

  if (values) {
    PrintDrain("8 gauges, 1,000 M* a second", paced);
    PrintDrain("8 gauges, M* as fast as the port goes", flood);
  }

  Print("raw pty echo round trip (floor):", floor);
  Print("M1 -> answer:", single);
  Print("8 channels one after another:", eight);
  Print("all channels (8) in one command:", allChannels);
  for (const auto& [window, t] : {std::pair{1000, thousand}, std::pair{10000, tenThousand}}) {
    std::printf("sustained, %5d in flight:          %9.0f commands/s   %ld lost   %ld cut\n",
                window, t.per_second, t.lost, t.cut);
  }
  Print("foot switch press -> value:", foot);
  Print("raw TCP echo round trip (floor):", network.floor);
  Print("M1 over raw TCP -> answer:", network.raw);
  Print("M1 over RFC 2217 -> answer:", network.rfc2217);
  std::printf("sustained over TCP, 1000 in flight: %9.0f commands/s   %ld lost   %ld cut\n",
              network.sustained.per_second, network.sustained.lost, network.sustained.cut);
  std::printf("idle, four ports held by clients:  %.3f %% of one core\n", idleHeld * 100);
  std::printf("idle, no client:                   %.3f %% of one core\n", idleFree * 100);
  std::printf("peak resident memory:              %ld kB\n", peakKb);
  const bool ok = single.failures == 0 && eight.failures == 0 && allChannels.failures == 0 &&
                  thousand.lost + thousand.cut + tenThousand.lost + tenThousand.cut == 0 &&
                  network.raw.failures == 0 && network.rfc2217.failures == 0 &&
                  network.sustained.lost + network.sustained.cut == 0;
  return ok ? 0 : 1;
}
