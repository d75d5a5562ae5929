// M1 round trips over a TLS network port of the shipped program (Velk_VCP --headless, the
// binary the build made, or the one VELK_VCP names) against the same over a plain TCP port
// and against a TLS echo on 127.0.0.1 (the floor: a process of its own that sends every
// record's bytes back at once, with the same certificate), timed in alternating blocks of 50
// so that all three see the same machine; then batches of 1,000 commands over TLS and over
// plain TCP. The client shows a certificate of the station's client CA (mutual TLS).
//
// Usage: velk_tls_benchmark [round-trips]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kCommand = "M1\r";
const std::string kAnswer = "10:+0001.234\r\n";

// A connection the benchmark times: plain TCP, or TLS over it (blocking in both cases).
class Line {
 public:
  Line(int fd, SSL* tls) : fd_(fd), tls_(tls) {}
  ~Line() {
    if (tls_) SSL_free(tls_);
    if (fd_ >= 0) close(fd_);
  }
  bool Write(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      const int n = tls_ ? SSL_write(tls_, bytes.data() + at, static_cast<int>(bytes.size() - at))
                         : static_cast<int>(write(fd_, bytes.data() + at, bytes.size() - at));
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }
  // Reads until count bytes came; false when the connection ended first.
  bool Read(std::string& got, size_t count) {
    char buffer[16384];
    while (got.size() < count) {
      const int n = tls_ ? SSL_read(tls_, buffer, sizeof buffer)
                         : static_cast<int>(read(fd_, buffer, sizeof buffer));
      if (n <= 0) return false;
      got.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

 private:
  int fd_;
  SSL* tls_;
};

int ConnectNoDelay(int port) {
  const int fd = ConnectLoopback(port);
  const int on = 1;
  if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// A TLS client of port as alice; null when the handshake fails (said on standard error).
std::unique_ptr<Line> TlsClient(int port, const std::string& certs) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_load_verify_locations(context, (certs + "/ca.pem").c_str(), nullptr);
  SSL_CTX_use_certificate_chain_file(context, (certs + "/alice.pem").c_str());
  SSL_CTX_use_PrivateKey_file(context, (certs + "/alice.key").c_str(), SSL_FILETYPE_PEM);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  const int fd = ConnectNoDelay(port);
  SSL* tls = SSL_new(context);
  SSL_CTX_free(context);  // the connection keeps it
  SSL_set_fd(tls, fd);
  if (fd < 0 || SSL_connect(tls) != 1) {
    std::fprintf(stderr, "TLS handshake with port %d failed\n", port);
    ERR_print_errors_fp(stderr);
    SSL_free(tls);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  return std::make_unique<Line>(fd, tls);
}

// The floor: a process of its own that accepts one TLS client with the station's certificate
// and sends back whatever it reads. Returns its port through port and its process id.
pid_t TlsEcho(const std::string& certs, int& port) {
  const int listener = ListenLoopback(0, port);
  const pid_t echo = fork();
  if (echo == 0) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, (certs + "/station.pem").c_str());
    SSL_CTX_use_PrivateKey_file(context, (certs + "/station.key").c_str(), SSL_FILETYPE_PEM);
    const int peer = accept(listener, nullptr, nullptr);
    const int on = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    SSL* tls = SSL_new(context);
    SSL_set_fd(tls, peer);
    if (SSL_accept(tls) != 1) _exit(1);
    char buffer[16384];
    for (;;) {
      const int n = SSL_read(tls, buffer, sizeof buffer);
      if (n <= 0 || SSL_write(tls, buffer, n) <= 0) _exit(0);
    }
  }
  close(listener);
  return echo;
}

struct Latency {
  double median_us = 0, p99_us = 0;
  int failures = 0;
};

// Times one exchange (send, read the whole answer) count times, appending to times.
void Time(Line& line, const std::string& send, const std::string& answer, int count,
          std::vector<double>& times, int& failures) {
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    std::string got;
    if (!line.Write(send) || !line.Read(got, answer.size()) || got != answer) {
      ++failures;
      continue;
    }
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
}

Latency Summarise(std::vector<double> times, int failures) {
  Latency l;
  l.failures = failures;
  if (times.empty()) return l;
  std::sort(times.begin(), times.end());
  l.median_us = times[times.size() / 2];
  l.p99_us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return l;
}

// Commands per second for batches of 1,000 commands written at once, each batch's answers
// read and checked; 0 when an answer was wrong.
double Batches(Line& line, int batches) {
  std::string batch, answers;
  for (int k = 0; k < 1000; ++k) batch += kCommand, answers += kAnswer;
  const auto start = Clock::now();
  for (int b = 0; b < batches; ++b) {
    std::string got;
    if (!line.Write(batch) || !line.Read(got, answers.size()) || got != answers) return 0;
  }
  return 1000.0 * batches / std::chrono::duration<double>(Clock::now() - start).count();
}

void Print(const char* what, const Latency& l) {
  std::printf("%-30s median %8.1f us   p99 %8.1f us   (%d failed)\n", what, l.median_us, l.p99_us,
              l.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int trips = argc > 1 ? std::max(50, atoi(argv[1])) : 2000;
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/velk-tls-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern, certs = dir + "/tls";
  fs::create_directory(certs);
  if (std::system(("sh " VELK_TLS_CERTIFICATES " " + certs + " >/dev/null").c_str()) != 0) {
    std::fprintf(stderr, "cannot make the certificates\n");
    return 1;
  }
  for (const auto& entry : fs::directory_iterator(VELK_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".DRV") || name.ends_with(".LAN")) {
      fs::copy_file(entry.path(), dir + "/" + name);
    }
  }
  std::ofstream(dir + "/Velk_VCP.DDK")
      << "socket: Velk_VCP.sock\ndevice: 1\nfootswitch: 0\ninput: 1\nvalue: 1.234\n";
  // COM5 (slot 1) over TLS, COM6 (slot 2) over plain TCP, every port answering its own client.
  const int tlsPort = FreePort(), plainPort = FreePort();
  std::ofstream(dir + "/Velk_VCP.CFG")
      << "20:5\r\n82:6\r\n40:0\r\n50:0\r\n96:1\r\n1000:1\r\n1001:1\r\n1002:10\r\n"
      << "611:" << tlsPort << "\r\n616:raw\r\n636:1\r\n612:" << plainPort << "\r\n617:raw\r\n"
      << "631:" << certs << "/station.pem\r\n632:" << certs << "/station.key\r\n633:" << certs
      << "/ca.pem\r\n";
  const pid_t server = fork();
  if (server == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("VELK_DDK_LIBRARY", VELK_DDK_SIM, 1);
    unsetenv("VELK_VCP_PORT_DIR");
    if (!freopen("/dev/null", "w", stdout) || !freopen("program.err", "w", stderr)) _exit(127);
    const char* program = getenv("VELK_VCP") ? getenv("VELK_VCP") : VELK_VCP;
    execl(program, "Velk_VCP", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::unique_ptr<Line> tls, plain, echo;
  for (int i = 0; i < 500 && !tls; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (fs::exists(dir + "/ports/COM6")) tls = TlsClient(tlsPort, certs);
  }
  plain = std::make_unique<Line>(ConnectNoDelay(plainPort), nullptr);
  int echoPort = 0;
  const pid_t echoPid = TlsEcho(certs, echoPort);
  echo = TlsClient(echoPort, certs);
  if (!tls || !echo) {
    kill(server, SIGTERM);
    return 1;
  }
  std::vector<double> floorTimes, tlsTimes, plainTimes;
  int floorFailed = 0, tlsFailed = 0, plainFailed = 0;
  for (int done = 0; done < trips; done += 50) {
    Time(*echo, kAnswer, kAnswer, 50, floorTimes, floorFailed);
    Time(*tls, kCommand, kAnswer, 50, tlsTimes, tlsFailed);
    Time(*plain, kCommand, kAnswer, 50, plainTimes, plainFailed);
  }
  const Latency floor = Summarise(floorTimes, floorFailed);
  const Latency overTls = Summarise(tlsTimes, tlsFailed);
  std::printf("%d round trips each, 127.0.0.1\n", trips);
  Print("TLS echo (floor)", floor);
  Print("M1 over TLS", overTls);
  Print("M1 over plain TCP", Summarise(plainTimes, plainFailed));
  std::printf("M1 over TLS / TLS floor (median): %.2fx\n", overTls.median_us / floor.median_us);
  std::printf("batches of 1,000: TLS %.0f commands/s, plain TCP %.0f commands/s\n",
              Batches(*tls, 20), Batches(*plain, 20));
  tls.reset();
  plain.reset();
  echo.reset();
  kill(echoPid, SIGTERM);
  waitpid(echoPid, nullptr, 0);
  kill(server, SIGTERM);
  int status = 0;
  waitpid(server, &status, 0);
  fs::remove_all(dir);
  return 0;
}
