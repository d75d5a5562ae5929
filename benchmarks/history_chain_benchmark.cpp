// Value events a second the value history sustains on a real file (the writer with its keyed hash
// chain, fed through the ring as the serving thread feeds it), beside the chain's hashing alone
// over the same rows: the share of the writer's time that the chain takes.
//
// Usage: velk_history_benchmark [events]   (200,000 by default)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "record_chain.h"
#include "value_history.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const long events = argc > 1 ? std::atol(argv[1]) : 200000;
  char folder[] = "/tmp/velk-history-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  HistoryOptions options;
  options.path = std::string(folder) + "/" + kHistoryFileName;
  ValueEventRing ring(static_cast<size_t>(events) + 1);
  std::string error;
  auto history = ValueHistory::Open(options, ring, error);
  if (!history) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string text = "10:+0001.234\r\n";
  // Each event described as the engine describes it: a name, a unit and two limits.
  const GaugeLabel* label = InternGaugeLabel("Caliper", "mm");
  const ValueLimits limits{1.25, std::nullopt, std::nullopt, 1.2};
  const auto start = Clock::now();
  for (long k = 0; k < events; ++k) {
    const SentValue v{1,
                      5,
                      "4711 python3",
                      1,
                      static_cast<int>(k % 8) + 1,
                      1.234,
                      text,
                      ValueStatus::Valid,
                      ValueCause::Request,
                      label,
                      limits};
    if (!ring.Add(v)) {
      ring.Publish(1796800000000 + k);
      ring.Add(v);
    }
    if (k % 100 == 99) ring.Publish(1796800000000 + k);
  }
  ring.Publish(1796800000000 + events);
  while (history->Figures().written < static_cast<uint64_t>(events)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double written = std::chrono::duration<double>(Clock::now() - start).count();
  history.reset();

  ChainKey key(std::string(32, 'k'));
  std::string hash;
  const auto hashing = Clock::now();
  for (long k = 0; k < events; ++k) {
    ChainRow row{k + 1,       1796800000000 + k,
                 "line3",     1,
                 "COM5",      "4711 python3",
                 1,           static_cast<int>(k % 8) + 1,
                 1.234,       text,
                 "valid",     "request",
                 true,        label->name,
                 label->unit, limits};
    hash = key.RowHash(hash, row);
  }
  const double hashed = std::chrono::duration<double>(Clock::now() - hashing).count();
  std::printf("history with the chain: %.0f events/s\n", events / written);
  std::printf("chain hashing alone:    %.0f events/s\n", events / hashed);
  std::printf("share of the writer's time the chain takes: %.1f %%\n", 100.0 * hashed / written);
  fs::remove_all(folder);
  return 0;
}
