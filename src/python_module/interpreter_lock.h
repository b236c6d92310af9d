#pragma once

// Running native work without the interpreter lock.
//
// Releasing the lock lets other Python threads run while a call works, but it
// is not free: taking the lock back waits for whichever Python threads got it
// meanwhile, and a thread running Python code keeps it for up to the switch
// interval (5 ms by default). Measured from Python on a call that takes 50 ns
// with the lock held: releasing and re-taking costs about 25 ns while no other
// Python thread runs, but 15 us and more once other threads are busy; and a
// 65 us to_snake_case call on 16 KiB took 15 ms with three threads in busy
// loops when it released the lock, 65 us when it kept it. The utilities take
// well under a microsecond on the inputs they are made for, so they keep the
// lock and release it only on inputs whose work is of the order of the switch
// interval itself.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <utility>

namespace python_module {

// Input size, in bytes, from which a utility releases the interpreter lock.
// The utilities cost 1.5 to 20 ns per input byte (measured from Python, the
// call included), so below 256 KiB a call holds the lock for at most a few
// milliseconds: no longer than the interpreter lets any thread run Python
// code, so no other thread waits longer than it would anyway. Above it the
// work is long enough to be worth the wait to take the lock back. Real
// dates, durations and class names are a few dozen bytes.
inline constexpr std::size_t kReleaseLockMinInputBytes = 256 * 1024;

// Releases the interpreter lock for its lifetime when `release` is true. The
// destructor takes the lock back, also when the work throws, so that the
// boundary's exception handler runs with the lock held. No Python object may
// be touched inside the scope while the lock is released.
class UnlockedScope {
 public:
  explicit UnlockedScope(bool release) noexcept : saved_(release ? PyEval_SaveThread() : nullptr) {}
  UnlockedScope(const UnlockedScope&) = delete;
  UnlockedScope& operator=(const UnlockedScope&) = delete;
  ~UnlockedScope() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }

  bool released() const noexcept { return saved_ != nullptr; }

 private:
  PyThreadState* saved_;
};

// Runs `work` (pure native code that touches no Python object), without the
// interpreter lock when `input_bytes` reaches kReleaseLockMinInputBytes.
template <class Work>
decltype(auto) run_native(std::size_t input_bytes, Work&& work) {
  UnlockedScope scope(input_bytes >= kReleaseLockMinInputBytes);
  return std::forward<Work>(work)();
}

// Runs `work` (native code that touches no Python object) without the
// interpreter lock, whatever its size: for file reading, parsing and
// analysis, whose cost is not bounded by the size of the arguments.
template <class Work>
decltype(auto) run_unlocked(Work&& work) {
  UnlockedScope scope(true);
  return std::forward<Work>(work)();
}

// Releases the interpreter lock on the first call of `release()` and takes it
// back when the scope ends (also when the work throws), for work that decides
// by itself whether it will block: a project-index lookup calls `release()`
// just before it first reads, parses or analyses a file or waits for another
// thread, and a lookup that finds everything ready keeps the lock. Must be
// used on the thread that holds the lock; no Python object may be touched
// after `release()` until the scope ends.
class UnlockOnDemand {
 public:
  UnlockOnDemand() noexcept = default;
  UnlockOnDemand(const UnlockOnDemand&) = delete;
  UnlockOnDemand& operator=(const UnlockOnDemand&) = delete;
  ~UnlockOnDemand() {
    if (saved_ != nullptr) PyEval_RestoreThread(saved_);
  }

  void release() noexcept {
    if (saved_ == nullptr) saved_ = PyEval_SaveThread();
  }
  bool released() const noexcept { return saved_ != nullptr; }

 private:
  PyThreadState* saved_ = nullptr;
};

}  // namespace python_module
