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
#include <optional>
#include <type_traits>
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

// Takes the interpreter lock back for `saved` (what PyEval_SaveThread gave),
// in ordinary code: never from a destructor, which could not let the thread
// end. A thread that comes back while the interpreter is finalising must not
// run again: CPython up to 3.13 ends it inside PyEval_RestoreThread with
// pthread_exit, a forced unwind, and 3.14 parks it there for ever. Here the
// forced unwind stops at once and the thread parks for ever too, as 3.14
// does, so that none of the caller's frames runs its cleanups without the
// interpreter lock (they may release Python objects). The thread holds no
// lock of the caches at that moment: every caller takes the interpreter lock
// back only once its native work is over.
void take_back(PyThreadState* saved);

// For work that decides by itself whether it will block: runs
// `work(release)`, where calling `release()` releases the interpreter lock
// (the first call; later ones do nothing). A project-index lookup calls it
// just before it first reads, parses or analyses a file or waits for another
// thread, and a lookup that finds everything ready keeps the lock. The lock
// is taken back, if it was released, before the result or the exception
// leaves. No Python object may be touched after `release()`.
template <class Work>
auto run_unlocking_on_demand(Work&& work) {
  PyThreadState* saved = nullptr;
  const auto release = [&saved] {
    if (saved == nullptr) saved = PyEval_SaveThread();
  };
  using Result = std::invoke_result_t<Work, decltype(release)&>;
  std::optional<Result> result;
  try {
    result.emplace(std::forward<Work>(work)(release));
  } catch (...) {
    if (saved != nullptr) take_back(saved);
    throw;
  }
  if (saved != nullptr) take_back(saved);
  return std::move(*result);
}

// Runs `work` (pure native code that touches no Python object, returning a
// value), without the interpreter lock when `release` is true.
template <class Work>
auto run_maybe_unlocked(bool release, Work&& work) {
  if (!release) return std::forward<Work>(work)();
  return run_unlocking_on_demand([&](auto& release_lock) {
    release_lock();
    return std::forward<Work>(work)();
  });
}

// Runs `work` without the interpreter lock when `input_bytes` reaches
// kReleaseLockMinInputBytes.
template <class Work>
auto run_native(std::size_t input_bytes, Work&& work) {
  return run_maybe_unlocked(input_bytes >= kReleaseLockMinInputBytes, std::forward<Work>(work));
}

// Runs `work` without the interpreter lock, whatever its size: for file
// reading, parsing and analysis, whose cost is not bounded by the size of
// the arguments.
template <class Work>
auto run_unlocked(Work&& work) {
  return run_maybe_unlocked(true, std::forward<Work>(work));
}

}  // namespace python_module
