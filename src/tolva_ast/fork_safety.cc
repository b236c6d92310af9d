#include "tolva_ast/fork_safety.h"

#include <pthread.h>

#include <mutex>
#include <new>

#include "support/fatal_error.h"

namespace tolva_ast {

// The live registrations, in registration order, and the fork handlers that
// walk them. Made on first use and never destroyed: detached workers may
// still build and drop caches while the process exits.
class ForkRegistry {
 public:
  static ForkRegistry& instance() {
    static ForkRegistry* const registry = new ForkRegistry;
    return *registry;
  }

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

 private:
  ForkRegistry() {
    const int status = pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child);
    tolva::check(status == 0, "failed to register the fork handlers of the caches");
  }

  // The registry's mutex is held from before the fork to after it, so that
  // no cache comes or goes meanwhile; the child makes it anew, as the caches
  // do their locks.
  static void before_fork() noexcept {
    ForkRegistry& registry = instance();
    registry.mutex_.lock();
    for (ForkRegistration* at = registry.first_; at != nullptr; at = at->next_) at->owner_.before_fork();
  }
  static void after_fork_in_parent() noexcept {
    ForkRegistry& registry = instance();
    for (ForkRegistration* at = registry.first_; at != nullptr; at = at->next_) at->owner_.after_fork_in_parent();
    registry.mutex_.unlock();
  }
  static void after_fork_in_child() noexcept {
    ForkRegistry& registry = instance();
    for (ForkRegistration* at = registry.first_; at != nullptr; at = at->next_) at->owner_.after_fork_in_child();
    new (&registry.mutex_) std::mutex;
  }

  std::mutex mutex_;
  ForkRegistration* first_ = nullptr;  // guarded by mutex_
  ForkRegistration* last_ = nullptr;   // guarded by mutex_
};

ForkRegistration::ForkRegistration(ForkAware& owner) : owner_(owner) { ForkRegistry::instance().add(*this); }

ForkRegistration::~ForkRegistration() { ForkRegistry::instance().remove(*this); }

}  // namespace tolva_ast
