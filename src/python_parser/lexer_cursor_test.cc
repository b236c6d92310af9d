// The lexer's cursor: UTF-8 decoding, ill-formed input included, and the
// character operations the lexer relies on.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "python_parser/cursor.h"
#include "support/fatal_error.h"

namespace python_parser {
namespace {

TEST(LexerCursor, DecodesWellFormedAndReplacesIllFormedUtf8) {
  struct Case {
    std::string_view bytes;
    char32_t character;
    std::uint32_t length;
  };
  for (const Case& c : std::vector<Case>{
           {"a", U'a', 1},
           {std::string_view("\0", 1), 0, 1},
           {"\xC2\x80", 0x80, 2},
           {"\xDF\xBF", 0x7FF, 2},
           {"\xE0\xA0\x80", 0x800, 3},
           {"\xEF\xBF\xBF", 0xFFFF, 3},
           {"\xF0\x90\x80\x80", 0x10000, 4},
           {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
           // Ill-formed: one U+FFFD for the first byte only.
           {"\x80", kReplacementCharacter, 1},          // stray continuation
           {"\xC0\x80", kReplacementCharacter, 1},      // overlong NUL
           {"\xC1\xBF", kReplacementCharacter, 1},      // overlong
           {"\xE0\x80\x80", kReplacementCharacter, 1},  // overlong
           {"\xED\xA0\x80", kReplacementCharacter, 1},  // surrogate
           {"\xF0\x80\x80\x80", kReplacementCharacter, 1},
           {"\xF4\x90\x80\x80", kReplacementCharacter, 1},  // above U+10FFFF
           {"\xF5\x80\x80\x80", kReplacementCharacter, 1},
           {"\xFF", kReplacementCharacter, 1},
           {"\xC3", kReplacementCharacter, 1},              // truncated at the end
           {"\xE2\x82", kReplacementCharacter, 1},
           {"\xE2\x82x", kReplacementCharacter, 1},
           {"\xF0\x9F\x98", kReplacementCharacter, 1},
       }) {
    std::uint32_t length = 0;
    EXPECT_EQ(decode_utf8(c.bytes.data(), c.bytes.data() + c.bytes.size(), length), c.character)
        << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(length, c.length) << testing::PrintToString(std::string(c.bytes));
  }
}

TEST(LexerCursor, PeekBumpAndEat) {
  const std::string text = "a\xC3\xA9" "bc";
  Cursor cursor(text, 0);
  EXPECT_EQ(cursor.first(), U'a');
  EXPECT_EQ(cursor.second(), char32_t{0xE9});
  EXPECT_EQ(cursor.third(), U'b');
  EXPECT_FALSE(cursor.eat_char(U'b'));
  EXPECT_TRUE(cursor.eat_char(U'a'));
  EXPECT_TRUE(cursor.eat_char(char32_t{0xE9}));
  EXPECT_EQ(cursor.offset().raw, 3u);
  cursor.start_token();
  EXPECT_FALSE(cursor.eat_char2('b', 'x'));
  EXPECT_FALSE(cursor.eat_char3('b', 'c', 'd'));
  EXPECT_TRUE(cursor.eat_char2('b', 'c'));
  EXPECT_EQ(cursor.token_range(), text_size::TextRange(3, 5));
  EXPECT_TRUE(cursor.is_eof());
  // At the end: nothing to take, U+0000 to peek.
  EXPECT_EQ(cursor.bump(), std::nullopt);
  EXPECT_EQ(cursor.first(), char32_t{0});
  EXPECT_EQ(cursor.second(), char32_t{0});
  EXPECT_FALSE(cursor.eat_char(U'x'));
  EXPECT_EQ(cursor.eat_if([](char32_t) { return true; }), std::nullopt);
}

TEST(LexerCursor, EatIfAndSkipping) {
  Cursor cursor("x1\xE2\x82\xAC", 0);
  auto is_x = [](char32_t c) { return c == U'x' || c == U'X'; };
  EXPECT_EQ(cursor.eat_if(is_x), U'x');
  EXPECT_EQ(cursor.eat_if(is_x), std::nullopt);
  cursor.skip_bytes(1);
  EXPECT_EQ(cursor.bump(), char32_t{0x20AC});
  cursor.skip_bytes(100);
  EXPECT_TRUE(cursor.is_eof());
  EXPECT_THROW(Cursor("ab", 3), tolva::FatalError);
}

}  // namespace
}  // namespace python_parser
