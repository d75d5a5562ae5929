#include "wakeable_thread.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

bool WakeableThread::Start(std::function<void()> body, std::string& error) {
  Stop();
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    error = std::string("cannot make a wake-up descriptor: ") + strerror(errno);
    return false;
  }
  thread_ = std::thread(std::move(body));
  return true;
}

void WakeableThread::Stop() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
    thread_.join();
  }
  if (wake_fd_ >= 0) close(wake_fd_);
  wake_fd_ = -1;
}
