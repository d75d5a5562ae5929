// A worker thread that waits in poll() and can be told to end: its loop polls wake_descriptor()
// beside its own descriptors and returns once that becomes readable.
#pragma once

#include <functional>
#include <string>
#include <thread>

class WakeableThread {
 public:
  WakeableThread() = default;
  WakeableThread(const WakeableThread&) = delete;
  WakeableThread& operator=(const WakeableThread&) = delete;
  ~WakeableThread() { Stop(); }

  // Starts body on a new thread (stopping a running one first). Returns false, with the
  // reason in error, when the wake-up descriptor cannot be made; no thread runs then.
  bool Start(std::function<void()> body, std::string& error);
  // Wakes the thread, waits for body to return and closes the wake-up descriptor; nothing
  // when no thread runs.
  void Stop();
  // Readable once Stop was called; -1 while no thread runs.
  int wake_descriptor() const { return wake_fd_; }

 private:
  int wake_fd_ = -1;
  std::thread thread_;
};
