// velk-lan-soak: connects and disconnects the 100 slots of the LAN control library from many
// threads against the test peer on 127.0.0.1 for a while (default a minute), for a run under
// ThreadSanitizer by hand. Usage: velk-lan-soak [seconds [threads]]. Exit status 0 when every
// connect and exchange succeeded.
#include <cstdio>
#include <cstdlib>

#include "lan_soak.h"

int main(int argc, char** argv) {
  using namespace velk::lan::testing;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 20;
  if (seconds < 1 || threads < 1 || threads > 100) {
    std::fprintf(stderr, "usage: velk-lan-soak [seconds [threads 1..100]]\n");
    return 2;
  }
  const LanControlLibrary& lib = LanControlLibrary::Get();
  QentrixPeer peer;
  if (lib.handle == nullptr || !peer.Start()) {
    std::fprintf(stderr, "velk-lan-soak: no library or no peer\n");
    return 1;
  }
  const SoakCounts counts = RunSoak(lib, peer, threads, std::chrono::seconds(seconds));
  std::printf("%d s, %d threads: %ld connects, %ld exchanges, %ld failures, %zu connections left\n",
              seconds, threads, counts.connects, counts.exchanges, counts.failures,
              peer.WaitForConnections(0, std::chrono::seconds(5)) ? 0 : peer.OpenConnections());
  return counts.failures == 0 ? 0 : 1;
}
