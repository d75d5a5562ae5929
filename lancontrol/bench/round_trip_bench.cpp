// velk-qentrix-bench [ROUNDS]: request round trips of Control_GetActCharValue against the
// test peer on 127.0.0.1, beside a raw TCP ping-pong of the same sizes to the same peer as
// the floor; for one slot, and for 100 slots used from 100 threads. Prints the median and
// 99th percentile latency and the requests per second of each case.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "qentrix_peer.h"
#include "velk_qentrix_control.h"

namespace {

using Clock = std::chrono::steady_clock;
using velk::lan::testing::QentrixPeer;

constexpr int16_t kCharacteristic = 7;
constexpr int kWarmUp = 50;

// One connection sending the request bytes of Control_GetActCharValue and reading the line.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { close(fd_); }
  bool ok() const { return ok_; }

  bool RoundTrip() {
    const unsigned char request[3] = {3, 1, kCharacteristic};
    if (send(fd_, request, sizeof request, MSG_NOSIGNAL) != 3) return false;
    char answer[128];
    std::size_t have = 0;
    while (have < sizeof answer) {
      const ssize_t got = recv(fd_, answer + have, sizeof answer - have, 0);
      if (got <= 0) return false;
      have += static_cast<std::size_t>(got);
      if (answer[have - 1] == '\r') return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

struct Figures {
  double median_us = 0;
  double p99_us = 0;
  double per_second = 0;
  long failures = 0;
};

// Runs `threads` workers, each doing `rounds` timed calls of its round trip.
Figures Measure(int threads, int rounds, const std::function<std::function<bool()>(int)>& make) {
  std::vector<std::vector<double>> latencies(static_cast<std::size_t>(threads));
  std::atomic<long> failures{0};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  Clock::time_point start;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      std::function<bool()> round_trip = make(t);
      for (int i = 0; i < kWarmUp; ++i) round_trip();
      std::vector<double>& mine = latencies[static_cast<std::size_t>(t)];
      mine.reserve(static_cast<std::size_t>(rounds));
      ++ready;
      while (!go) std::this_thread::yield();
      for (int i = 0; i < rounds; ++i) {
        const Clock::time_point before = Clock::now();
        if (!round_trip()) ++failures;
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
      }
    });
  }
  while (ready < threads) std::this_thread::yield();
  start = Clock::now();
  go = true;
  for (std::thread& worker : workers) worker.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::vector<double> all;
  for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  Figures figures;
  figures.median_us = all[all.size() / 2];
  figures.p99_us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  figures.per_second = static_cast<double>(all.size()) / seconds;
  figures.failures = failures;
  return figures;
}

void Print(const char* name, const Figures& figures) {
  std::printf("%-38s %10.1f %10.1f %12.0f %8ld\n", name, figures.median_us, figures.p99_us,
              figures.per_second, figures.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
  const int many_rounds = std::max(1, rounds / 10);
  QentrixPeer peer;
  if (!peer.Start()) {
    std::fprintf(stderr, "velk-qentrix-bench: cannot start the peer\n");
    return 1;
  }
  const uint16_t port = peer.port();
  for (int16_t slot = 0; slot < 100; ++slot) {
    if (Control_Init(slot, "127.0.0.1", port) != 0) {
      std::fprintf(stderr, "velk-qentrix-bench: slot %d does not connect\n", slot);
      return 1;
    }
  }

  std::vector<std::unique_ptr<RawClient>> raw;
  for (int i = 0; i < 100; ++i) raw.push_back(std::make_unique<RawClient>(port));
  const auto raw_round_trip = [&](int t) -> std::function<bool()> {
    RawClient* client = raw[static_cast<std::size_t>(t)].get();
    return [client] { return client->ok() && client->RoundTrip(); };
  };
  const auto library_round_trip = [](int t) -> std::function<bool()> {
    const auto slot = static_cast<int16_t>(t);
    return [slot] {
      double value = 0;
      return Control_GetActCharValue(slot, kCharacteristic, &value) == 0 && value == 7.25;
    };
  };

  std::printf("%-38s %10s %10s %12s %8s\n", "case", "median_us", "p99_us", "requests/s", "failed");
  Print("raw TCP ping-pong, 1 connection", Measure(1, rounds, raw_round_trip));
  Print("Control_GetActCharValue, 1 slot", Measure(1, rounds, library_round_trip));
  Print("raw TCP ping-pong, 100 conns/threads", Measure(100, many_rounds, raw_round_trip));
  Print("Control_GetActCharValue, 100 slots/threads",
        Measure(100, many_rounds, library_round_trip));

  for (int16_t slot = 0; slot < 100; ++slot) Control_DeInit(slot);
  return 0;
}
