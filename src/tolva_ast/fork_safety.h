#pragma once

// The caches across fork().
//
// A forked child holds one thread, the one that called fork(). Any lock that
// another thread held at that moment stays held in the child for ever, and
// any outcome it was computing is never finished there. So every live cache
// takes part in the process's fork handlers (pthread_atfork): before the
// fork it holds what keeps its structure from changing, waiting only for
// locks that are held for a lookup or an insertion, never for a computation;
// after it, the parent lets go and goes on, and the child makes the cache's
// locks anew and sends every outcome that was in flight back to "not
// computed", so that the first request in the child computes it. The child
// thus answers what the parent would, and never waits for a thread it does
// not have. (once_cache.h holds the details.)

#include <optional>
#include <string>

namespace tolva_ast {

// Makes on the calling thread what the analysis makes once per process (the
// fork handlers of the caches, the parser's Unicode tables), so that no
// worker and no call that releases the interpreter lock is the first to
// reach one: a process forked while a thread was inside such a first use
// would keep it half made, and its first use in the child would wait for
// ever. Call it before the first index starts workers (the module's exec
// slot does); cheap once done. The error text when one of them cannot be
// made.
std::optional<std::string> prepare_for_threads();

// The error text when the fork handlers of the caches could not be
// registered (as the library was loaded).
std::optional<std::string> fork_handlers_error();

// What a cache does around a fork. The handlers run on the forking thread,
// one cache after another, in the order the caches were registered; they
// must not allocate or throw.
class ForkAware {
 public:
  virtual void before_fork() noexcept = 0;
  virtual void after_fork_in_parent() noexcept = 0;
  virtual void after_fork_in_child() noexcept = 0;

 protected:
  ForkAware() = default;
  ~ForkAware() = default;
};

// Registers `owner` for the life of this object. Make it the last member of
// its owner, so that it registers once the owner is whole and unregisters
// before any other member is destroyed. Construction and destruction wait
// while the process forks.
class ForkRegistration {
 public:
  explicit ForkRegistration(ForkAware& owner);
  ForkRegistration(const ForkRegistration&) = delete;
  ForkRegistration& operator=(const ForkRegistration&) = delete;
  ~ForkRegistration();

 private:
  friend class ForkRegistry;
  ForkAware& owner_;
  ForkRegistration* previous_ = nullptr;  // guarded by the registry's mutex
  ForkRegistration* next_ = nullptr;      // guarded by the registry's mutex
};

}  // namespace tolva_ast
