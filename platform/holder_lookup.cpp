#include "holder_lookup.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>

namespace {

constexpr int kWineServerRetries = 20;
constexpr std::chrono::milliseconds kWineServerPause{50};

// One thread for every port's lookups, started at the first; it lives as long as the process
// (an exec or exit ends it wherever it is: it holds nothing but its own memory).
class LookupThread {
 public:
  void Post(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    ++posted_;
    if (!started_) {
      started_ = true;
      std::thread([this] { Run(); }).detach();
    }
    wake_.notify_one();
  }
  bool WaitIdle(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return finished_ == posted_; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !jobs_.empty(); });
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      ++finished_;
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::function<void()>> jobs_;
  unsigned long posted_ = 0, finished_ = 0;
  bool started_ = false;
};

LookupThread& Thread() {
  // Never destroyed: the detached thread may still use it while the process exits.
  static LookupThread* thread = new LookupThread;
  return *thread;
}

}  // namespace

void HolderLookup::Start(const std::string& device_path) {
  auto result = std::make_shared<Result>();
  result_ = result;
  Thread().Post([result, device_path] {
    std::optional<PortHolder> found;
    // A look-up that fails (out of memory, a process that ends as it is read) finds nobody:
    // the station serves on without the holder's name.
    try {
      found = FindPortHolder(device_path);
      // Wine's server opens the device before it hands it to its program: found alone at
      // first, it is asked about again for a moment, until the program holds the port too.
      for (int again = 0;
           again < kWineServerRetries && found && found->program.rfind("wineserver", 0) == 0;
           ++again) {
        std::this_thread::sleep_for(kWineServerPause);
        found = FindPortHolder(device_path);
      }
    } catch (...) {
      found.reset();
    }
    std::lock_guard lock(result->mutex);
    result->holder = std::move(found);
    result->done = true;
  });
}

bool HolderLookup::Done() const {
  if (!result_) return false;
  std::lock_guard lock(result_->mutex);
  return result_->done;
}

std::optional<PortHolder> HolderLookup::holder() const {
  if (!result_) return std::nullopt;
  std::lock_guard lock(result_->mutex);
  return result_->holder;
}

bool WaitForHolderLookups(int timeout_ms) { return Thread().WaitIdle(timeout_ms); }
