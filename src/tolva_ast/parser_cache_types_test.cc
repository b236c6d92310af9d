#include "tolva_ast/parser_cache_types.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "test_support/tolva_ast/failing_allocation.h"

namespace tolva_ast {
namespace {

SharedParsedFileCache parse(std::string source) {
  tolva::Result<SharedParsedFileCache> result = parse_file_for_cache("/p/m.py", std::move(source));
  EXPECT_TRUE(result.has_value()) << result.error();
  return result.has_value() ? result.value() : nullptr;
}

TEST(ParseFileForCache, TopLevelFromImportsOnly) {
  struct Case {
    const char* source;
    ImportMap imports;
  };
  const Case cases[] = {
      {"from a import b as c, b\n", {{"a", {{"b", {"b", "c"}}}}}},
      {"from tolva.features import features\nfrom tolva.features import online as ol\n",
       {{"tolva.features", {{"features", {"features"}}, {"online", {"ol"}}}}}},
      {"from m import *\n", {{"m", {{"*", {"*"}}}}}},
      // Nested, relative and plain imports add nothing.
      {"if x:\n    from a import b\n", {}},
      {"def f():\n    from a import b\n", {}},
      {"from . import x\nfrom .a import b\nimport tolva\nimport tolva.features as tf\n", {}},
      {"try:\n    from a import b\nexcept ImportError:\n    pass\n", {}},
  };
  for (const Case& c : cases) {
    const SharedParsedFileCache file = parse(c.source);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->imports, c.imports) << c.source;
  }
}

TEST(ParseFileForCache, KeepsPathSourceBodyAndComments) {
  const std::string source = "\xEF\xBB\xBF# one\nx = 1  # two\r\n";
  const SharedParsedFileCache file = parse(source);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->path, "/p/m.py");
  EXPECT_EQ(file->source(), source);
  EXPECT_EQ(file->body().size(), 1u);
  ASSERT_EQ(file->comment_ranges.ranges().size(), 2u);
  EXPECT_EQ(file->comment_ranges.ranges()[0], text_size::TextRange(3, 8));
  EXPECT_EQ(file->comment_ranges.ranges()[1], text_size::TextRange(16, 21));
}

TEST(ParseFileForCache, ASyntaxErrorGivesTheFirstErrorsText) {
  tolva::Result<SharedParsedFileCache> result = parse_file_for_cache("rel/x.py", "def f(:\n    pass\n");
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(result.error().starts_with("Failed to parse rel/x.py: ")) << result.error();
  EXPECT_NE(result.error().find(" at byte range "), std::string::npos) << result.error();
}

// A file of junk fails at its first bytes, and the parse stops there: what
// it allocates through operator new (the tree's holder, the error and the
// cache's text) is a few small blocks, whatever the size of the text, where
// building every error of a megabyte of junk took hundreds of megabytes. The
// token list and the arena of nodes take their memory from malloc directly
// and are not counted here; the text itself is allocated before the step and
// handed over to the tree.
TEST(ParseFileForCache, AFailedParseOfJunkAllocatesAFewSmallBlocks) {
  struct Case {
    std::string_view unit;
    std::string_view first_error;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"$", "Got unexpected token $ at byte range 0..1"},
      {"\0"sv, "Got unexpected token \0 at byte range 0..1"sv},
      {"?", "Got unexpected token ? at byte range 0..1"},
      {"\xE2\x82\xAC", "Got unexpected token \xE2\x82\xAC at byte range 0..3"},
      // The parser's error alone, the lexer has none.
      {")", "Expected a statement at byte range 0..1"},
      {"\\", "Expected a newline after line continuation character at byte range 0..1"},
  };
  constexpr std::size_t kSize = std::size_t{1} << 20;
  for (const Case& c : cases) {
    std::string source;
    source.reserve(kSize);
    while (source.size() + c.unit.size() <= kSize) source.append(c.unit);
    const std::size_t size = source.size();
    const std::size_t before = testing::bytes_allocated_on_this_thread();
    tolva::Result<SharedParsedFileCache> result = parse_file_for_cache("/p/junk.py", std::move(source));
    const std::size_t allocated = testing::bytes_allocated_on_this_thread() - before;
    ASSERT_FALSE(result.has_value()) << c.first_error;
    EXPECT_EQ(result.error(), "Failed to parse /p/junk.py: " + std::string(c.first_error));
    EXPECT_LT(allocated, 4096u) << c.first_error << ": " << allocated << " bytes for a text of " << size;
  }
}

}  // namespace
}  // namespace tolva_ast
