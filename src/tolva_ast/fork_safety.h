#pragma once

// The caches across fork().
//
// A forked child holds one thread, the one that called fork(). Any lock that
// another thread held at that moment stays held in the child for ever, and
// any outcome it was computing is never finished there. So, while a process
// forks, every live cache:
//   - before: takes its map lock exclusively (map locks are held only for a
//     lookup or an insertion, so this waits for no computation), so that no
//     map is changed while the process is copied; and takes every entry
//     mutex that is free, so that no computation starts. An entry mutex that
//     another thread holds belongs to a computation in flight: it is only
//     marked, never waited for, so a fork costs no more than a walk of the
//     entries, whatever the other threads are doing.
//   - in the parent: releases what it took; the computations in flight go on.
//   - in the child: makes its locks anew, and returns every entry that was in
//     flight to "not computed", so that the first request in the child
//     computes it (what the parent's thread had built so far is leaked).
// The child thus answers what the parent would, and never waits for a thread
// it does not have.

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
