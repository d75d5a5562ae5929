// Locks, condition variables, threads and the monotonic clock of the library. Each platform
// provides the classes declared here in its own header (posix/ or windows/, chosen by the
// build through the include path):
//
//   class Mutex       lock(), unlock(), try_lock() -> bool
//   class CondVar     NotifyAll(); Wait(Mutex&); WaitUntil(Mutex&, int64_t deadline_ms)
//                     (the mutex held; wakes spuriously, callers check their condition)
//   class Thread      Start(void (*)(int), int) -> bool (false: not started); Join()
//                     (waits for the thread's end; nothing when not started); Running();
//                     ReleaseOnUnload(int64_t deadline_ms) (at library unload: forgets the
//                     thread, waiting only as long as the platform needs to keep its code
//                     mapped, and never past the deadline)
//   int64_t NowMs()   milliseconds of a monotonic clock
//   void SleepMs(int)
#pragma once

#include "platform_thread_primitives.h"

namespace velk::lan {

// Holds a Mutex for its lifetime.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~ScopedLock() { mutex_.unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace velk::lan
