#include "test_support/threads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <exception>

namespace test_support {

void run_on_thread(std::size_t stack_size, const std::function<void()>& body) {
  struct Context {
    const std::function<void()>* body;
    std::exception_ptr failure;
  } context{&body, nullptr};
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stack_size), 0);
  pthread_t thread;
  auto entry = [](void* raw) -> void* {
    auto* ctx = static_cast<Context*>(raw);
    try {
      (*ctx->body)();
    } catch (...) {
      ctx->failure = std::current_exception();
    }
    return nullptr;
  };
  int started = pthread_create(&thread, &attributes, entry, &context);
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(started, 0) << "no thread with a stack of " << stack_size << " bytes";
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  if (context.failure) std::rethrow_exception(context.failure);
}

}  // namespace test_support
