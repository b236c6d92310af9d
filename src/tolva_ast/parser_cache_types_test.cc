#include "tolva_ast/parser_cache_types.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace tolva_ast
