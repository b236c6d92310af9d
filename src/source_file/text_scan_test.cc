#include "source_file/text_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace source_file::text_scan {
namespace {

TEST(TextScan, ScalarScansOnSmallTexts) {
  struct Case {
    std::string text;
    std::vector<std::uint32_t> starts;
    bool non_ascii;
  };
  const Case cases[] = {
      {"", {}, false},
      {"a\nb", {2}, false},
      {"a\r\nb", {3}, false},
      {"a\rb", {2}, false},
      {"\r", {1}, false},
      {"\r\r\n\n", {1, 3, 4}, false},
      {"\xC3\xA9\n", {3}, true},
      {"\x7F", {}, false},
      {"\x80", {}, true},
  };
  for (const Case& c : cases) {
    std::vector<std::uint32_t> starts;
    EXPECT_EQ(scan_line_starts_scalar(c.text, starts), c.non_ascii) << c.text;
    EXPECT_EQ(starts, c.starts) << c.text;
  }
  EXPECT_EQ(count_characters_scalar("a\xC3\xA9\xF0\x9F\x98\x80"), 3u);
  EXPECT_EQ(count_utf16_code_units_scalar("a\xC3\xA9\xF0\x9F\x98\x80"), 4u);
  EXPECT_EQ(find_last_line_break_scalar("ab"), std::string_view::npos);
  EXPECT_EQ(find_last_line_break_scalar("\nab\r\n"), 4u);
  EXPECT_EQ(find_last_line_break_scalar("\ra"), 0u);
}

// Random bytes biased towards the bytes the scans look at, at every
// alignment and at lengths around the block sizes: the block-wise and scalar
// versions must agree exactly.
TEST(TextScan, BlockWiseAndScalarVersionsAgree) {
  std::mt19937 random(20240611);
  const unsigned char interesting[] = {'\n', '\r', 'a', ' ', 0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xE2, 0xEF, 0xF0, 0xF4, 0xFF};
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (std::size_t n : {127, 128, 129, 255, 256, 257, 2031, 2032, 2033, 4095, 4096, 4097, 70000}) lengths.push_back(n);
  for (std::size_t length : lengths) {
    for (int round = 0; round < 6; ++round) {
      std::string buffer(length + 16, '\0');
      for (char& byte : buffer) {
        byte = static_cast<char>(random() % 4 == 0 ? random() % 256 : interesting[random() % sizeof interesting]);
      }
      std::string_view text = std::string_view(buffer).substr(round % 16, length);
      std::vector<std::uint32_t> fast_starts;
      std::vector<std::uint32_t> plain_starts;
      ASSERT_EQ(scan_line_starts(text, fast_starts), scan_line_starts_scalar(text, plain_starts)) << length;
      ASSERT_EQ(fast_starts, plain_starts) << length;
      ASSERT_EQ(count_characters(text), count_characters_scalar(text)) << length;
      ASSERT_EQ(count_utf16_code_units(text), count_utf16_code_units_scalar(text)) << length;
      ASSERT_EQ(find_last_line_break(text), find_last_line_break_scalar(text)) << length;
    }
  }
}

// The non-ASCII flag for a single high byte at each position of a text, so
// that it is seen in the 32-byte part, the 16-byte block and the tail.
TEST(TextScan, OneHighByteAnywhereIsSeen) {
  for (std::size_t length : {1, 15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 65}) {
    for (std::size_t at = 0; at < length; ++at) {
      std::string text(length, 'x');
      text[at] = '\xE9';
      std::vector<std::uint32_t> starts;
      EXPECT_TRUE(scan_line_starts(text, starts)) << length << " " << at;
      text[at] = '\n';
      EXPECT_FALSE(scan_line_starts(text, starts)) << length << " " << at;
    }
  }
}

// The block-wise count holds 8-bit lane counters; texts where every lane
// counts as much as it can (every byte a four-byte lead: 2 per byte for
// UTF-16) must not overflow them.
TEST(TextScan, LaneCountersDoNotOverflow) {
  for (std::size_t length : {2032, 2033, 4064, 100000}) {
    std::string text(length, '\xF0');
    EXPECT_EQ(count_characters(text), length);
    EXPECT_EQ(count_utf16_code_units(text), 2 * length);
    std::string continuations(length, '\x80');
    EXPECT_EQ(count_characters(continuations), 0u);
  }
}

TEST(TextScan, CarriageReturnPairsAcrossBlockEdges) {
  // "\r" as the last byte of a 32-byte step or 16-byte block, "\n" as the
  // first byte of the next.
  for (std::size_t at : {14, 15, 16, 30, 31, 32, 47, 48}) {
    std::string text(64, 'x');
    text[at] = '\r';
    text[at + 1] = '\n';
    std::vector<std::uint32_t> starts;
    scan_line_starts(text, starts);
    EXPECT_EQ(starts, std::vector<std::uint32_t>{static_cast<std::uint32_t>(at + 2)}) << at;
  }
}

}  // namespace
}  // namespace source_file::text_scan
