#include "source_file/text_slice.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fatal_error.h"

namespace source_file {
namespace {

std::string failure_of(std::string_view text, std::size_t index) {
  try {
    check_char_boundary(text, index);
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return "no fatal error";
}

TEST(TextSlice, BoundariesOfUtf8Text) {
  std::string_view text = "a\xC3\xA9\xF0\x9F\x98\x80";  // a, é, U+1F600
  const bool expected[] = {true, true, false, true, false, false, false, true};
  for (std::size_t i = 0; i < sizeof expected; ++i) EXPECT_EQ(is_char_boundary(text, i), expected[i]) << i;
  EXPECT_FALSE(is_char_boundary(text, 8));
  EXPECT_TRUE(is_char_boundary("", 0));
  EXPECT_FALSE(is_char_boundary("", 1));
}

TEST(TextSlice, FailureTexts) {
  struct Case {
    std::string text;
    std::size_t index;
    std::string message;
  };
  const Case cases[] = {
      {"aaaa\xC3\xA9", 5, "byte index 5 is not a char boundary; it is inside '\xC3\xA9' (bytes 4..6) of `aaaa\xC3\xA9`"},
      {"\xF0\x9F\x98\x80", 3,
       "byte index 3 is not a char boundary; it is inside '\xF0\x9F\x98\x80' (bytes 0..4) of `\xF0\x9F\x98\x80`"},
      {"abc", 4, "byte index 4 is out of bounds of `abc`"},
      {"", 1, "byte index 1 is out of bounds of ``"},
      // Control characters and ill-formed bytes are escaped in the excerpt.
      {"a\nb\t\x01", 9, "byte index 9 is out of bounds of `a\\nb\\t\\x01`"},
      {"\x80\x80", 1, "byte index 1 is not a char boundary; it is inside an ill-formed UTF-8 sequence of `\\x80\\x80`"},
      {"\xC3", 5, "byte index 5 is out of bounds of `\\xc3`"},
      {"\xED\xA0\x80", 1,
       "byte index 1 is not a char boundary; it is inside an ill-formed UTF-8 sequence of `\\xed\\xa0\\x80`"},
  };
  for (const Case& c : cases) EXPECT_EQ(failure_of(c.text, c.index), c.message);
}

TEST(TextSlice, ExcerptIsBoundedAndCutBetweenCharacters) {
  std::string text(39, 'x');
  text += "\xC3\xA9";  // a two-byte character across the 40-byte limit
  text += std::string(1000000, 'y');
  std::string message = failure_of(text, text.size() + 1);
  EXPECT_EQ(message, "byte index 1000042 is out of bounds of `" + std::string(39, 'x') + "[...]`");
  std::string exact(kExcerptBytes, 'z');
  EXPECT_EQ(failure_of(exact, 41), "byte index 41 is out of bounds of `" + exact + "`");
}

}  // namespace
}  // namespace source_file
