#include "python_ast/token.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <type_traits>

#include "support/fatal_error.h"

namespace python_ast {
namespace {

using text_size::TextRange;

TEST(TokenFlags, BitsMatchTheStringFlagsLayout) {
  struct Case {
    TokenFlags flag;
    std::uint16_t bits;
    std::uint16_t any_bits;
  };
  const Case cases[] = {
      {TokenFlags::kDoubleQuoted, 0x001, AnyStringFlags::kDoubleQuoted},
      {TokenFlags::kTripleQuoted, 0x002, AnyStringFlags::kTripleQuoted},
      {TokenFlags::kPrefixU, 0x004, AnyStringFlags::kPrefixU},
      {TokenFlags::kPrefixB, 0x008, AnyStringFlags::kPrefixB},
      {TokenFlags::kPrefixF, 0x010, AnyStringFlags::kPrefixF},
      {TokenFlags::kPrefixT, 0x020, AnyStringFlags::kPrefixT},
      {TokenFlags::kPrefixLowerR, 0x040, AnyStringFlags::kPrefixLowerR},
      {TokenFlags::kPrefixUpperR, 0x080, AnyStringFlags::kPrefixUpperR},
      {TokenFlags::kUnclosed, 0x100, AnyStringFlags::kUnclosed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.flag.bits(), c.bits);
    EXPECT_EQ(c.any_bits, c.bits);
    EXPECT_EQ(c.flag.as_any_string_flags().bits(), c.bits);
  }
  EXPECT_EQ(TokenFlags::from_bits(0xFFFF).bits(), 0x1FF) << "unknown bits are dropped";
  EXPECT_TRUE(TokenFlags().is_empty());
}

TEST(TokenFlags, SetOperationsAndQueries) {
  TokenFlags flags;
  flags.insert(TokenFlags::kPrefixF);
  flags |= TokenFlags::kTripleQuoted;
  EXPECT_EQ(flags.bits(), 0x012);
  EXPECT_TRUE(flags.contains(TokenFlags::kPrefixF | TokenFlags::kTripleQuoted));
  EXPECT_FALSE(flags.contains(TokenFlags::kPrefixF | TokenFlags::kDoubleQuoted));
  EXPECT_TRUE(flags.intersects(TokenFlags::kPrefixF | TokenFlags::kDoubleQuoted));
  EXPECT_TRUE(flags.is_triple_quoted_interpolated_string());
  EXPECT_FALSE(flags.is_raw_string());
  flags.remove(TokenFlags::kPrefixF);
  EXPECT_EQ(flags.bits(), 0x002);
  EXPECT_FALSE(flags.is_triple_quoted_interpolated_string()) << "a triple-quoted plain string";

  struct Case {
    TokenFlags flags;
    bool triple_interpolated;
    bool raw;
    bool unclosed;
  };
  const Case cases[] = {
      {TokenFlags::kPrefixT | TokenFlags::kTripleQuoted, true, false, false},
      {TokenFlags::kPrefixT, false, false, false},
      {TokenFlags::kPrefixB | TokenFlags::kTripleQuoted, false, false, false},
      {TokenFlags::kPrefixUpperR | TokenFlags::kUnclosed, false, true, true},
      {TokenFlags::kPrefixLowerR | TokenFlags::kPrefixF | TokenFlags::kTripleQuoted, true, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.flags.is_triple_quoted_interpolated_string(), c.triple_interpolated) << c.flags;
    EXPECT_EQ(c.flags.is_raw_string(), c.raw) << c.flags;
    EXPECT_EQ(c.flags.is_unclosed(), c.unclosed) << c.flags;
  }
}

TEST(Token, IsTwelveBytesAndPlain) {
  static_assert(sizeof(Token) == 12);
  static_assert(std::is_trivially_copyable_v<Token>);
  Token token{TextRange(3, 4), TokenFlags(), TokenKind::Lpar};
  std::ostringstream out;
  out << token;
  EXPECT_EQ(out.str(), "Lpar 3..4 0x000");
  Token string{TextRange(0, 9), TokenFlags::kPrefixB | TokenFlags::kDoubleQuoted, TokenKind::String};
  out.str("");
  out << string;
  EXPECT_EQ(out.str(), "String 0..9 0x009");
}

TEST(Tokens, AppendTruncateAndRead) {
  Tokens tokens;
  EXPECT_TRUE(tokens.empty());
  const Token sequence[] = {
      {TextRange(0, 5), {}, TokenKind::Comment},
      {TextRange(5, 6), {}, TokenKind::NonLogicalNewline},
      {TextRange(6, 7), {}, TokenKind::Name},
      {TextRange(8, 9), {}, TokenKind::Equal},
  };
  for (const Token& token : sequence) tokens.push_back(token);
  ASSERT_EQ(tokens.size(), 4u);
  std::size_t i = 0;
  for (const Token& token : tokens) EXPECT_EQ(token, sequence[i++]);
  EXPECT_EQ(tokens.as_span().size(), 4u);
  EXPECT_EQ(tokens[2].kind, TokenKind::Name);

  tokens.truncate(10);  // longer than the list: nothing changes
  EXPECT_EQ(tokens.size(), 4u);
  tokens.truncate(2);  // a rewind to a checkpoint taken after the trivia
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[1].kind, TokenKind::NonLogicalNewline);
  tokens.push_back(sequence[3]);
  EXPECT_EQ(tokens[2], sequence[3]);
  tokens.truncate(0);
  EXPECT_TRUE(tokens.empty());
}

TEST(Tokens, GrowsThroughManyReallocationsAndCopiesAndMovesWhole) {
  Tokens tokens;
  // Through the heap, the move to a mapping of its own, and its remapping.
  constexpr std::uint32_t kCount = 2500000;
  for (std::uint32_t i = 0; i < kCount; ++i) tokens.push_back({TextRange(i, i + 1), {}, TokenKind::Name});
  ASSERT_EQ(tokens.size(), kCount);
  for (std::uint32_t i = 0; i < kCount; i += 997) ASSERT_EQ(tokens[i].range, TextRange(i, i + 1));
  EXPECT_EQ(tokens[kCount - 1].range, TextRange(kCount - 1, kCount));

  Tokens copy = tokens;
  tokens.truncate(1);
  ASSERT_EQ(copy.size(), kCount);
  EXPECT_EQ(copy[kCount - 1].range, TextRange(kCount - 1, kCount));
  copy = tokens;
  ASSERT_EQ(copy.size(), 1u);

  Tokens moved = std::move(tokens);
  EXPECT_TRUE(tokens.empty());  // NOLINT(bugprone-use-after-move): a moved-from list is empty
  ASSERT_EQ(moved.size(), 1u);
  moved = Tokens(std::vector<Token>{{TextRange(2, 3), {}, TokenKind::Comma}});
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved[0].kind, TokenKind::Comma);
}

TEST(Tokens, IndexPastTheEndIsFatal) {
  Tokens tokens;
  tokens.push_back({TextRange(0, 1), {}, TokenKind::Name});
  try {
    (void)tokens[1];
    FAIL() << "no FatalError";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "index out of bounds: the len is 1 but the index is 1");
  }
}

}  // namespace
}  // namespace python_ast
