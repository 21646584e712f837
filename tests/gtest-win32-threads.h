// GoogleTest's thread-safe build wants std::mutex and
// std::condition_variable, which mingw's win32 thread model lacks. These
// minimal stand-ins over the Windows primitives serve its one use of them.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <mutex>

#if !defined(_GLIBCXX_HAS_GTHREADS)
namespace std {

class mutex {
 public:
  mutex() { InitializeSRWLock(&lock_); }
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_;
};

class condition_variable {
 public:
  condition_variable() { InitializeConditionVariable(&condition_); }
  condition_variable(const condition_variable&) = delete;
  condition_variable& operator=(const condition_variable&) = delete;
  void notify_one() { WakeConditionVariable(&condition_); }
  void notify_all() { WakeAllConditionVariable(&condition_); }
  void wait(unique_lock<mutex>& lock) {
    SleepConditionVariableSRW(&condition_, lock.mutex()->native(), INFINITE, 0);
  }
  template <typename Predicate>
  void wait(unique_lock<mutex>& lock, Predicate ready) {
    while (!ready())
      wait(lock);
  }

 private:
  CONDITION_VARIABLE condition_;
};

}  // namespace std
#endif
#endif
