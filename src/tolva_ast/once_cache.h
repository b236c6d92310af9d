#pragma once

// `OnceCache`: an outcome computed at most once per key text and kept,
// failures included. Both the parse cache and the project index's analysis
// cache are one of these.
//
// Lock order for one file, from the project index down (each cache takes
// its two locks in this order and never holds both at once; the index's
// entry mutex is the only lock held across a call into the parse cache):
//   1. the index's entry map lock    (shared to look up, exclusive to insert;
//                                     released before 2)
//   2. the file's analysis entry mutex (held through 3, 4 and the analysis)
//   3. the parse cache's entry map lock (released before 4)
//   4. the file's parse entry mutex  (held through reading and parsing)
// A thread never holds the mutexes of two different files, and never takes
// an analysis entry's mutex while it holds a parse entry's mutex. Each cache's
// list of requests in flight has a mutex of its own, held only to link or
// unlink one request, with no other lock taken meanwhile (the fork handlers
// alone hold it across the fork, with the map lock, and wait for nothing).
//
// Poisoning: std::mutex does not poison, so each lock has an explicit flag,
// set when a fatal error (any exception but a failed allocation, or the
// forced unwind that ends a thread) unwinds through the held lock. A request that needs a poisoned lock fails with the
// cache's text for it, which is returned and never stored; a poisoned entry
// is never computed again. A failed allocation (std::bad_alloc) poisons
// nothing: the map is as it was (an insertion either happens or leaves it
// unchanged), the entry stays uncomputed, and the request that met it sees
// the exception; a later request, once memory is back, computes and stores
// the outcome.
//
// Fork: every cache takes part in the fork handlers of fork_safety.h, so a
// forked child never waits for a computation that was in flight in its
// parent: it computes that outcome afresh.
//
// A stored outcome never changes, so a request that finds one stored reads
// it without the entry's mutex (an acquire load of `ready`): a cache hit is a
// shared map lock, one hash lookup and one atomic load.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "support/foreign_exception.h"
#include "support/result.h"
#include "tolva_ast/fork_safety.h"

namespace tolva_ast {

// What a caller runs, at most once per request, just before the request
// first has to compute an outcome or wait for one (the binding layer
// releases the interpreter lock there). A request that finds every outcome
// it needs stored never runs it.
class BlockingNotice {
 public:
  BlockingNotice() = default;
  explicit BlockingNotice(const std::function<void()>* callback) : callback_(callback) {}
  BlockingNotice(const BlockingNotice&) = delete;
  BlockingNotice& operator=(const BlockingNotice&) = delete;

  void fire() {
    if (fired_) return;
    fired_ = true;
    if (callback_ != nullptr && *callback_) (*callback_)();
  }
  bool fired() const { return fired_; }

 private:
  const std::function<void()>* callback_ = nullptr;
  bool fired_ = false;
};

// The error texts of one cache's two kinds of lock.
struct OnceCacheTexts {
  std::string_view map_poisoned;        // the whole text
  std::string_view entry_poisoned_for;  // followed by the key
};

// Values are cheap to copy (shared pointers). `Tag` is a value the owner
// may attach to an entry when it creates it ahead of time (see `entry`).
template <class Value, class Tag = bool>
class OnceCache final : private ForkAware {
 public:
  using Outcome = tolva::Result<Value>;

  class Entry {
   public:
    explicit Entry(Tag tag) : tag_(std::move(tag)) {}
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // Set when the entry was made; never changed.
    const Tag& tag() const { return tag_; }

    // The stored outcome, or null while there is none.
    const Outcome* stored() const { return ready_.load(std::memory_order_acquire) ? &*outcome_ : nullptr; }

   private:
    friend class OnceCache;
    const Tag tag_;
    std::mutex mutex_;
    bool poisoned_ = false;          // guarded by mutex_
    std::optional<Outcome> outcome_;  // written once under mutex_, before ready_
    std::atomic<bool> ready_{false};  // release-stored after outcome_ is written
  };

  // With `keep_values` false, computed values are handed to their requester
  // but not kept (failures are kept all the same): for an owner that keeps
  // what it derives and asks at most once per key.
  OnceCache(OnceCacheTexts texts, bool keep_values = true) : texts_(texts), keep_values_(keep_values) {}
  OnceCache(const OnceCache&) = delete;
  OnceCache& operator=(const OnceCache&) = delete;

  // The entry of `key`, made (with `tag`) when there is none; the pointer
  // stays valid for the life of the cache. An error when the map lock is
  // poisoned.
  tolva::Result<Entry*> entry(std::string_view key, Tag tag = Tag{}) {
    {
      std::shared_lock read(map_mutex_);
      if (map_poisoned_) return tolva::Error{std::string(texts_.map_poisoned)};
      if (const auto found = map_.find(key); found != map_.end()) return found->second.get();
    }
    // Made before the write lock is taken; dropped when another request
    // inserted the key meanwhile.
    auto made = std::make_unique<Entry>(std::move(tag));
    std::unique_lock write(map_mutex_);
    if (map_poisoned_) return tolva::Error{std::string(texts_.map_poisoned)};
    try {
      return map_.try_emplace(std::string(key), std::move(made)).first->second.get();
    } catch (const std::bad_alloc&) {
      throw;  // the map is unchanged
    } catch (...) {
      map_poisoned_ = true;
      throw;
    }
  }

  // The outcome for `key`: the stored one, or `compute()`'s, stored. The
  // notice fires before any wait or computation.
  template <class Compute>
  Outcome get(std::string_view key, Compute&& compute, BlockingNotice& notice) {
    const tolva::Result<Entry*> found = entry(key);
    if (!found) return tolva::Error{found.error()};
    return get(*found.value(), key, std::forward<Compute>(compute), notice).outcome;
  }

  struct Got {
    Outcome outcome;
    bool computed;  // this request computed and stored it
  };

  // The same on an entry already at hand; `key` is the entry's key.
  template <class Compute>
  Got get(Entry& entry, std::string_view key, Compute&& compute, BlockingNotice& notice) {
    if (const Outcome* stored = entry.stored()) return {*stored, false};
    notice.fire();
    const Request request(*this, entry);
    std::unique_lock lock(entry.mutex_);
    if (entry.poisoned_) return {poisoned_entry(key), false};
    if (entry.ready_.load(std::memory_order_relaxed)) return {*entry.outcome_, false};
    std::optional<Outcome> outcome;
    try {
      outcome.emplace(std::forward<Compute>(compute)());
    } catch (const std::bad_alloc&) {
      throw;  // nothing is stored: a later request computes
    } catch (...) {
      // A forced unwind ends the thread; it is no failure.
      if (!tolva::handling_foreign_exception()) entry.poisoned_ = true;
      throw;
    }
    if (!keep_values_ && outcome->has_value()) return {std::move(*outcome), true};
    entry.outcome_ = std::move(outcome);
    entry.ready_.store(true, std::memory_order_release);
    return {*entry.outcome_, true};
  }

 private:
  // A request that may take, or holds, the mutex of `entry_`: listed from
  // before it waits for the mutex until after it lets it go, so that the
  // fork handlers know every entry whose mutex may be held at the fork. The
  // node lives on the requester's stack.
  class Request {
   public:
    Request(OnceCache& cache, Entry& entry) : cache_(cache), entry_(entry) {
      std::lock_guard lock(cache_.requests_mutex_);
      next_ = cache_.requests_;
      if (next_ != nullptr) next_->previous_ = this;
      cache_.requests_ = this;
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    ~Request() {
      std::lock_guard lock(cache_.requests_mutex_);
      (previous_ != nullptr ? previous_->next_ : cache_.requests_) = next_;
      if (next_ != nullptr) next_->previous_ = previous_;
    }

   private:
    friend class OnceCache;
    OnceCache& cache_;
    Entry& entry_;
    Request* previous_ = nullptr;  // guarded by the cache's requests_mutex_
    Request* next_ = nullptr;      // guarded by the cache's requests_mutex_
  };

  // While the process forks, the map and the list of requests are held, so
  // no entry is added and no request begins; the requests in flight go on.
  // The parent then lets both go; the child, where the requesters' threads
  // do not exist, makes every lock anew and sends each entry of a request
  // in flight that has no outcome back to "not computed" (whatever its
  // computation had built is leaked). A thread's writes up to the fork all
  // reach the child or none after one that did not, so an outcome whose
  // `ready_` the child sees is whole. The parent writes two locks per cache
  // after the fork, whatever the cache's size: every page written then is
  // copied, since parent and child share them.
  void before_fork() noexcept override {
    map_mutex_.lock();
    requests_mutex_.lock();
  }

  void after_fork_in_parent() noexcept override {
    requests_mutex_.unlock();
    map_mutex_.unlock();
  }

  void after_fork_in_child() noexcept override {
    for (const Request* request = requests_; request != nullptr; request = request->next_) {
      Entry& entry = request->entry_;
      new (&entry.mutex_) std::mutex;
      if (!entry.ready_.load(std::memory_order_relaxed)) new (&entry.outcome_) std::optional<Outcome>;
    }
    requests_ = nullptr;
    new (&requests_mutex_) std::mutex;
    new (&map_mutex_) std::shared_mutex;
  }

  tolva::Error poisoned_entry(std::string_view key) const {
    std::string text(texts_.entry_poisoned_for);
    text.append(key);
    return tolva::Error{std::move(text)};
  }

  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
  };

  const OnceCacheTexts texts_;
  const bool keep_values_;

  std::shared_mutex map_mutex_;
  bool map_poisoned_ = false;  // guarded by map_mutex_ (set under the exclusive lock)
  // guarded by map_mutex_; entries are added, never removed
  std::unordered_map<std::string, std::unique_ptr<Entry>, KeyHash, std::equal_to<>> map_;

  // Held only to link or unlink a request, and by the fork handlers.
  std::mutex requests_mutex_;
  Request* requests_ = nullptr;  // guarded by requests_mutex_

  ForkRegistration fork_registration_{*this};  // last: registered while the rest is whole
};

}  // namespace tolva_ast
