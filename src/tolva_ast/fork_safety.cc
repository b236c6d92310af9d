#include "tolva_ast/fork_safety.h"

#include <pthread.h>

#include <mutex>
#include <new>
#include <string_view>
#include <type_traits>

#include "python_parser/parse.h"
#include "support/fatal_error.h"

namespace tolva_ast {

// The live registrations, in registration order, and the fork handlers that
// walk them. Constant-initialised and never destroyed: no thread can be
// inside its initialisation when the process forks, and detached workers may
// still build and drop caches while the process exits.
class ForkRegistry {
 public:
  constexpr ForkRegistry() = default;

  void add(ForkRegistration& registration) {
    std::lock_guard lock(mutex_);
    registration.previous_ = last_;
    if (last_ != nullptr) {
      last_->next_ = &registration;
    } else {
      first_ = &registration;
    }
    last_ = &registration;
  }

  void remove(ForkRegistration& registration) {
    std::lock_guard lock(mutex_);
    (registration.previous_ != nullptr ? registration.previous_->next_ : first_) = registration.next_;
    (registration.next_ != nullptr ? registration.next_->previous_ : last_) = registration.previous_;
  }

  // The registry's mutex is held from before the fork to after it, so that
  // no cache comes or goes meanwhile; the child makes it anew, as the caches
  // do their locks.
  void before_fork() noexcept {
    mutex_.lock();
    for (ForkRegistration* at = first_; at != nullptr; at = at->next_) at->owner_.before_fork();
  }
  void after_fork_in_parent() noexcept {
    for (ForkRegistration* at = first_; at != nullptr; at = at->next_) at->owner_.after_fork_in_parent();
    mutex_.unlock();
  }
  void after_fork_in_child() noexcept {
    for (ForkRegistration* at = first_; at != nullptr; at = at->next_) at->owner_.after_fork_in_child();
    new (&mutex_) std::mutex;
  }

 private:
  std::mutex mutex_;
  ForkRegistration* first_ = nullptr;  // guarded by mutex_
  ForkRegistration* last_ = nullptr;   // guarded by mutex_
};

static_assert(std::is_trivially_destructible_v<ForkRegistry>, "the registry outlives every worker");

namespace {

constinit ForkRegistry registry;

// The handlers are registered as the library is loaded, before any thread
// can use a cache; a failure is reported by prepare_for_threads() and by
// every registration.
const int fork_handlers_status = pthread_atfork([] { registry.before_fork(); },
                                                [] { registry.after_fork_in_parent(); },
                                                [] { registry.after_fork_in_child(); });

constexpr std::string_view kHandlersFailed = "failed to register the fork handlers of the caches";

}  // namespace

std::optional<std::string> fork_handlers_error() {
  if (fork_handlers_status == 0) return std::nullopt;
  return std::string(kHandlersFailed);
}

std::optional<std::string> prepare_for_threads() {
  if (std::optional<std::string> error = fork_handlers_error()) return error;
  return python_parser::prepare_for_threads();
}

ForkRegistration::ForkRegistration(ForkAware& owner) : owner_(owner) {
  tolva::check(fork_handlers_status == 0, kHandlersFailed);
  registry.add(*this);
}

ForkRegistration::~ForkRegistration() { registry.remove(*this); }

}  // namespace tolva_ast
