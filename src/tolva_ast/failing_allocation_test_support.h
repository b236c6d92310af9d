#pragma once

// Test support: the test executable's global operator new, which fails on
// demand on the calling thread, to show what a failed allocation leaves
// behind. Unarmed, it is plain malloc.

namespace tolva_ast::testing {

// The calling thread's next `count` allocations succeed, every later one
// throws std::bad_alloc, until stop_failing_allocations().
void fail_allocations_after(int count) noexcept;
void stop_failing_allocations() noexcept;

}  // namespace tolva_ast::testing
