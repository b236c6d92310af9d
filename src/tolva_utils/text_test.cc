#include "tolva_utils/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tolva_utils::text {
namespace {

using namespace std::string_literals;

TEST(DecodeUtf8, WellFormedAndMaximalSubparts) {
  struct Case {
    std::string bytes;
    char32_t code_point;
    int length;
    bool valid;
  };
  const Case cases[] = {
      {"A", U'A', 1, true},
      {"\xC3\xA9", 0xE9, 2, true},
      {"\xE2\x80\xA8", 0x2028, 3, true},
      {"\xF0\x9F\x98\x80", 0x1F600, 4, true},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
      // Ill-formed: one unit per maximal subpart.
      {"\x80", 0xFFFD, 1, false},              // lone continuation byte
      {"\xC0\x80", 0xFFFD, 1, false},          // overlong lead
      {"\xC3", 0xFFFD, 1, false},              // truncated at the end
      {"\xE2\x80", 0xFFFD, 2, false},          // truncated three-byte sequence
      {"\xE2\x80Z", 0xFFFD, 2, false},         // interrupted
      {"\xE0\x80\x80", 0xFFFD, 1, false},      // overlong three-byte
      {"\xED\xA0\x80", 0xFFFD, 1, false},      // surrogate
      {"\xF4\x90\x80\x80", 0xFFFD, 1, false},  // above U+10FFFF
      {"\xF0\x9F\x98", 0xFFFD, 3, false},
      {"\xFF", 0xFFFD, 1, false},
  };
  for (const Case& c : cases) {
    const Decoded unit = decode_utf8(c.bytes, 0);
    EXPECT_EQ(unit.code_point, c.code_point) << c.bytes;
    EXPECT_EQ(unit.length, c.length) << c.bytes;
    EXPECT_EQ(unit.valid, c.valid) << c.bytes;
  }
}

TEST(ToValidUtf8, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(to_valid_utf8("a\xE2\x80" "b\xFF\xC3\xA9"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xC3\xA9");
  EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(is_valid_utf8("plain \xC3\xA9"));
  EXPECT_FALSE(is_valid_utf8("x\xC3"));
}

TEST(WhiteSpace, IsTheWhiteSpaceProperty) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F,
                     0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
  // Separators that are not White_Space, and look-alikes.
  for (char32_t c : {0x00, 0x08, 0x0E, 0x1C, 0x1F, 0x21, 0x84, 0x180E, 0x200B, 0x2060, 0xFEFF, 0x3001}) {
    EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  }
}

TEST(TrimWhiteSpace, BothEndsUnicodeAware) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"  a b  ", "a b"},
      {"\xE3\x80\x80" "2024\xC2\xA0", "2024"},        // U+3000 ... U+00A0
      {"\xE2\x80\xA8x\xC2\x85", "x"},                 // U+2028, U+0085
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},             // U+200B is not white space
      {"x\xA0", "x\xA0"},                             // a stray continuation byte stays
      {" \xC3", "\xC3"},                              // truncated sequence at the end stays
      {"\0 x \0"s, "\0 x \0"s},                       // NUL is not white space
  };
  for (const Case& c : cases) EXPECT_EQ(trim_white_space(c.in), c.out) << c.in;
}

TEST(AppendQuoted, EscapesLikeTheErrorTexts) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"P1D", R"("P1D")"},
      {R"(a"b\c)", R"("a\"b\\c")"},
      {"\t\r\n", R"("\t\r\n")"},
      {"a\0b"s, R"("a\0b")"},
      {"\x01\x1b\x1f\x7f", R"("\u{1}\u{1b}\u{1f}\u{7f}")"},
      {"\xC2\x85\xC2\x9F", R"("\u{85}\u{9f}")"},      // C1 controls
      {"'\xC3\xA9\xE2\x80\xA8", "\"'\xC3\xA9\xE2\x80\xA8\""},  // printable and non-control characters as they are
      {"x\xFFy\xE2\x80", R"("x\xffy\xe2\x80")"},      // ill-formed bytes
  };
  for (const Case& c : cases) {
    std::string out = ">";
    append_quoted(out, c.in);
    EXPECT_EQ(out, ">" + c.out) << c.in;
  }
}

}  // namespace
}  // namespace tolva_utils::text
