#pragma once

// Running a test body on a thread with a stack of a chosen size: deep-nesting
// tests show that the parser stays within a small stack.

#include <cstddef>
#include <functional>

namespace test_support {

// Runs `body` on a new thread with a stack of `stack_size` bytes and waits
// for it; an exception of `body` is rethrown here, and a thread that cannot
// be started is a test failure.
void run_on_thread(std::size_t stack_size, const std::function<void()>& body);

}  // namespace test_support
