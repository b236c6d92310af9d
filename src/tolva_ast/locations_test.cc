#include "tolva_ast/locations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "source_file/line_index.h"
#include "support/fatal_error.h"
#include "test_support/tolva_ast/marked_source.h"

namespace tolva_ast {
namespace {

using testing::reference_position;

TEST(FileUri, AbsolutePathsAreEncodedByteForByte) {
  struct Case {
    std::string path;
    std::string uri;
  };
  const Case cases[] = {
      {"/home/u/my proj/a.py", "file:///home/u/my%20proj/a.py"},
      // Nothing is resolved or cleaned.
      {"/p/./x/../a.py", "file:///p/./x/../a.py"},
      {"/home/zo\xC3\xAB/a.py", "file:///home/zo%C3%AB/a.py"},
      {"/srv/proj[1]/a.py", "file:///srv/proj%5B1%5D/a.py"},
      {"/a|b^c{d}e`f/g.py", "file:///a%7Cb%5Ec%7Bd%7De%60f/g.py"},
      {"/100%/x?y#z.py", "file:///100%25/x%3Fy%23z.py"},
      {"/q\"<>\\.py", "file:///q%22%3C%3E%5C.py"},
      {"/ctl\x01\x7F\t.py", "file:///ctl%01%7F%09.py"},
      // Ill-formed UTF-8 keeps its bytes.
      {"/bad\xFF\xC3.py", "file:///bad%FF%C3.py"},
      // What a path may hold as itself.
      {"/-._~!$&'()*+,;=:@/AZaz09.py", "file:///-._~!$&'()*+,;=:@/AZaz09.py"},
      {"//double/slash.py", "file:////double/slash.py"},
      {"/", "file:///"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(file_uri_for_path(c.path), c.uri) << c.path;
  }
}

// The working directory moves into a scratch folder for one test.
class RelativePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    root_ = std::filesystem::temp_directory_path() /
            ("tolva_locations_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "zo\xC3\xAB" / "proj[1]");
    std::ofstream(root_ / "zo\xC3\xAB" / "proj[1]" / "m.py") << "x = 1\n";
    std::filesystem::current_path(root_);
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }

  std::filesystem::path previous_;
  std::filesystem::path root_;
};

TEST_F(RelativePaths, ResolveToTheCanonicalAbsolutePath) {
  const std::string canonical = std::filesystem::canonical(root_).string();
  std::string expected = "file://";
  append_percent_encoded_path(expected, canonical);
  expected += "/zo%C3%AB/proj%5B1%5D/m.py";
  EXPECT_EQ(file_uri_for_path("zo\xC3\xAB/proj[1]/m.py"), expected);
  EXPECT_EQ(file_uri_for_path("./zo\xC3\xAB/../zo\xC3\xAB/proj[1]/m.py"), expected);
}

TEST_F(RelativePaths, UnresolvableGiveNoUri) {
  const std::vector<std::string> paths = {"missing.py", "zo\xC3\xAB/proj[1]/missing.py", "", std::string("m\0.py", 5)};
  for (const std::string& path : paths) {
    EXPECT_EQ(file_uri_for_path(path), std::nullopt) << path;
  }
}

// Texts that exercise every way a line and a character are counted.
const std::vector<std::string>& position_texts() {
  static const auto& texts = *new std::vector<std::string>{
      "",
      "x",
      "a = 1\nb = 2\n",
      "a\r\nb\r\n\r\nc",
      "a\rb\r\rc\r",
      "\xEF\xBB\xBFx = 1\n\xEF\xBB\xBFy",
      "\xEF\xBB\xBF",
      "\tif x:\n\t\treturn \xC3\xA9t\xC3\xA9  # caf\xC3\xA9\n",
      "\xE2\x82\xAC\xF0\x9F\x98\x80z\r\n\xF0\x9F\x98\x80\n",
      "# \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n" + std::string(100, 'a') + "\xC3\xA9" + std::string(70, 'b') + "\n",
  };
  return texts;
}

// Every offset of `text` that starts a character (and the end).
std::vector<std::uint32_t> boundaries(std::string_view text) {
  std::vector<std::uint32_t> offsets;
  for (std::uint32_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) offsets.push_back(i);
  }
  return offsets;
}

TEST(PositionConverter, AgreesWithAPlainScanInAnyOrder) {
  std::mt19937 random(12345);
  for (const std::string& text : position_texts()) {
    const source_file::LineIndex index = source_file::LineIndex::from_source_text(text);
    std::vector<std::uint32_t> offsets = boundaries(text);
    std::vector<std::vector<std::uint32_t>> orders = {offsets, offsets, offsets};
    std::reverse(orders[1].begin(), orders[1].end());
    std::shuffle(orders[2].begin(), orders[2].end(), random);
    for (const auto& order : orders) {
      PositionConverter converter(text, index);
      for (std::uint32_t offset : order) {
        const Position expected = reference_position(text, offset);
        // Lines alone now and then, so the cursor also moves without counting.
        if (offset % 3 == 0) {
          ASSERT_EQ(converter.line(text_size::TextOffset(offset)), expected.line);
        }
        ASSERT_EQ(converter.position(text_size::TextOffset(offset)), expected)
            << "offset " << offset << " of " << ::testing::PrintToString(text);
        // And the line index's own one-based answer.
        const source_file::TextPosition one_based = index.line_column(text_size::TextOffset(offset), text);
        ASSERT_EQ(one_based.line.to_zero_indexed(), expected.line);
        ASSERT_EQ(one_based.column.to_zero_indexed(), expected.character);
      }
    }
  }
}

TEST(PositionConverter, EdgesOfLines) {
  // (0, 0) at the start; after a BOM the first character is 0; after a
  // two-byte character the next is 1; the end of a line stays on it.
  const std::string text = "\xEF\xBB\xBF\xC3\xA9x\nab\ncd";
  const source_file::LineIndex index = source_file::LineIndex::from_source_text(text);
  PositionConverter converter(text, index);
  EXPECT_EQ(converter.position(text_size::TextOffset(0)), (Position{0, 0}));
  EXPECT_EQ(converter.position(text_size::TextOffset(3)), (Position{0, 0}));
  EXPECT_EQ(converter.position(text_size::TextOffset(5)), (Position{0, 1}));
  EXPECT_EQ(converter.position(text_size::TextOffset(6)), (Position{0, 2}));
  EXPECT_EQ(converter.position(text_size::TextOffset(9)), (Position{1, 2}));
  EXPECT_EQ(converter.position(text_size::TextOffset(12)), (Position{2, 2}));
  EXPECT_EQ(converter.range(text_size::TextRange(7, 9)), (Range{{1, 0}, {1, 2}}));
}

TEST(PositionConverter, ManyLinesFarJumps) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += (i % 7 == 0 ? "\xC3\xA9" : "") + std::string(static_cast<std::size_t>(i % 13), 'x') + "\n";
  const source_file::LineIndex index = source_file::LineIndex::from_source_text(text);
  PositionConverter converter(text, index);
  std::mt19937 random(7);
  const std::vector<std::uint32_t> offsets = boundaries(text);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t offset = offsets[random() % offsets.size()];
    ASSERT_EQ(converter.position(text_size::TextOffset(offset)), reference_position(text, offset)) << offset;
  }
}

TEST(PositionConverter, AnOffsetBeyondTheTextIsABrokenInvariant) {
  const std::string text = "ab\n";
  const source_file::LineIndex index = source_file::LineIndex::from_source_text(text);
  PositionConverter converter(text, index);
  EXPECT_THROW(converter.position(text_size::TextOffset(4)), tolva::FatalError);
}

}  // namespace
}  // namespace tolva_ast
