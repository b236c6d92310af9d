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
// an analysis entry's mutex while it holds a parse entry's mutex.
//
// Poisoning: std::mutex does not poison, so each lock has an explicit flag,
// set when a fatal error (any exception but a failed allocation) unwinds
// through the held lock. A request that needs a poisoned lock fails with the
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

#include <cxxabi.h>

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
    // Read and written by the fork handlers alone, while the map is held.
    bool held_for_fork_ = false;  // mutex_ taken before the fork
    bool busy_at_fork_ = false;   // mutex_ held by another thread at the fork
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
    std::unique_lock lock(entry.mutex_);
    if (entry.poisoned_) return {poisoned_entry(key), false};
    if (entry.ready_.load(std::memory_order_relaxed)) return {*entry.outcome_, false};
    std::optional<Outcome> outcome;
    try {
      outcome.emplace(std::forward<Compute>(compute)());
    } catch (const std::bad_alloc&) {
      throw;  // nothing is stored: a later request computes
    } catch (abi::__forced_unwind&) {
      throw;  // the thread is being ended, not failing
    } catch (...) {
      entry.poisoned_ = true;
      throw;
    }
    if (!keep_values_ && outcome->has_value()) return {std::move(*outcome), true};
    entry.outcome_ = std::move(outcome);
    entry.ready_.store(true, std::memory_order_release);
    return {*entry.outcome_, true};
  }

 private:
  void before_fork() noexcept override {
    map_mutex_.lock();
    for (auto& [key, entry] : map_) {
      if (entry->ready_.load(std::memory_order_acquire)) continue;  // never locked again
      if (entry->mutex_.try_lock()) {
        entry->held_for_fork_ = true;
      } else {
        entry->busy_at_fork_ = true;
      }
    }
  }

  void after_fork_in_parent() noexcept override {
    for (auto& [key, entry] : map_) {
      if (entry->held_for_fork_) entry->mutex_.unlock();
      entry->held_for_fork_ = entry->busy_at_fork_ = false;
    }
    map_mutex_.unlock();
  }

  void after_fork_in_child() noexcept override {
    for (auto& [key, entry] : map_) {
      if (entry->held_for_fork_ || entry->busy_at_fork_) new (&entry->mutex_) std::mutex;
      if (entry->busy_at_fork_ && !entry->ready_.load(std::memory_order_relaxed)) {
        // The computation in flight ended with its thread; whatever it had
        // stored is dropped unread (and leaked), the entry is computed anew.
        new (&entry->outcome_) std::optional<Outcome>;
      }
      entry->held_for_fork_ = entry->busy_at_fork_ = false;
    }
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
  ForkRegistration fork_registration_{*this};  // last: registered while the rest is whole
};

}  // namespace tolva_ast
