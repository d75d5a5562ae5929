// Slots connected and disconnected in a loop from many threads at once, each thread owning
// its own slots: every exchange in between must give the peer's answer.
#pragma once

#include <chrono>
#include <cstdint>

#include "lan_control_library.h"

namespace velk::lan::testing {

struct SoakCounts {
  long connects = 0;
  long exchanges = 0;
  long failures = 0;  // failed connects and wrong or missing answers
};

// Runs threads threads over the slots 0..99 (slot s belongs to thread s % threads) against
// peer for the given time, then closes every slot.
SoakCounts RunSoak(const LanControlLibrary& lib, QentrixPeer& peer, int threads,
                   std::chrono::milliseconds duration);

}  // namespace velk::lan::testing
