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

namespace tolva_ast {

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
