#include "python_trivia/comment_ranges.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/fatal_error.h"
#include "test_support/oracle.h"
#include "test_support/process.h"

namespace python_trivia {
namespace {

using python_ast::Token;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

Token token(TokenKind kind, std::uint32_t start, std::uint32_t end) { return Token{TextRange(start, end), {}, kind}; }

CommentRanges comments_at(const std::vector<TextRange>& ranges) {
  std::vector<Token> tokens;
  for (TextRange range : ranges) tokens.push_back(Token{range, {}, TokenKind::Comment});
  return CommentRanges::from(python_ast::Tokens(tokens));
}

std::vector<TextRange> as_vector(std::span<const TextRange> ranges) { return {ranges.begin(), ranges.end()}; }

TEST(CommentRanges, KeepsOnlyCommentTokensInOrder) {
  // x = 1  # one\n# two\n
  python_ast::Tokens tokens(std::vector<Token>{
      token(TokenKind::Name, 0, 1), token(TokenKind::Equal, 2, 3), token(TokenKind::Int, 4, 5),
      token(TokenKind::Comment, 7, 12), token(TokenKind::Newline, 12, 13), token(TokenKind::Comment, 13, 18),
      token(TokenKind::NonLogicalNewline, 18, 19)});
  CommentRanges comments = CommentRanges::from(tokens);
  EXPECT_EQ(as_vector(comments.ranges()), (std::vector<TextRange>{TextRange(7, 12), TextRange(13, 18)}));
  EXPECT_TRUE(CommentRanges::from(python_ast::Tokens()).ranges().empty());
  EXPECT_TRUE(CommentRanges().comments_in_range(TextRange(0, 100)).empty());
}

TEST(CommentRanges, TokensOutOfOrderAreFatal) {
  std::vector<Token> tokens{token(TokenKind::Comment, 10, 20), token(TokenKind::Comment, 15, 25)};
  try {
    (void)CommentRanges::from(tokens);
    FAIL() << "no fatal error";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "comment tokens must be in source order and must not overlap");
  }
}

TEST(CommentRanges, CommentsInRange) {
  CommentRanges comments = comments_at({TextRange(0, 5), TextRange(10, 20), TextRange(30, 40)});
  struct Case {
    TextRange range;
    std::vector<TextRange> expected;
  };
  const Case cases[] = {
      {TextRange(0, 20), {TextRange(0, 5), TextRange(10, 20)}},
      {TextRange(5, 25), {TextRange(10, 20)}},
      {TextRange(11, 40), {TextRange(30, 40)}},  // 10..20 starts before 11
      {TextRange(0, 35), {TextRange(0, 5), TextRange(10, 20)}},
      {TextRange(0, 40), {TextRange(0, 5), TextRange(10, 20), TextRange(30, 40)}},
      {TextRange(0, 4), {}},
      {TextRange(41, 50), {}},
      {TextRange(10, 10), {}},
      {TextRange(40, 40), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(as_vector(comments.comments_in_range(c.range)), c.expected) << c.range;
}

// Random sorted, non-overlapping comments against the plain definition:
// every comment with range.start <= start and end <= range.end.
TEST(CommentRanges, CommentsInRangeAgreesWithDefinition) {
  std::mt19937 random(99);
  for (int round = 0; round < 200; ++round) {
    std::vector<TextRange> ranges;
    std::uint32_t at = 0;
    for (std::size_t count = random() % 30; count > 0; --count) {
      at += random() % 6;
      std::uint32_t end = at + 1 + random() % 8;
      ranges.emplace_back(at, end);
      at = end;
    }
    CommentRanges comments = comments_at(ranges);
    for (int query = 0; query < 100; ++query) {
      std::uint32_t a = random() % (at + 5), b = random() % (at + 5);
      TextRange range(std::min(a, b), std::max(a, b));
      std::vector<TextRange> expected;
      for (TextRange comment : ranges) {
        if (comment.start() >= range.start() && comment.end() <= range.end()) expected.push_back(comment);
      }
      ASSERT_EQ(as_vector(comments.comments_in_range(range)), expected) << range;
    }
  }
}

TEST(CommentRanges, IsOwnLine) {
  struct Case {
    std::string text;
    std::uint32_t offset;
    bool own_line;
  };
  const Case cases[] = {
      {"# c", 0, true},
      {"    # c", 4, true},
      {"\t \f# c", 3, true},
      {"\xEF\xBB\xBF# c", 3, true},
      {"\xEF\xBB\xBF  # c", 5, true},
      {"x = 1  # c", 7, false},
      {"x = 1\n  # c", 8, true},
      {"x = 1\r\n# c", 7, true},
      {"x = 1\r# c", 6, true},
      {"\xC2\xA0# c", 2, false},  // a non-breaking space is not indentation
      {"\v# c", 1, false},
      {"\x01# c", 1, false},
      {"\xE3\x80\x80# c", 3, false},  // an ideographic space neither
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommentRanges::is_own_line(TextOffset(c.offset), c.text), c.own_line) << c.text << " @" << c.offset;
  }
}

TEST(CommentRanges, IsOwnLineMisuseIsFatal) {
  auto fatal_text = [](std::uint32_t offset, std::string_view text) -> std::string {
    try {
      (void)CommentRanges::is_own_line(TextOffset(offset), text);
    } catch (const tolva::FatalError& error) {
      return error.message();
    }
    return "no fatal error";
  };
  // Offset 0 of a text with a byte order mark lies before its line start, 3.
  EXPECT_EQ(fatal_text(0, "\xEF\xBB\xBF# c"), "assertion failed: start.raw <= end.raw");
  EXPECT_EQ(fatal_text(1, "\xEF\xBB\xBF# c"),
            "byte index 1 is not a char boundary; it is inside '\xEF\xBB\xBF' (bytes 0..3) of `\xEF\xBB\xBF# c`");
  EXPECT_EQ(fatal_text(4, "# c"), "byte index 4 is out of bounds of `# c`");
}

// Every comment that CPython's tokenize finds in the standard library, with
// Python's own answer to "only spaces, tabs and form feeds before it on its
// line". Files with a lone "\r" are left out: tokenize splits lines at "\n"
// only.
constexpr const char* kPeerScript = R"PY(
import io, pathlib, sys, tokenize
root = pathlib.Path(sys.argv[1])
out = []
for path in sorted(root.rglob('*.py')):
    if 'site-packages' in path.parts:
        continue
    try:
        data = path.read_bytes()
        text = data.decode('utf-8-sig')
        if '\r' in text.replace('\r\n', ''):
            continue
        tokens = list(tokenize.generate_tokens(io.StringIO(text, newline='').readline))
    except (OSError, UnicodeDecodeError, SyntaxError, tokenize.TokenError):
        continue
    lines = io.StringIO(text, newline='').readlines()
    line_offsets = [3 if data.startswith(b'\xef\xbb\xbf') else 0]
    for line in lines:
        line_offsets.append(line_offsets[-1] + len(line.encode('utf-8')))
    found = []
    for token in tokens:
        if token.type != tokenize.COMMENT:
            continue
        row, col = token.start
        line = lines[row - 1]
        offset = line_offsets[row - 1] + len(line[:col].encode('utf-8'))
        own = line[:col].strip(' \t\f') == ''
        found.append('%d:%d' % (offset, own))
    out.append('F %s\nC %s\n' % (path, ' '.join(found)))
sys.stdout.write(''.join(out))
)PY";

void check_against_python(std::string_view version) {
  TOLVA_TEST_PYTHON_OR_SKIP(python);
  TOLVA_ORACLE_OR_SKIP(oracle, version);
  const std::string& library = oracle->stdlib;
  test_support::ScriptRun peer = test_support::run_python_script(*python, kPeerScript, library);
  ASSERT_TRUE(peer.exited_cleanly) << "the peer script failed on " << library;
  const std::string& output = peer.output;

  std::istringstream lines(output);
  std::string file_line, comments_line;
  std::size_t comments = 0;
  while (std::getline(lines, file_line) && std::getline(lines, comments_line)) {
    std::string path = file_line.substr(2);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream entries(comments_line.substr(1));
    std::string entry;
    while (entries >> entry) {
      std::size_t colon = entry.find(':');
      auto offset = static_cast<std::uint32_t>(std::stoul(entry.substr(0, colon)));
      bool own_line = entry.substr(colon + 1) == "1";
      ASSERT_EQ(text.compare(offset, 1, "#"), 0) << path << " @" << offset;
      ASSERT_EQ(CommentRanges::is_own_line(TextOffset(offset), text), own_line) << path << " @" << offset;
      ++comments;
    }
  }
  EXPECT_GT(comments, 1000u) << "too few comments read from " << library;
}

TEST(CommentRangesCorpus, IsOwnLinePython311) { check_against_python("3.11"); }
TEST(CommentRangesCorpus, IsOwnLinePython312) { check_against_python("3.12"); }
TEST(CommentRangesCorpus, IsOwnLinePython313) { check_against_python("3.13"); }

}  // namespace
}  // namespace python_trivia
