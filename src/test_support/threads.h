#pragma once

// Threads in tests: running a test body on a thread with a stack of a chosen
// size (deep-nesting tests show that the parser stays within a small stack),
// a one-shot gate between threads, and waiting for a condition. The waits
// are hang guards, never measures: their bound only turns a broken
// test subject into a failure instead of a hung run, so it is far beyond
// what the slowest machine and sanitizer take.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

namespace test_support {

// Runs `body` on a new thread with a stack of `stack_size` bytes and waits
// for it; an exception of `body` is rethrown here, and a thread that cannot
// be started is a test failure.
void run_on_thread(std::size_t stack_size, const std::function<void()>& body);

// How long a test waits for another thread before it fails.
inline constexpr std::chrono::seconds kHangGuard{120};

// A one-shot gate: wait() returns true once open() was called, false when
// the hang guard runs out first.
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Polls `done` until it answers true (true) or the hang guard runs out
// (false).
template <class Done>
bool eventually(Done&& done) {
  const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace test_support
