#include "python_ast/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
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
