#pragma once

// Test support: the test executable's global operator new, which fails on
// demand on the calling thread, to show what a failed allocation leaves
// behind, and counts the bytes it hands out on each thread, to bound what a
// step allocates. Unarmed, it is plain malloc.

#include <cstddef>

namespace tolva_ast::testing {

// The calling thread's next `count` allocations succeed, every later one
// throws std::bad_alloc, until stop_failing_allocations().
void fail_allocations_after(int count) noexcept;
void stop_failing_allocations() noexcept;

// The bytes that operator new has handed out on the calling thread so far
// (released ones included): the difference across a step is what it
// allocated.
std::size_t bytes_allocated_on_this_thread() noexcept;

}  // namespace tolva_ast::testing
