#include "tolva_ast/once_cache.h"

#include <gtest/gtest.h>


#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "test_support/process.h"
#include "test_support/threads.h"
#include "test_support/tolva_ast/failing_allocation.h"

namespace tolva_ast {
namespace {

using test_support::eventually;
using test_support::in_forked_child;
using test_support::Gate;

using Cache = OnceCache<std::shared_ptr<const int>>;
constexpr OnceCacheTexts kTexts{.map_poisoned = "map poisoned", .entry_poisoned_for = "entry poisoned for "};

tolva::Result<std::shared_ptr<const int>> value(int v) { return std::make_shared<const int>(v); }

TEST(OnceCache, ComputesEachKeyOnceAndKeepsFailuresToo) {
  Cache cache(kTexts);
  int computed = 0;
  BlockingNotice notice;
  const auto first = cache.get("a", [&] { return ++computed, value(7); }, notice);
  const auto second = cache.get("a", [&] { return ++computed, value(8); }, notice);
  ASSERT_TRUE(first.has_value() && second.has_value());
  EXPECT_EQ(first.value().get(), second.value().get()) << "one shared value";
  EXPECT_EQ(*second.value(), 7);

  const auto failed = cache.get("b", [&] { return ++computed, tolva::Result<std::shared_ptr<const int>>(tolva::Error{"no"}); }, notice);
  const auto again = cache.get("b", [&] { return ++computed, value(1); }, notice);
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(failed.error(), "no");
  EXPECT_EQ(again.error(), "no");
  EXPECT_EQ(computed, 2);

  // Keys are texts compared byte for byte.
  EXPECT_EQ(*cache.get("./a", [&] { return ++computed, value(9); }, notice).value(), 9);
  EXPECT_EQ(*cache.get(std::string_view("a\0", 2), [&] { return ++computed, value(10); }, notice).value(), 10);
  EXPECT_EQ(computed, 4);
}

TEST(OnceCache, TheNoticeFiresOncePerRequestAndNeverOnAStoredOutcome) {
  Cache cache(kTexts);
  int fired = 0;
  const std::function<void()> callback = [&] { ++fired; };
  {
    BlockingNotice notice(&callback);
    (void)cache.get("a", [] { return value(1); }, notice);
    (void)cache.get("b", [] { return value(2); }, notice);
    EXPECT_TRUE(notice.fired());
  }
  EXPECT_EQ(fired, 1);
  {
    BlockingNotice notice(&callback);
    (void)cache.get("a", [] { return value(0); }, notice);
    (void)cache.get("b", [] { return value(0); }, notice);
    EXPECT_FALSE(notice.fired());
  }
  EXPECT_EQ(fired, 1);
  const std::function<void()> empty;
  BlockingNotice notice(&empty);
  (void)cache.get("c", [] { return value(3); }, notice);
  EXPECT_TRUE(notice.fired());
}

TEST(OnceCache, ConcurrentRequestsForOneKeyWaitAndShareOneOutcome) {
  Cache cache(kTexts);
  Gate started, release;
  std::atomic<int> computed{0};
  std::vector<std::shared_ptr<const int>> got(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      BlockingNotice notice;
      got[t] = cache
                   .get("same",
                        [&] {
                          ++computed;
                          started.open();
                          release.wait();
                          return value(42);
                        },
                        notice)
                   .value();
    });
  }
  ASSERT_TRUE(started.wait());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the others queue on the entry
  release.open();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(computed.load(), 1);
  for (const auto& v : got) EXPECT_EQ(v.get(), got[0].get());
}

TEST(OnceCache, DifferentKeysComputeInParallel) {
  // Each computation waits for the other one to start: done one after the
  // other, they would time out.
  Cache cache(kTexts);
  Gate a_started, b_started;
  bool a_saw_b = false, b_saw_a = false;
  std::thread a([&] {
    BlockingNotice notice;
    (void)cache.get("a", [&] { a_started.open(); a_saw_b = b_started.wait(); return value(1); }, notice);
  });
  std::thread b([&] {
    BlockingNotice notice;
    (void)cache.get("b", [&] { b_started.open(); b_saw_a = a_started.wait(); return value(2); }, notice);
  });
  a.join();
  b.join();
  EXPECT_TRUE(a_saw_b);
  EXPECT_TRUE(b_saw_a);
}

TEST(OnceCache, AFailedAllocationPoisonsNothingAndALaterRequestComputes) {
  Cache cache(kTexts);
  BlockingNotice notice;
  ASSERT_EQ(*cache.get("before", [] { return value(1); }, notice).value(), 1);
  // While inserting: the entry is made before the map's write lock is taken;
  // the key's copy (longer than a short-string buffer) is the first
  // allocation under it. The map is left as it was.
  const std::string key = "a key too long for the short-string buffer";
  testing::fail_allocations_after(1);
  EXPECT_THROW((void)cache.entry(key), std::bad_alloc);
  testing::stop_failing_allocations();
  EXPECT_EQ(*cache.get("before", [] { return value(2); }, notice).value(), 1);
  EXPECT_EQ(*cache.get(key, [] { return value(3); }, notice).value(), 3);

  // While computing: the entry stays uncomputed and unpoisoned, and the
  // next request computes and stores its outcome.
  ASSERT_TRUE(cache.entry("short").has_value());  // made before allocations fail
  int computed = 0;
  const auto compute = [&]() -> tolva::Result<std::shared_ptr<const int>> {
    ++computed;
    std::vector<int> large(1000);
    return value(static_cast<int>(large.size()));
  };
  testing::fail_allocations_after(0);
  EXPECT_THROW((void)cache.get("short", compute, notice), std::bad_alloc);
  testing::stop_failing_allocations();
  EXPECT_EQ(cache.entry("short").value()->stored(), nullptr);
  EXPECT_EQ(*cache.get("short", compute, notice).value(), 1000);
  EXPECT_EQ(*cache.get("short", compute, notice).value(), 1000);
  EXPECT_EQ(computed, 2);
}

TEST(OnceCache, AFatalErrorPoisonsItsEntryOnly) {
  Cache cache(kTexts);
  BlockingNotice notice;
  EXPECT_THROW((void)cache.get("bad", []() -> tolva::Result<std::shared_ptr<const int>> { tolva::fatal("broken"); },
                               notice),
               tolva::FatalError);
  int computed = 0;
  for (int round = 0; round < 2; ++round) {
    const auto later = cache.get("bad", [&] { return ++computed, value(1); }, notice);
    ASSERT_FALSE(later.has_value());
    EXPECT_EQ(later.error(), "entry poisoned for bad");
  }
  EXPECT_EQ(computed, 0) << "a poisoned entry is never computed again";
  EXPECT_EQ(cache.entry("bad").value()->stored(), nullptr);
  EXPECT_EQ(*cache.get("good", [] { return value(5); }, notice).value(), 5);

  // Waiters queued behind the failing computation see the poisoned text.
  Gate started, release;
  std::thread failing([&] {
    BlockingNotice own;
    try {
      (void)cache.get("late", [&]() -> tolva::Result<std::shared_ptr<const int>> {
        started.open();
        release.wait();
        throw std::runtime_error("not a fatal error, but it unwinds all the same");
      }, own);
    } catch (const std::runtime_error&) {
    }
  });
  ASSERT_TRUE(started.wait());
  std::thread waiter([&] {
    BlockingNotice own;
    const auto outcome = cache.get("late", [] { return value(0); }, own);
    EXPECT_FALSE(outcome.has_value());
    if (!outcome.has_value()) {
      EXPECT_EQ(outcome.error(), "entry poisoned for late");
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  release.open();
  failing.join();
  waiter.join();
}

TEST(OnceCache, AForkedChildComputesAfreshWhatWasInFlightAndTheParentGoesOn) {
  Cache cache(kTexts);
  BlockingNotice notice;
  ASSERT_EQ(*cache.get("done", [] { return value(1); }, notice).value(), 1);
  ASSERT_TRUE(cache.entry("untouched").has_value());
  Gate started, release;
  std::thread computing([&] {
    BlockingNotice own;
    (void)cache.get("in flight", [&] {
      started.open();
      release.wait();
      return value(2);
    }, own);
  });
  ASSERT_TRUE(started.wait());
  // A second thread waits on the entry in flight: it holds none of its locks.
  std::thread waiting([&] {
    BlockingNotice own;
    EXPECT_EQ(*cache.get("in flight", [] { return value(-1); }, own).value(), 2);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  const int status = in_forked_child([&] {
    BlockingNotice own;
    return *cache.get("in flight", [] { return value(3); }, own).value() == 3 &&
           *cache.get("done", [] { return value(-1); }, own).value() == 1 &&
           *cache.get("untouched", [] { return value(4); }, own).value() == 4 &&
           *cache.get("new", [] { return value(5); }, own).value() == 5;
  });
  EXPECT_EQ(status, 0) << "the child answers without waiting for its parent's threads";

  // In the parent every lock is free again and the computation in flight
  // stores its own outcome.
  release.open();
  computing.join();
  waiting.join();
  EXPECT_EQ(*cache.get("in flight", [] { return value(-1); }, notice).value(), 2);
  EXPECT_EQ(*cache.get("untouched", [] { return value(6); }, notice).value(), 6);
  EXPECT_EQ(*cache.get("new", [] { return value(7); }, notice).value(), 7);
}

TEST(OnceCache, WithoutKeepingValuesOnlyFailuresAreStored) {
  Cache cache(kTexts, /*keep_values=*/false);
  int computed = 0;
  BlockingNotice notice;
  (void)cache.get("a", [&] { return ++computed, value(1); }, notice);
  (void)cache.get("a", [&] { return ++computed, value(1); }, notice);
  EXPECT_EQ(computed, 2);
  EXPECT_EQ(cache.entry("a").value()->stored(), nullptr);
  (void)cache.get("b", [&] { return ++computed, tolva::Result<std::shared_ptr<const int>>(tolva::Error{"x"}); }, notice);
  (void)cache.get("b", [&] { return ++computed, value(1); }, notice);
  EXPECT_EQ(computed, 3);
  ASSERT_NE(cache.entry("b").value()->stored(), nullptr);
  EXPECT_EQ(cache.entry("b").value()->stored()->error(), "x");
}

TEST(OnceCache, EntriesMadeAheadKeepTheirTagAndAddress) {
  OnceCache<std::shared_ptr<const int>, bool> cache(kTexts);
  auto* listed = cache.entry("a", true).value();
  EXPECT_EQ(cache.entry("a", false).value(), listed);
  EXPECT_TRUE(listed->tag());
  for (int i = 0; i < 2000; ++i) (void)cache.entry(std::to_string(i));  // rehashes
  EXPECT_EQ(cache.entry("a").value(), listed);
  EXPECT_EQ(listed->stored(), nullptr);
  BlockingNotice notice;
  const auto got = cache.get(*listed, "a", [] { return value(3); }, notice);
  EXPECT_TRUE(got.computed);
  EXPECT_EQ(*listed->stored()->value(), 3);
  EXPECT_FALSE(cache.get(*listed, "a", [] { return value(4); }, notice).computed);
}

}  // namespace
}  // namespace tolva_ast
