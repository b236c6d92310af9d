#include "source_file/line_ranges.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/fatal_error.h"

namespace source_file {
namespace {

using text_size::TextOffset;

TEST(LineRanges, LineStart) {
  struct Case {
    std::string text;
    std::uint32_t offset;
    std::uint32_t start;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"abc", 0, 0},
      {"abc", 3, 0},
      {"ab\ncd", 3, 3},
      {"ab\ncd", 2, 0},  // the "\n" itself belongs to its line
      {"ab\ncd", 5, 3},
      {"ab\r\ncd", 4, 4},
      {"ab\r\ncd", 3, 3},  // between "\r" and "\n": after the "\r"
      {"ab\rcd", 4, 3},
      {"\n\n\n", 3, 3},
      {"\xEF\xBB\xBF", 0, 3},
      {"\xEF\xBB\xBFx = 1", 0, 3},
      {"\xEF\xBB\xBFx = 1", 3, 3},
      {"\xEF\xBB\xBFx = 1", 6, 3},
      {"\xEF\xBB\xBFx\ny", 5, 5},
      {"\xEF\xBB", 2, 0},  // too short for a mark
      {"\xC3\xA9\xC3\xA9\n\xC3\xA9", 7, 5},
      {std::string(40, 'a') + "\n" + std::string(40, 'b'), 81, 41},
      {"\n" + std::string(100, 'b'), 101, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LineRanges::line_start(c.text, TextOffset(c.offset)).raw, c.start) << c.text << " @" << c.offset;
  }
}

// Random texts over a few line breaks and multi-byte characters, checked at
// every character boundary against a forward walk.
TEST(LineRanges, LineStartAgreesWithForwardWalk) {
  std::mt19937 random(7);
  const std::string pieces[] = {"a", "\xC3\xA9", "\xF0\x9F\x98\x80", "\r", "\n", "        "};
  for (int round = 0; round < 300; ++round) {
    std::string text = round % 3 == 0 ? "\xEF\xBB\xBF" : "";
    std::size_t count = random() % (round < 150 ? 40 : 400);
    // Odd rounds have long lines: a break in about one piece of fifty.
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t piece = random() % 6;
      if (round % 2 == 1 && (piece == 3 || piece == 4) && random() % 25 != 0) piece = 5;
      text += pieces[piece];
    }
    std::uint32_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (std::uint32_t offset = 0; offset <= text.size(); ++offset) {
      if (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) continue;
      ASSERT_EQ(LineRanges::line_start(text, TextOffset(offset)).raw, start) << offset;
      if (offset < text.size() && (text[offset] == '\n' || text[offset] == '\r')) start = offset + 1;
    }
  }
}

TEST(LineRanges, MisuseIsFatal) {
  EXPECT_THROW(LineRanges::line_start("ab", TextOffset(3)), tolva::FatalError);
  try {
    LineRanges::line_start("\xEF\xBB\xBFx", TextOffset(1));
    FAIL() << "no fatal error";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(),
              "byte index 1 is not a char boundary; it is inside '\xEF\xBB\xBF' (bytes 0..3) of `\xEF\xBB\xBFx`");
  }
}

}  // namespace
}  // namespace source_file
