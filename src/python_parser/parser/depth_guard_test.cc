#include "python_parser/parser/depth_guard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <functional>
#include <string>

#include "python_parser/parse.h"
#include "support/fatal_error.h"
#include "test_support/text.h"
#include "test_support/threads.h"

namespace python_parser {
namespace {

using python_ast::TokenKind;
using text_size::TextRange;

struct Fixture {
  explicit Fixture(std::string_view text) : parser(text, Mode::Module, arena) {}
  python_ast::Arena arena;
  Parser parser;
};

// A recursive grammar in miniature: group := "(" group ")" | name. Returns
// the nesting it saw; the deepest entry reached is kept in `deepest`.
struct Nested {
  std::uint32_t deepest = 0;
  std::uint32_t current = 0;

  int parse(Parser& p) {
    DepthGuard depth(p);
    if (depth.exceeded()) return 0;
    ++current;
    if (current > deepest) deepest = current;
    int result = 0;
    if (p.eat(TokenKind::Lpar)) {
      result = parse(p) + 1;
      p.expect(TokenKind::Rpar);
    } else if (!p.eat(TokenKind::Name)) {
      p.add_error(ParseErrorType::other("Expected a name"), p.current_token_range());
    }
    --current;
    return result;
  }
};

// The same with a large frame, so that a small stack runs out long before
// the nesting count does.
struct NestedBigFrames {
  std::uint32_t deepest = 0;

  __attribute__((noinline)) int parse(Parser& p, std::uint32_t level) {
    DepthGuard depth(p);
    if (depth.exceeded()) return 0;
    volatile char frame[4096];
    std::memset(const_cast<char*>(frame), static_cast<int>(level), sizeof(frame));
    if (level > deepest) deepest = level;
    int result = 0;
    if (p.eat(TokenKind::Lpar)) {
      result = parse(p, level + 1) + 1;
      p.expect(TokenKind::Rpar);
    } else {
      p.eat(TokenKind::Name);
    }
    return result + frame[level % sizeof(frame)] * 0;
  }
};

using test_support::repeat;

using test_support::run_on_thread;

TEST(DepthGuard, OrdinaryNestingParsesUnchanged) {
  // CPython's own limit is 200 nested brackets; far below ours.
  for (std::size_t depth : {0u, 1u, 3u, 200u, 900u}) {
    SCOPED_TRACE(depth);
    std::string text = repeat("(", depth) + "x" + repeat(")", depth) + "\n";
    Fixture f(text);
    Nested nested;
    EXPECT_EQ(nested.parse(f.parser), static_cast<int>(depth));
    EXPECT_TRUE(f.parser.errors().empty());
    EXPECT_FALSE(f.parser.nesting_exceeded());
    EXPECT_TRUE(f.parser.at(TokenKind::Newline));
  }
}

TEST(DepthGuard, TheCountLimitRecordsOneErrorAndSkipsToTheEnd) {
  std::string text = repeat("(", kMaxNestingDepth + 50) + "x" + repeat(")", kMaxNestingDepth + 50) + "\n";
  Fixture f(text);
  Nested nested;
  nested.parse(f.parser);
  EXPECT_EQ(nested.deepest, kMaxNestingDepth);
  ASSERT_EQ(f.parser.errors().size(), 1u);
  EXPECT_EQ(f.parser.errors()[0].error.display(), kNestingTooDeepMessage);
  // At the entry that crossed the limit, the current token was the bracket
  // at offset kMaxNestingDepth.
  EXPECT_EQ(f.parser.errors()[0].range, TextRange(kMaxNestingDepth, kMaxNestingDepth + 1));
  EXPECT_TRUE(f.parser.nesting_exceeded());
  EXPECT_TRUE(f.parser.at(TokenKind::EndOfFile));
  // Every token was still recorded, so the token list covers the text.
  f.parser.bump(TokenKind::EndOfFile);
  TokenSource::Finished finished = std::move(f.parser.token_source()).finish();
  EXPECT_EQ(finished.tokens.size(), text.size());  // one token per byte, the Newline included
  EXPECT_TRUE(finished.errors.empty());
}

void expect_one_nesting_error_for_unclosed_brackets(std::size_t count) {
  std::string text = repeat("(", count);
  Fixture f(text);
  Nested nested;
  nested.parse(f.parser);
  ASSERT_EQ(f.parser.errors().size(), 1u);
  EXPECT_EQ(f.parser.errors()[0].error.display(), kNestingTooDeepMessage);
  EXPECT_LE(nested.deepest, kMaxNestingDepth);
  ASSERT_TRUE(f.parser.at(TokenKind::EndOfFile));
  f.parser.bump(TokenKind::EndOfFile);
  TokenSource::Finished finished = std::move(f.parser.token_source()).finish();
  // The lexer reports the unclosed brackets at the end on its own.
  ASSERT_EQ(finished.errors.size(), 1u);
  EXPECT_EQ(finished.errors[0].error.kind(), LexicalErrorType::UnexpectedEof);
}

TEST(DepthGuard, HundredThousandOpenBracketsOnTheMainThread) {
  expect_one_nesting_error_for_unclosed_brackets(100'000);
}

TEST(DepthGuard, HundredThousandOpenBracketsOnASmallStack) {
  run_on_thread(256 * 1024, [] { expect_one_nesting_error_for_unclosed_brackets(100'000); });
}

TEST(DepthGuard, TheStackLimitStopsBeforeTheStackRunsOut) {
  run_on_thread(256 * 1024, [] {
    std::string text = repeat("(", 100'000) + "x" + repeat(")", 100'000);
    Fixture f(text);
    NestedBigFrames nested;
    nested.parse(f.parser, 1);
    // 256 KiB of 4 KiB frames: the stack ran short long before the count.
    EXPECT_LT(nested.deepest, 64u);
    EXPECT_GT(nested.deepest, 4u);
    ASSERT_EQ(f.parser.errors().size(), 1u);
    EXPECT_EQ(f.parser.errors()[0].error.display(), kNestingTooDeepMessage);
    EXPECT_TRUE(f.parser.at(TokenKind::EndOfFile));
  });
}

TEST(DepthGuard, CallersUnwindThroughListsWithoutTrippingTheProgressGuard) {
  // Statements that nest: the deep one trips the limit, every list and loop
  // above it then sees the end of file and stops.
  std::string text = "a\n(b)\n" + repeat("(", 5000) + "\n[c, (d), " + repeat("(", 5000) + "]\ne\n";
  Fixture f(text);
  Nested nested;
  auto statement = [&](Parser& p) {
    auto group = [&](Parser& q) { nested.parse(q); };
    if (p.eat(TokenKind::Lsqb)) {
      p.parse_comma_separated_list(RecoveryContextKind::ListElements, TrailingComma::Allowed, group);
      p.expect(TokenKind::Rsqb);
    } else {
      nested.parse(p);
    }
    p.expect(TokenKind::Newline);
    return p.node_range(p.node_start());
  };
  std::span<TextRange> statements = f.parser.parse_list(RecoveryContextKind::ModuleStatements, statement);
  EXPECT_EQ(statements.size(), 3u);
  ASSERT_EQ(f.parser.errors().size(), 1u);
  EXPECT_EQ(f.parser.errors()[0].error.display(), kNestingTooDeepMessage);
  EXPECT_TRUE(f.parser.at(TokenKind::EndOfFile));
  // Errors that the unwinding callers would record are artefacts of the
  // skipped text and are not kept.
  f.parser.add_error(ParseErrorType::ExpectedExpression, TextRange(0, 1));
  EXPECT_EQ(f.parser.errors().size(), 1u);
}

TEST(DepthGuard, RewindUndoesTheTripAndItsSkip) {
  std::string text = "x " + repeat("(", 3000);
  Fixture f(text);
  f.parser.bump(TokenKind::Name);
  ParserCheckpoint checkpoint = f.parser.checkpoint();
  Nested nested;
  nested.parse(f.parser);
  ASSERT_TRUE(f.parser.nesting_exceeded());
  f.parser.rewind(checkpoint);
  EXPECT_FALSE(f.parser.nesting_exceeded());
  EXPECT_TRUE(f.parser.errors().empty());
  EXPECT_EQ(f.parser.current_token_range(), TextRange(2, 3));
  // The same reading trips again, and records its error again.
  nested.parse(f.parser);
  EXPECT_TRUE(f.parser.nesting_exceeded());
  EXPECT_EQ(f.parser.errors().size(), 1u);
}

TEST(DepthGuard, TheStackFloorOfAThreadLiesInsideItsStack) {
  auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  std::uintptr_t floor = stack_floor_of_current_thread();
  ASSERT_NE(floor, 0u);
  EXPECT_LT(floor, here);
  run_on_thread(256 * 1024, [] {
    auto there = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    std::uintptr_t thread_floor = stack_floor_of_current_thread();
    ASSERT_NE(thread_floor, 0u);
    EXPECT_LT(thread_floor, there);
    EXPECT_GT(thread_floor + 256 * 1024, there);
  });
}

}  // namespace
}  // namespace python_parser
