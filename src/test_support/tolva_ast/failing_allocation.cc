#include "test_support/tolva_ast/failing_allocation.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// The allocations still to succeed on this thread, or -1: unarmed.
thread_local int allocations_before_failure = -1;
// The bytes handed out on this thread.
thread_local std::size_t bytes_allocated = 0;

}  // namespace

namespace tolva_ast::testing {

void fail_allocations_after(int count) noexcept { allocations_before_failure = count; }
void stop_failing_allocations() noexcept { allocations_before_failure = -1; }
std::size_t bytes_allocated_on_this_thread() noexcept { return bytes_allocated; }

}  // namespace tolva_ast::testing

// The whole non-aligned family is replaced, so that every pointer from one
// of these reaches a matching release (a sanitizer's own allocator would
// otherwise pair its operator new with this free).
void* operator new(std::size_t size) {
  if (allocations_before_failure == 0) throw std::bad_alloc();
  if (allocations_before_failure > 0) --allocations_before_failure;
  bytes_allocated += size;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return ::operator new(size, std::nothrow); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
