#include "python_parser/parser/depth_guard.h"

#include <pthread.h>

namespace python_parser {

namespace {

std::uintptr_t compute_stack_floor() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* low = nullptr;
  std::size_t size = 0;
  int status = pthread_attr_getstack(&attributes, &low, &size);
  pthread_attr_destroy(&attributes);
  if (status != 0 || low == nullptr || size == 0) return 0;
  // A stack smaller than twice the margin keeps a quarter of itself back.
  std::size_t margin = size > 2 * kStackMargin ? kStackMargin : size / 4;
  return reinterpret_cast<std::uintptr_t>(low) + margin;
}

}  // namespace

std::uintptr_t stack_floor_of_current_thread() {
  // A thread's stack never moves; trivially destructible, so threads that
  // outlive static destruction are fine.
  thread_local std::uintptr_t floor = 0;
  thread_local bool known = false;
  if (!known) {
    floor = compute_stack_floor();
    known = true;
  }
  return floor;
}

}  // namespace python_parser
