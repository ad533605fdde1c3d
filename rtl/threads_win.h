// rtl/threads_win.h
// The one thread toolkit: Win32's own threads, slim reader/writer locks and condition
// variables. Not std::thread: it cannot choose a thread's stack, and a pool of stamping threads
// on the default one costs megabytes for a walk that needs kilobytes.
#pragma once
#include <windows.h>

#include <cstddef>
#include <exception>
#include <functional>

#include "rtl/files_win.h"

namespace rtl {

class TLock {
 public:
  TLock() = default;
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;
  void Lock() { AcquireSRWLockExclusive(&lock_); }
  void Unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* get() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class TLocked {
 public:
  explicit TLocked(TLock& lock) : lock_(lock) { lock_.Lock(); }
  ~TLocked() { lock_.Unlock(); }
  TLocked(const TLocked&) = delete;
  TLocked& operator=(const TLocked&) = delete;

 private:
  TLock& lock_;
};

class TCondition {
 public:
  TCondition() = default;
  TCondition(const TCondition&) = delete;
  TCondition& operator=(const TCondition&) = delete;
  // Called with lock held; it is held again on return.
  void Wait(TLock& lock) { SleepConditionVariableSRW(&cv_, lock.get(), INFINITE, 0); }
  void WakeOne() { WakeConditionVariable(&cv_); }
  void WakeAll() { WakeAllConditionVariable(&cv_); }

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

// A thread running one function. Whatever the function throws is kept for Join: nothing leaves
// a thread's entry point (std::terminate would end the program).
class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  ~TThread() { Join(); }

  // stackReserve: the address space kept for the stack, 0 for the program's default. False
  // when the system made no thread.
  bool Start(std::function<void()> work, std::size_t stackReserve);
  bool Running() const { return handle_.valid(); }
  // Waits for the thread, if one runs; returns what its function threw, if anything.
  std::exception_ptr Join();

 private:
  static DWORD WINAPI Entry(void* self);
  std::function<void()> work_;
  std::exception_ptr error_;
  FileHandle handle_;
};

}  // namespace rtl
