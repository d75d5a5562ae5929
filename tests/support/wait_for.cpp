#include "wait_for.h"

#include <thread>

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit,
             std::chrono::milliseconds every) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(every);
  }
  return true;
}
