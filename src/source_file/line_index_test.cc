#include "source_file/line_index.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fatal_error.h"
#include "test_support/oracle.h"
#include "test_support/process.h"

namespace source_file {
namespace {

using text_size::TextOffset;

constexpr ColumnUnit kUnits[] = {ColumnUnit::Bytes, ColumnUnit::Utf16CodeUnits, ColumnUnit::Characters};

TextPosition at(std::uint64_t line, std::uint64_t column) { return {OneBasedIndex(line), OneBasedIndex(column)}; }

std::vector<std::uint32_t> starts_of(std::string_view text) {
  LineIndex index = LineIndex::from_source_text(text);
  return {index.line_starts().begin(), index.line_starts().end()};
}

std::string fatal_text(auto&& action) {
  try {
    action();
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return "no fatal error";
}

TEST(LineIndex, LineStarts) {
  struct Case {
    std::string text;
    std::vector<std::uint32_t> starts;
  };
  const Case cases[] = {
      {"", {0}},
      {"a\nb", {0, 2}},
      {"a\r\nb", {0, 3}},
      {"a\rb", {0, 2}},
      {"a\n", {0, 2}},
      {"\r\n\r\n", {0, 2, 4}},
      {"\r", {0, 1}},
      {"\n\r", {0, 1, 2}},
      {"\r\r\n", {0, 1, 3}},
      {"\xC3\xA9\n\xF0\x9F\x98\x80\r\n", {0, 3, 9}},
  };
  for (const Case& c : cases) EXPECT_EQ(starts_of(c.text), c.starts) << c.text;
}

TEST(LineIndex, Kind) {
  EXPECT_EQ(LineIndex::from_source_text("").kind(), LineIndexKind::Ascii);
  EXPECT_EQ(LineIndex::from_source_text("x = 1\n\x7F").kind(), LineIndexKind::Ascii);
  EXPECT_EQ(LineIndex::from_source_text("\xC3\xA9").kind(), LineIndexKind::NonAscii);
  EXPECT_EQ(LineIndex::from_source_text(std::string(100, 'a') + "\xC3\xA9").kind(), LineIndexKind::NonAscii);
}

TEST(LineIndex, Positions) {
  struct Case {
    std::string text;
    std::uint32_t offset;
    ColumnUnit unit;
    TextPosition position;
  };
  const std::string e_acute = "\xC3\xA9";        // U+00E9, two bytes, one UTF-16 unit
  const std::string grin = "\xF0\x9F\x98\x80";   // U+1F600, four bytes, two UTF-16 units
  const Case cases[] = {
      {"", 0, ColumnUnit::Characters, at(1, 1)},
      {"ab\ncd", 2, ColumnUnit::Characters, at(1, 3)},  // the "\n" is the end of line 1
      {"ab\ncd", 3, ColumnUnit::Characters, at(2, 1)},
      {"ab\ncd", 5, ColumnUnit::Bytes, at(2, 3)},
      {"a\r\nb", 2, ColumnUnit::Characters, at(1, 3)},  // between "\r" and "\n"
      {"a\r\nb", 3, ColumnUnit::Characters, at(2, 1)},
      {"a\rb", 2, ColumnUnit::Characters, at(2, 1)},
      {"a\n", 2, ColumnUnit::Characters, at(2, 1)},  // the empty last line
      {e_acute + "x", 2, ColumnUnit::Characters, at(1, 2)},
      {e_acute + "x", 2, ColumnUnit::Bytes, at(1, 3)},
      {e_acute + "x", 2, ColumnUnit::Utf16CodeUnits, at(1, 2)},
      {grin + "x", 4, ColumnUnit::Characters, at(1, 2)},
      {grin + "x", 4, ColumnUnit::Utf16CodeUnits, at(1, 3)},
      {grin + "x", 4, ColumnUnit::Bytes, at(1, 5)},
      {"x\n" + e_acute + grin + "y", 8, ColumnUnit::Characters, at(2, 3)},
      {"x\n" + e_acute + grin + "y", 8, ColumnUnit::Utf16CodeUnits, at(2, 4)},
      // Only line 2 holds a non-ASCII character: line 1 still counts right.
      {"abc\n" + e_acute, 3, ColumnUnit::Utf16CodeUnits, at(1, 4)},
  };
  for (const Case& c : cases) {
    LineIndex index = LineIndex::from_source_text(c.text);
    EXPECT_EQ(index.source_location(TextOffset(c.offset), c.text, c.unit), c.position)
        << c.text << " @" << c.offset << " unit " << static_cast<int>(c.unit);
  }
}

TEST(LineIndex, ByteOrderMarkIsInvisibleInLineColumn) {
  const std::string text = "\xEF\xBB\xBF" "abc\nde";
  LineIndex index = LineIndex::from_source_text(text);
  EXPECT_EQ(index.line_column(TextOffset(0), text), at(1, 1));
  EXPECT_EQ(index.line_column(TextOffset(3), text), at(1, 1));
  EXPECT_EQ(index.line_column(TextOffset(5), text), at(1, 3));
  EXPECT_EQ(index.line_column(TextOffset(7), text), at(2, 1));
  EXPECT_EQ(index.line_column(TextOffset(9), text), at(2, 3));
  // source_location keeps the mark as a character.
  EXPECT_EQ(index.source_location(TextOffset(5), text, ColumnUnit::Characters), at(1, 4));
  // A text that merely contains the mark later is unaffected.
  const std::string later = "ab\xEF\xBB\xBF" "c";
  EXPECT_EQ(LineIndex::from_source_text(later).line_column(TextOffset(6), later), at(1, 5));
}

TEST(LineIndex, BytesColumnsDoNotNeedCharacterBoundaries) {
  const std::string text = "\xC3\xA9\xC3\xA9";
  LineIndex index = LineIndex::from_source_text(text);
  EXPECT_EQ(index.source_location(TextOffset(3), text, ColumnUnit::Bytes), at(1, 4));
  EXPECT_EQ(index.characters_between(TextOffset(1), TextOffset(3), text, ColumnUnit::Bytes), 2u);
}

TEST(LineIndex, MisuseIsFatal) {
  const std::string text = "aaaa\xC3\xA9\nb";
  LineIndex index = LineIndex::from_source_text(text);
  EXPECT_EQ(fatal_text([&] { (void)index.line_column(TextOffset(5), text); }),
            "byte index 5 is not a char boundary; it is inside '\xC3\xA9' (bytes 4..6) of `aaaa\xC3\xA9\\nb`");
  EXPECT_EQ(fatal_text([&] { (void)index.source_location(TextOffset(5), text, ColumnUnit::Utf16CodeUnits); }),
            "byte index 5 is not a char boundary; it is inside '\xC3\xA9' (bytes 4..6) of `aaaa\xC3\xA9\\nb`");
  for (ColumnUnit unit : kUnits) {
    EXPECT_EQ(fatal_text([&] { (void)index.source_location(TextOffset(9), text, unit); }),
              "byte index 9 is out of bounds of `aaaa\xC3\xA9\\nb`");
  }
  // All-ASCII texts never look at the bytes, but they are still bounded.
  const std::string ascii = "ab";
  LineIndex ascii_index = LineIndex::from_source_text(ascii);
  EXPECT_EQ(fatal_text([&] { (void)ascii_index.line_column(TextOffset(3), ascii); }),
            "byte index 3 is out of bounds of `ab`");
  EXPECT_EQ(fatal_text([&] {
              (void)ascii_index.characters_between(TextOffset(2), TextOffset(1), ascii, ColumnUnit::Characters);
            }),
            "assertion failed: start.raw <= end.raw");
  EXPECT_EQ(fatal_text([&] {
              (void)index.characters_between(TextOffset(4), TextOffset(5), text, ColumnUnit::Characters);
            }),
            "byte index 5 is not a char boundary; it is inside '\xC3\xA9' (bytes 4..6) of `aaaa\xC3\xA9\\nb`");
}

// A text of 2^32 bytes, mapped but never touched: the length check comes
// before any byte is read.
TEST(LineIndex, TextOf4GiBIsFatal) {
  const std::size_t size = std::size_t{1} << 32;
  void* memory = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) GTEST_SKIP() << "cannot map 4 GiB of address space";
  std::string_view text(static_cast<const char*>(memory), size);
  EXPECT_EQ(fatal_text([&] { (void)LineIndex::from_source_text(text); }),
            "assertion failed: u32::try_from(bytes.len()).is_ok()");
  munmap(memory, size);
}

TEST(LineIndex, CopiesShareOneTableAcrossThreads) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "x = '\xC3\xA9\xF0\x9F\x98\x80'\n";
  LineIndex index = LineIndex::from_source_text(text);
  LineIndex copy = index;
  EXPECT_EQ(copy.line_starts().data(), index.line_starts().data());
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, index, &text, &failures] {
      for (std::uint32_t line = 0; line < 2000; ++line) {
        LineIndex mine = index;  // copies and drops on every thread at once
        // Each line is 13 bytes; offset 11 of a line is just after the U+1F600.
        TextPosition position = mine.line_column(TextOffset(line * 13 + 11), text);
        if (position != at(line + 1, 8)) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// Arbitrary bytes (ill-formed UTF-8 included) at every offset, in bounds and
// out: a position or a FatalError, nothing else.
TEST(LineIndex, ArbitraryBytesGiveAPositionOrAFatalError) {
  std::mt19937 random(77);
  for (int round = 0; round < 200; ++round) {
    std::string text(random() % 80, '\0');
    for (char& byte : text) byte = static_cast<char>(random() % 3 == 0 ? "\n\r\xEF\xBB\xBF"[random() % 5] : random());
    LineIndex index = LineIndex::from_source_text(text);
    for (std::uint32_t offset = 0; offset <= text.size() + 2; ++offset) {
      for (ColumnUnit unit : kUnits) {
        try {
          TextPosition position = index.source_location(TextOffset(offset), text, unit);
          ASSERT_LE(position.line.get(), index.line_starts().size());
          ASSERT_LE(position.column.get(), 2 * std::uint64_t{offset} + 1);  // ill-formed 0xF0 bytes count twice
        } catch (const tolva::FatalError&) {
          ASSERT_TRUE(offset > text.size() || unit != ColumnUnit::Bytes) << offset;
        }
      }
      try {
        (void)index.line_column(TextOffset(offset), text);
      } catch (const tolva::FatalError&) {
      }
    }
  }
}

TEST(OneBasedIndex, FromZeroIndexedSaturates) {
  EXPECT_EQ(OneBasedIndex::from_zero_indexed(0).get(), 1u);
  EXPECT_EQ(OneBasedIndex::from_zero_indexed(41).get(), 42u);
  EXPECT_EQ(OneBasedIndex::from_zero_indexed(UINT64_MAX).get(), UINT64_MAX);
  EXPECT_EQ(OneBasedIndex(42).to_zero_indexed(), 41u);
  EXPECT_EQ(fatal_text([] { (void)OneBasedIndex(0); }), "a one-based index is never 0");
}

// ---------------------------------------------------------------------------
// Random texts against a naive reference.

// Position of every character boundary of a well-formed UTF-8 text, found by
// walking it character by character.
struct ReferencePosition {
  std::uint32_t offset;
  std::uint64_t line;
  std::uint64_t bytes;
  std::uint64_t utf16;
  std::uint64_t characters;
};

std::vector<ReferencePosition> reference_positions(const std::string& text, std::vector<std::uint32_t>& starts) {
  std::vector<ReferencePosition> positions;
  starts = {0};
  std::uint64_t line = 1, bytes = 0, utf16 = 0, characters = 0;
  std::uint32_t i = 0;
  while (true) {
    positions.push_back({i, line, bytes, utf16, characters});
    if (i == text.size()) break;
    auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    bool breaks = text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    i += length;
    bytes += length;
    utf16 += length == 4 ? 2 : 1;
    characters += 1;
    if (breaks) {
      ++line;
      bytes = utf16 = characters = 0;
      starts.push_back(i);
    }
  }
  return positions;
}

std::string random_text(std::mt19937& random, std::size_t length, bool ascii_only, bool long_lines, bool mark) {
  static const std::string pieces[] = {"a", "\r", "\n", "\xC3\xA9", "\xF0\x9F\x98\x80"};
  std::string text = mark ? "\xEF\xBB\xBF" : "";
  while (text.size() < length) {
    std::size_t piece = random() % (ascii_only ? 3 : 5);
    if (long_lines && (piece == 1 || piece == 2) && random() % 50 != 0) piece = ascii_only ? 0 : 3 + random() % 2;
    if (text.size() + pieces[piece].size() > length) piece = 0;
    text += pieces[piece];
  }
  return text;
}

TEST(LineIndex, AgreesWithNaiveReferenceOnRandomTexts) {
  std::mt19937 random(1234);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 70; ++n) lengths.push_back(n);
  for (std::size_t n : {95, 96, 97, 127, 128, 129, 255, 256, 257, 511, 512, 513, 1000, 4095, 4096, 4097, 40000}) {
    lengths.push_back(n);
  }
  for (std::size_t length : lengths) {
    for (int variant = 0; variant < 8; ++variant) {
      bool ascii_only = variant == 0;
      bool long_lines = variant % 2 == 1;
      bool mark = variant >= 6;
      std::string text = random_text(random, length, ascii_only, long_lines, mark);
      std::vector<std::uint32_t> expected_starts;
      std::vector<ReferencePosition> positions = reference_positions(text, expected_starts);
      LineIndex index = LineIndex::from_source_text(text);
      ASSERT_EQ(starts_of(text), expected_starts) << text;
      bool has_high = text.find_first_of("\xC3\xF0\xEF") != std::string::npos;
      ASSERT_EQ(index.kind(), has_high ? LineIndexKind::NonAscii : LineIndexKind::Ascii);
      for (const ReferencePosition& p : positions) {
        TextOffset offset(p.offset);
        ASSERT_EQ(index.source_location(offset, text, ColumnUnit::Bytes), at(p.line, p.bytes + 1)) << p.offset;
        ASSERT_EQ(index.source_location(offset, text, ColumnUnit::Utf16CodeUnits), at(p.line, p.utf16 + 1))
            << p.offset;
        ASSERT_EQ(index.source_location(offset, text, ColumnUnit::Characters), at(p.line, p.characters + 1))
            << p.offset;
        std::uint64_t visible = p.characters - (mark && p.line == 1 && p.characters > 0 ? 1 : 0);
        ASSERT_EQ(index.line_column(offset, text), at(p.line, visible + 1)) << p.offset;
      }
      // Spans between random boundaries, across lines.
      for (int pair = 0; pair < 50; ++pair) {
        const ReferencePosition& a = positions[random() % positions.size()];
        const ReferencePosition& b = positions[random() % positions.size()];
        const ReferencePosition& first = a.offset <= b.offset ? a : b;
        const ReferencePosition& last = a.offset <= b.offset ? b : a;
        std::uint64_t characters = 0, utf16 = 0;
        for (const ReferencePosition& p : positions) {
          if (p.offset > first.offset && p.offset <= last.offset) {
            ++characters;
            utf16 += 1;
          }
        }
        for (std::uint32_t i = first.offset; i < last.offset; ++i) utf16 += static_cast<unsigned char>(text[i]) >= 0xF0;
        TextOffset start(first.offset), end(last.offset);
        ASSERT_EQ(index.characters_between(start, end, text, ColumnUnit::Characters), characters);
        ASSERT_EQ(index.characters_between(start, end, text, ColumnUnit::Utf16CodeUnits), utf16);
        ASSERT_EQ(index.characters_between(start, end, text, ColumnUnit::Bytes), last.offset - first.offset);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The standard library of each installed Python, against Python's own line
// splitting (universal newlines: "\n", "\r\n", "\r") and its own character
// and UTF-16 lengths.

constexpr const char* kPeerScript = R"PY(
import io, pathlib, sys
root = pathlib.Path(sys.argv[1])
out = []
for path in sorted(root.rglob('*.py')):
    if 'site-packages' in path.parts:
        continue
    try:
        text = path.read_bytes().decode('utf-8')
    except (OSError, UnicodeDecodeError):
        continue
    starts, chars, units, offset = [0], [], [], 0
    for line in io.StringIO(text, newline='').readlines():
        if line.endswith('\r\n'):
            body = line[:-2]
        elif line.endswith(('\r', '\n')):
            body = line[:-1]
        else:
            body = line
        chars.append(len(body))
        units.append(len(body.encode('utf-16-le')) // 2)
        offset += len(line.encode('utf-8'))
        if line.endswith(('\r', '\n')):
            starts.append(offset)
    out.append('F %s\nS %s\nC %s\nU %s\n' % (path, ' '.join(map(str, starts)), ' '.join(map(str, chars)),
                                             ' '.join(map(str, units))))
sys.stdout.write(''.join(out))
)PY";

std::vector<std::uint64_t> numbers(const std::string& line) {
  std::istringstream in(line.substr(1));
  return {std::istream_iterator<std::uint64_t>(in), std::istream_iterator<std::uint64_t>()};
}

void check_against_python(std::string_view version) {
  TOLVA_TEST_PYTHON_OR_SKIP(python);
  TOLVA_ORACLE_OR_SKIP(oracle, version);
  const std::string& library = oracle->stdlib;
  test_support::ScriptRun peer = test_support::run_python_script(*python, kPeerScript, library);
  ASSERT_TRUE(peer.exited_cleanly) << "the peer script failed on " << library;
  const std::string& output = peer.output;

  std::istringstream lines(output);
  std::string file_line, starts_line, chars_line, units_line;
  std::size_t files = 0;
  while (std::getline(lines, file_line) && std::getline(lines, starts_line) && std::getline(lines, chars_line) &&
         std::getline(lines, units_line)) {
    std::string path = file_line.substr(2);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LineIndex index = LineIndex::from_source_text(text);
    std::vector<std::uint64_t> starts = numbers(starts_line);
    std::vector<std::uint64_t> chars = numbers(chars_line);
    std::vector<std::uint64_t> units = numbers(units_line);
    auto ours = index.line_starts();
    ASSERT_EQ(std::vector<std::uint64_t>(ours.begin(), ours.end()), starts) << path;
    // The end of each line's content, before its break.
    for (std::size_t row = 0; row < chars.size(); ++row) {
      std::uint64_t next = row + 1 < starts.size() ? starts[row + 1] : text.size();
      std::uint64_t end = next;
      if (end > starts[row] && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
      if (end > starts[row] && text[end - 1] == '\r' && text[end] == '\n') --end;
      TextOffset offset(static_cast<std::uint32_t>(end));
      ASSERT_EQ(index.source_location(offset, text, ColumnUnit::Characters), at(row + 1, chars[row] + 1))
          << path << " line " << row + 1;
      ASSERT_EQ(index.source_location(offset, text, ColumnUnit::Utf16CodeUnits), at(row + 1, units[row] + 1))
          << path << " line " << row + 1;
    }
    ++files;
  }
  EXPECT_GT(files, 100u) << "too few files read from " << library;
}

TEST(LineIndexCorpus, Python311) { check_against_python("3.11"); }
TEST(LineIndexCorpus, Python312) { check_against_python("3.12"); }
TEST(LineIndexCorpus, Python313) { check_against_python("3.13"); }

}  // namespace
}  // namespace source_file
