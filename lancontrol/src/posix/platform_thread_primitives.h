// POSIX threads behind the library's thread primitives (see thread_primitives.h). Locks and
// condition variables are never destroyed: they live in static tables that a thread still
// ending at process exit may touch.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cstdint>

namespace velk::lan {

inline int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

inline void SleepMs(int ms) {
  timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }
  bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }

 private:
  friend class CondVar;
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

class CondVar {
 public:
  CondVar() {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&cond_, &attributes);
    pthread_condattr_destroy(&attributes);
  }
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void NotifyAll() { pthread_cond_broadcast(&cond_); }
  void Wait(Mutex& mutex) { pthread_cond_wait(&cond_, &mutex.mutex_); }
  void WaitUntil(Mutex& mutex, int64_t deadline_ms) {
    const timespec deadline{static_cast<time_t>(deadline_ms / 1000),
                            static_cast<long>(deadline_ms % 1000) * 1000000};
    pthread_cond_timedwait(&cond_, &mutex.mutex_, &deadline);
  }

 private:
  pthread_cond_t cond_;
};

class Thread {
 public:
  // Starts `body(argument)` with every signal blocked, so the caller's signal handlers never
  // run on it.
  bool Start(void (*body)(int), int argument) {
    body_ = body;
    argument_ = argument;
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    running_ = pthread_create(&thread_, nullptr, &Thread::Main, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return running_;
  }
  void Join() {
    if (!running_) return;
    pthread_join(thread_, nullptr);
    running_ = false;
  }
  // At unload: waits until `deadline_ms` (NowMs clock) for the thread, asked to stop before,
  // to end, so that its code is not unmapped under it; a thread that does not end is detached.
  void ReleaseOnUnload(int64_t deadline_ms) {
    if (!running_) return;
    const int64_t left_ms = deadline_ms > NowMs() ? deadline_ms - NowMs() : 0;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const int64_t nanoseconds = deadline.tv_nsec + left_ms % 1000 * 1000000;
    deadline.tv_sec += static_cast<time_t>(left_ms / 1000 + nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    if (pthread_timedjoin_np(thread_, nullptr, &deadline) != 0) pthread_detach(thread_);
    running_ = false;
  }
  bool Running() const { return running_; }

 private:
  static void* Main(void* self) {
    const Thread& thread = *static_cast<Thread*>(self);
    thread.body_(thread.argument_);
    return nullptr;
  }

  pthread_t thread_{};
  void (*body_)(int) = nullptr;
  int argument_ = 0;
  bool running_ = false;
};

}  // namespace velk::lan
