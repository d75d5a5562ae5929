// Windows threads, slim reader/writer locks and condition variables behind the library's
// thread primitives (see thread_primitives.h).
#pragma once

#include <windows.h>

#include <cstdint>

namespace velk::lan {

inline int64_t NowMs() { return static_cast<int64_t>(GetTickCount64()); }

inline void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }

 private:
  friend class CondVar;
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void NotifyAll() { WakeAllConditionVariable(&cond_); }
  void Wait(Mutex& mutex) { SleepConditionVariableSRW(&cond_, &mutex.lock_, INFINITE, 0); }
  void WaitUntil(Mutex& mutex, int64_t deadline_ms) {
    const int64_t left = deadline_ms - NowMs();
    if (left <= 0) return;
    SleepConditionVariableSRW(&cond_, &mutex.lock_, static_cast<DWORD>(left), 0);
  }

 private:
  CONDITION_VARIABLE cond_ = CONDITION_VARIABLE_INIT;
};

class Thread {
 public:
  // Starts `body(argument)`. The thread holds a reference to this library's module and drops
  // it as its last act, so unloading the library while the thread runs leaves the code in
  // place until the thread has ended.
  bool Start(void (*body)(int), int argument) {
    body_ = body;
    argument_ = argument;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&Thread::Main), &self)) {
      return false;
    }
    module_ = self;
    handle_ = CreateThread(nullptr, 0, &Thread::Main, this, 0, nullptr);
    if (handle_ == nullptr) {
      FreeLibrary(self);
      return false;
    }
    return true;
  }
  void Join() {
    if (handle_ == nullptr) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  // At unload: the thread holds its own reference to the module, so its code stays in place
  // until it ends; forget it without waiting (the loader lock may be held here).
  void ReleaseOnUnload(int64_t) {
    if (handle_ == nullptr) return;
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  bool Running() const { return handle_ != nullptr; }

 private:
  static DWORD WINAPI Main(void* self) {
    const Thread& thread = *static_cast<Thread*>(self);
    const HMODULE module = thread.module_;
    thread.body_(thread.argument_);
    FreeLibraryAndExitThread(module, 0);
    return 0;
  }

  HANDLE handle_ = nullptr;
  HMODULE module_ = nullptr;
  void (*body_)(int) = nullptr;
  int argument_ = 0;
};

}  // namespace velk::lan
