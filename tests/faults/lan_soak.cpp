#include "lan_soak.h"

#include <atomic>
#include <thread>
#include <vector>

namespace velk::lan::testing {

SoakCounts RunSoak(const LanControlLibrary& lib, QentrixPeer& peer, int threads,
                   std::chrono::milliseconds duration) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  std::atomic<long> connects{0}, exchanges{0}, failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (long round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
        for (int slot = t; slot < 100; slot += threads) {
          const auto s = static_cast<int16_t>(slot);
          if (lib.Control_Init(s, "127.0.0.1", peer.port()) != 0) {
            ++failures;
            continue;
          }
          ++connects;
          // Every other round the slot is closed straight away, with its reader just started.
          if (round % 2 == 0) {
            const auto c = static_cast<int16_t>((slot + round) % 128 + 1);
            double value = 0;
            if (lib.Control_GetActCharValue(s, c, &value) != 0 || value != c + 0.25) ++failures;
            ++exchanges;
          }
          lib.Control_DeInit(s);
        }
        if (t == 0 && round % 64 == 0) peer.ClearRequests();
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return {connects.load(), exchanges.load(), failures.load()};
}

}  // namespace velk::lan::testing
