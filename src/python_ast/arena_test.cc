#include "python_ast/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace python_ast {
namespace {

struct Pair {
  std::uint32_t a;
  std::uint64_t b;
};

TEST(Arena, AllocationsAreAlignedDistinctAndStable) {
  Arena arena;
  std::vector<Pair*> pairs;
  for (int i = 0; i < 10000; ++i) {
    Pair* p = arena.make<Pair>(Pair{static_cast<std::uint32_t>(i), static_cast<std::uint64_t>(i) * 3});
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(Pair), 0u);
    pairs.push_back(p);
    // An odd-sized text in between disturbs the alignment on purpose.
    (void)arena.copy_text("xyz");
  }
  for (int i = 0; i < 10000; ++i) {
    EXPECT_EQ(pairs[i]->a, static_cast<std::uint32_t>(i));
    EXPECT_EQ(pairs[i]->b, static_cast<std::uint64_t>(i) * 3);
  }
}

TEST(Arena, LargeRequestsGetTheirOwnBlockAndKeepTheCurrentOneOpen) {
  Arena arena;
  char* small1 = static_cast<char*>(arena.allocate(8, 8));
  std::span<std::uint64_t> big = arena.make_array<std::uint64_t>(1 << 20);
  char* small2 = static_cast<char*>(arena.allocate(8, 8));
  EXPECT_EQ(small2, small1 + 8);
  for (auto value : big) EXPECT_EQ(value, 0u);
  big[big.size() - 1] = 7;
  EXPECT_EQ(big.back(), 7u);
}

TEST(Arena, BlockLimitBoundsTheUnusedTail) {
  // Blocks double from 4 KiB up to the limit: with a 16 KiB limit, 1 MiB of
  // small allocations leaves less than one block unused.
  Arena limited;
  limited.limit_block_size(16 * 1024);
  for (int i = 0; i < 1024 * 1024 / 64; ++i) (void)limited.allocate(64, 8);
  EXPECT_LT(limited.bytes_reserved(), 1024 * 1024 + 16 * 1024 + 4096);

  // A large limit lets blocks reach huge-page sizes; everything allocated
  // stays usable and aligned.
  Arena large;
  large.limit_block_size(std::size_t{64} << 20);
  std::vector<std::uint64_t*> values;
  for (std::uint64_t i = 0; i < 3 * 1024 * 1024; ++i) {
    auto* value = static_cast<std::uint64_t*>(large.allocate(8, 8));
    *value = i;
    if (i % 4099 == 0) values.push_back(value);
  }
  for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(*values[i], i * 4099);
  EXPECT_GE(large.bytes_reserved(), std::size_t{24} << 20);
  // A request larger than any block still gets one of its own.
  std::span<std::uint64_t> huge = large.make_array<std::uint64_t>(std::size_t{3} << 20);
  huge.back() = 1;
  EXPECT_EQ(huge.front(), 0u);
}

TEST(Arena, ReleaseToMarkGivesBackWhatFollowedAndKeepsWhatCameBefore) {
  // Cases: nothing obtained since the mark but room in the current block;
  // new blocks; a large request with a block of its own behind the current
  // one; a mark taken before the first block.
  struct Case {
    const char* name;
    std::size_t before;  // 64-byte allocations before the mark
    std::size_t after;   // after it
    bool large_after;    // a 1 MiB request after it too
  };
  const Case cases[] = {
      {"within the current block", 10, 10, false},
      {"across new blocks", 10, 5000, false},
      {"with a large request", 10, 10, true},
      {"new blocks and a large request", 100, 5000, true},
      {"from the empty arena", 0, 5000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Arena arena;
    std::vector<std::uint64_t*> kept;
    for (std::size_t i = 0; i < c.before; ++i) {
      auto* value = static_cast<std::uint64_t*>(arena.allocate(64, 8));
      *value = i;
      kept.push_back(value);
    }
    const std::size_t reserved = arena.bytes_reserved();
    const Arena::Mark mark = arena.mark();
    void* first_after = nullptr;
    for (std::size_t i = 0; i < c.after; ++i) {
      void* memory = arena.allocate(64, 8);
      if (i == 0) first_after = memory;
      std::memset(memory, 0xAB, 64);
    }
    if (c.large_after) (void)arena.make_array<std::uint64_t>(1 << 17);
    arena.release_to(mark);
    EXPECT_EQ(arena.bytes_reserved(), reserved);
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(*kept[i], i);
    // The arena carries on from the mark, as if nothing had followed it.
    void* again = arena.allocate(64, 8);
    if (c.before != 0) {
      EXPECT_EQ(again, first_after);
    }
    std::memset(again, 0xCD, 64);
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(*kept[i], i);
  }

  // Nested marks: releasing to the inner one, then the outer one.
  Arena arena;
  (void)arena.allocate(64, 8);
  const std::size_t outer_reserved = arena.bytes_reserved();
  const Arena::Mark outer = arena.mark();
  for (int i = 0; i < 1000; ++i) (void)arena.allocate(64, 8);
  const std::size_t inner_reserved = arena.bytes_reserved();
  const Arena::Mark inner = arena.mark();
  for (int i = 0; i < 5000; ++i) (void)arena.allocate(64, 8);
  arena.release_to(inner);
  EXPECT_EQ(arena.bytes_reserved(), inner_reserved);
  for (int i = 0; i < 5000; ++i) (void)arena.allocate(64, 8);
  arena.release_to(outer);
  EXPECT_EQ(arena.bytes_reserved(), outer_reserved);
}

TEST(Arena, CopiesTextAndArraysAndMovesOwnership) {
  Arena arena;
  std::string source = "hello world";
  std::string_view copy = arena.copy_text(source);
  source.assign(source.size(), '?');
  EXPECT_EQ(copy, "hello world");
  EXPECT_TRUE(arena.copy_text("").empty());
  std::vector<int> numbers{1, 2, 3};
  std::span<int> copied = arena.copy_array(std::span<const int>(numbers));
  numbers.clear();
  ASSERT_EQ(copied.size(), 3u);
  EXPECT_EQ(copied[2], 3);

  Arena moved(std::move(arena));
  EXPECT_EQ(copy, "hello world");
  EXPECT_EQ(arena.bytes_reserved(), 0u);
  EXPECT_GT(moved.bytes_reserved(), 0u);
}

}  // namespace
}  // namespace python_ast
