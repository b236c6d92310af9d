#include "python_ast/name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "python_ast/arena.h"
#include "python_ast/identifier.h"
#include "python_ast/node_index.h"

namespace python_ast {
namespace {

using text_size::TextRange;

TEST(Name, ViewsBorrowedTextAndCopiesIntoTheArena) {
  std::string source = "x = élan";
  Name borrowed(std::string_view(source).substr(0, 1));
  EXPECT_EQ(borrowed.data(), source.data()) << "a borrowed name is a view, not a copy";
  EXPECT_EQ(borrowed.as_str(), "x");

  Arena arena;
  Name copied = Name::copy(arena, std::string_view(source).substr(4));
  source.assign(source.size(), '#');  // the copy no longer depends on the source
  EXPECT_EQ(copied.as_str(), "élan");
  EXPECT_EQ(copied.size(), 5u);

  Name empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.as_str(), "");
  EXPECT_TRUE(Name::copy(arena, "").empty());
  EXPECT_EQ(Name::copy(arena, ""), empty);
}

TEST(Name, ComparesOrdersAndHashesByBytes) {
  // Sorted by bytes, as unsigned values: uppercase before lowercase, a prefix
  // before its extensions, non-ASCII after ASCII.
  const std::vector<std::string> sorted = {"", "A", "Z", "_", "a", "ab", "abc", "b", "z", "\xc3\xa9", "\xe2\x84\x95"};
  std::vector<std::string> storage = sorted;
  std::reverse(storage.begin(), storage.end());
  std::vector<Name> names;
  for (const std::string& text : storage) names.emplace_back(text);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), sorted.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(names[i].as_str(), sorted[i]);

  // Equal texts at different addresses are equal names with equal hashes.
  Arena arena;
  std::unordered_set<Name> set;
  for (const std::string& text : sorted) set.insert(Name(text));
  for (const std::string& text : sorted) {
    Name copy = Name::copy(arena, text);
    EXPECT_EQ(copy, Name(text));
    EXPECT_EQ(std::hash<Name>{}(copy), std::hash<std::string_view>{}(text));
    EXPECT_EQ(set.count(copy), 1u) << text;
  }
  EXPECT_EQ(set.size(), sorted.size());
  EXPECT_NE(Name("a"), Name("ab"));
  EXPECT_TRUE(Name("self") == "self");
  EXPECT_TRUE(Name("a") < std::string_view("b"));
}

TEST(Identifier, IsValidWhenItsNameIsNotEmpty) {
  struct Case {
    std::string_view name;
    bool valid;
  };
  constexpr Case cases[] = {{"", false}, {"x", true}, {"_", true}, {"features", true}};
  for (const Case& c : cases) {
    Identifier id{Name(c.name), TextRange(4, 4 + static_cast<std::uint32_t>(c.name.size()))};
    EXPECT_EQ(id.is_valid(), c.valid) << '"' << c.name << '"';
    EXPECT_EQ(id.as_str(), c.name);
    EXPECT_EQ(id.node_index.load(), 0xFFFFFFFEu);
  }
  // The recovery form: empty name, empty range where the name was expected.
  Identifier missing{Name(), TextRange::empty(text_size::TextOffset(7))};
  EXPECT_FALSE(missing.is_valid());
  EXPECT_EQ(missing.range, TextRange(7, 7));
}

TEST(AtomicNodeIndex, StartsUnassignedAndCopiesTheValue) {
  AtomicNodeIndex index;
  EXPECT_EQ(index.load(), 0xFFFFFFFEu);
  EXPECT_EQ(AtomicNodeIndex::kUnassigned, 0xFFFFFFFEu);
  EXPECT_EQ(index.clone(), index);
  EXPECT_EQ(index.clone().load(), 0xFFFFFFFEu);
  static_assert(std::is_trivially_copyable_v<AtomicNodeIndex>);
}

}  // namespace
}  // namespace python_ast
