#include "python_parser/token_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fatal_error.h"

namespace python_parser {
namespace {

using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

std::vector<TokenKind> kinds_of(const python_ast::Tokens& tokens) {
  std::vector<TokenKind> kinds;
  for (const python_ast::Token& token : tokens) kinds.push_back(token.kind);
  return kinds;
}

// Consumes every token up to and including the end of file.
void consume_all(TokenSource& source) {
  while (source.current_kind() != TokenKind::EndOfFile) source.bump(source.current_kind());
  source.bump(TokenKind::EndOfFile);
}

struct Fixture {
  explicit Fixture(std::string_view text, Mode mode = Mode::Module)
      : source(text, mode, TextOffset(0), arena) {}
  python_ast::Arena arena;
  TokenSource source;
};

TEST(TokenSource, LeadingTriviaIsRecordedBeforeTheFirstSignificantToken) {
  Fixture f("# one\n# two\nx = 1\n");
  EXPECT_EQ(f.source.current_kind(), TokenKind::Name);
  EXPECT_EQ(f.source.current_range(), TextRange(12, 13));
  EXPECT_EQ(kinds_of(f.source.tokens()), (std::vector<TokenKind>{TokenKind::Comment, TokenKind::NonLogicalNewline,
                                                                 TokenKind::Comment, TokenKind::NonLogicalNewline}));
  EXPECT_EQ(f.source.tokens()[0].range, TextRange(0, 5));
  EXPECT_EQ(f.source.tokens()[3].range, TextRange(11, 12));
}

TEST(TokenSource, TrailingCommentSitsBetweenTheLastTokenAndTheNewline) {
  Fixture f("x  # note\ny\n");
  f.source.bump(TokenKind::Name);
  EXPECT_EQ(f.source.current_kind(), TokenKind::Newline);
  EXPECT_EQ(kinds_of(f.source.tokens()), (std::vector<TokenKind>{TokenKind::Name, TokenKind::Comment}));
  EXPECT_EQ(f.source.tokens()[1].range, TextRange(3, 9));
}

TEST(TokenSource, BumpRecordsTheGivenKindWithTheCurrentRangeAndFlags) {
  Fixture f("match 'a'\n");
  // The parser may record a soft keyword under another kind.
  f.source.bump(TokenKind::Name);
  EXPECT_EQ(f.source.current_kind(), TokenKind::String);
  python_ast::TokenFlags flags = f.source.current_flags();
  f.source.bump(TokenKind::String);
  ASSERT_EQ(f.source.tokens().size(), 2u);
  EXPECT_EQ(f.source.tokens()[0], (python_ast::Token{TextRange(0, 5), {}, TokenKind::Name}));
  EXPECT_EQ(f.source.tokens()[1], (python_ast::Token{TextRange(6, 9), flags, TokenKind::String}));
}

TEST(TokenSource, FinishDropsTheEndOfFileToken) {
  struct Case {
    std::string_view text;
    std::vector<TokenKind> tokens;
  };
  const Case cases[] = {
      {"", {}},
      {"# only a comment", {TokenKind::Comment}},
      {"# c\n\n", {TokenKind::Comment, TokenKind::NonLogicalNewline, TokenKind::NonLogicalNewline}},
      {"x", {TokenKind::Name, TokenKind::Newline}},
      {"if x:\n  y\n", {TokenKind::If, TokenKind::Name, TokenKind::Colon, TokenKind::Newline, TokenKind::Indent,
                        TokenKind::Name, TokenKind::Newline, TokenKind::Dedent}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Fixture f(c.text);
    consume_all(f.source);
    TokenSource::Finished finished = std::move(f.source).finish();
    EXPECT_EQ(kinds_of(finished.tokens), c.tokens);
    EXPECT_TRUE(finished.errors.empty());
  }
}

TEST(TokenSource, FinishHandsOverTheLexicalErrors) {
  Fixture f("x = $\n");
  consume_all(f.source);
  TokenSource::Finished finished = std::move(f.source).finish();
  ASSERT_EQ(finished.errors.size(), 1u);
  EXPECT_EQ(finished.errors[0].range, TextRange(4, 5));
  EXPECT_EQ(finished.errors[0].error.kind(), LexicalErrorType::UnexpectedCharacter);
}

TEST(TokenSource, FinishBeforeTheEndIsFatal) {
  Fixture f("x\n");
  try {
    (void)std::move(f.source).finish();
    FAIL() << "finish() before the end of file must be fatal";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "TokenSource was not fully consumed");
  }
}

TEST(TokenSource, PeekSkipsTriviaAndChangesNothing) {
  Fixture f("x\n# comment\n\ny z\n");
  f.source.bump(TokenKind::Name);
  ASSERT_EQ(f.source.current_kind(), TokenKind::Newline);
  std::size_t recorded = f.source.tokens().size();

  EXPECT_EQ(f.source.peek(), TokenKind::Name);
  EXPECT_EQ(f.source.peek2(), std::make_pair(TokenKind::Name, TokenKind::Name));
  EXPECT_EQ(f.source.current_kind(), TokenKind::Newline);
  EXPECT_EQ(f.source.current_range(), TextRange(1, 2));
  EXPECT_EQ(f.source.tokens().size(), recorded);

  // Consuming afterwards records the trivia exactly once.
  f.source.bump(TokenKind::Newline);
  EXPECT_EQ(kinds_of(f.source.tokens()),
            (std::vector<TokenKind>{TokenKind::Name, TokenKind::Newline, TokenKind::Comment,
                                    TokenKind::NonLogicalNewline, TokenKind::NonLogicalNewline}));
  EXPECT_EQ(f.source.current_range(), TextRange(13, 14));
}

TEST(TokenSource, PeekDoesNotKeepLexicalErrorsOfTheLookAhead) {
  Fixture f("x $\n");
  EXPECT_EQ(f.source.peek(), TokenKind::Unknown);
  EXPECT_TRUE(f.source.lexical_errors().empty());
  f.source.bump(TokenKind::Name);
  EXPECT_EQ(f.source.lexical_errors().size(), 1u);
}

TEST(TokenSource, PeekAtTheEndOfFileGivesTheEndOfFile) {
  Fixture f("");
  EXPECT_EQ(f.source.current_kind(), TokenKind::EndOfFile);
  EXPECT_EQ(f.source.peek(), TokenKind::EndOfFile);
  EXPECT_EQ(f.source.peek2(), std::make_pair(TokenKind::EndOfFile, TokenKind::EndOfFile));
}

TEST(TokenSource, ReLexTurnsTheLastNonLogicalNewlineIntoANewline) {
  // Inside the unclosed bracket the line break is non-logical; recovery turns
  // it back into the Newline that ends the statement.
  Fixture f("f(a,  # c\n# d\ndef\n");
  for (TokenKind kind : {TokenKind::Name, TokenKind::Lpar, TokenKind::Name, TokenKind::Comma}) f.source.bump(kind);
  ASSERT_EQ(f.source.current_kind(), TokenKind::Def);
  EXPECT_EQ(kinds_of(f.source.tokens()),
            (std::vector<TokenKind>{TokenKind::Name, TokenKind::Lpar, TokenKind::Name, TokenKind::Comma,
                                    TokenKind::Comment, TokenKind::NonLogicalNewline, TokenKind::Comment,
                                    TokenKind::NonLogicalNewline}));

  f.source.re_lex_logical_token();
  EXPECT_EQ(f.source.current_kind(), TokenKind::Newline);
  EXPECT_EQ(f.source.current_range(), TextRange(9, 10));
  // The comment before that newline stays; everything after it is gone and
  // comes again from the lexer.
  EXPECT_EQ(kinds_of(f.source.tokens()),
            (std::vector<TokenKind>{TokenKind::Name, TokenKind::Lpar, TokenKind::Name, TokenKind::Comma,
                                    TokenKind::Comment}));
  f.source.bump(TokenKind::Newline);
  EXPECT_EQ(f.source.current_kind(), TokenKind::Def);
  EXPECT_EQ(kinds_of(f.source.tokens()),
            (std::vector<TokenKind>{TokenKind::Name, TokenKind::Lpar, TokenKind::Name, TokenKind::Comma,
                                    TokenKind::Comment, TokenKind::Newline, TokenKind::Comment,
                                    TokenKind::NonLogicalNewline}));
}

TEST(TokenSource, DeclinedReLexChangesNeitherTokensNorCurrentToken) {
  struct Case {
    std::string_view text;
    int bumps;  // significant tokens consumed before the re-lex
  };
  const Case cases[] = {
      {"a b\n", 1},   // no open bracket
      {"(a b\n", 2},  // an open bracket, but no line break before the current token
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Fixture f(c.text);
    for (int i = 0; i < c.bumps; ++i) f.source.bump(f.source.current_kind());
    std::vector<TokenKind> before = kinds_of(f.source.tokens());
    TokenKind current = f.source.current_kind();
    TextRange range = f.source.current_range();
    f.source.re_lex_logical_token();
    EXPECT_EQ(kinds_of(f.source.tokens()), before);
    EXPECT_EQ(f.source.current_kind(), current);
    EXPECT_EQ(f.source.current_range(), range);
  }
}

TEST(TokenSource, RewindRestoresTheTokenListAndTheCurrentToken) {
  Fixture f("a # c\nb\nc\n");
  f.source.bump(TokenKind::Name);
  TokenSourceCheckpoint checkpoint = f.source.checkpoint();
  std::vector<TokenKind> before = kinds_of(f.source.tokens());
  for (int i = 0; i < 3; ++i) f.source.bump(f.source.current_kind());
  ASSERT_EQ(f.source.current_kind(), TokenKind::Name);
  f.source.rewind(checkpoint);
  EXPECT_EQ(kinds_of(f.source.tokens()), before);
  EXPECT_EQ(f.source.current_kind(), TokenKind::Newline);
  EXPECT_EQ(f.source.current_range(), TextRange(5, 6));
}

TEST(TokenSource, AFirstErrorSourceWithAnErrorCountsTokensAndRecoversAlike) {
  // A source for a first-error parse stores no token consumed while the
  // parse has an error (here the lexer's, at `$`, or the parser's): it
  // counts them, finds the newline to re-lex among them, rewinds over them,
  // and hands over none. Beside it, a source that stores everything.
  struct Case {
    const char* name;
    std::string_view text;
    bool parser_error;  // the parser reports an error after the first token
  };
  const Case cases[] = {
      {"lexical error", "f(a, $  # c\n# d\n\ndef\n", false},
      {"parser error", "f(a, b  # c\n# d\n\ndef\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture all(c.text);
    Fixture first(c.text);
    first.source.keep_first_lexical_error_only();
    auto bump_both = [&] {
      all.source.bump(all.source.current_kind());
      first.source.bump(first.source.current_kind());
      if (c.parser_error) first.source.set_parser_has_errors(true);
      ASSERT_EQ(first.source.current_kind(), all.source.current_kind());
      ASSERT_EQ(first.source.checkpoint().tokens_position, all.source.checkpoint().tokens_position);
    };
    for (int i = 0; i < 5; ++i) bump_both();
    ASSERT_EQ(first.source.current_kind(), TokenKind::Def);
    EXPECT_EQ(all.source.tokens().size(), 10u);
    EXPECT_LE(first.source.tokens().size(), 4u);

    // The earliest newline of the trailing run of trivia is found among the
    // counted tokens, and the list is cut there.
    all.source.re_lex_logical_token();
    first.source.re_lex_logical_token();
    EXPECT_EQ(first.source.current_kind(), TokenKind::Newline);
    EXPECT_EQ(first.source.current_range(), all.source.current_range());
    EXPECT_EQ(first.source.checkpoint().tokens_position, all.source.checkpoint().tokens_position);
    while (all.source.current_kind() != TokenKind::EndOfFile) bump_both();

    all.source.bump(TokenKind::EndOfFile);
    first.source.bump(TokenKind::EndOfFile);
    TokenSource::Finished finished = std::move(first.source).finish();
    EXPECT_TRUE(finished.tokens.empty());
    EXPECT_EQ(finished.errors.size(), c.parser_error ? 0u : 1u);

    // Back to before the error: stored again, as the other source does.
    Fixture again(c.text);
    again.source.keep_first_lexical_error_only();
    const TokenSourceCheckpoint start = again.source.checkpoint();
    for (int i = 0; i < 5; ++i) {
      again.source.bump(again.source.current_kind());
      if (c.parser_error) again.source.set_parser_has_errors(true);
    }
    again.source.rewind(start);
    again.source.set_parser_has_errors(false);
    consume_all(again.source);
    Fixture plain(c.text);
    consume_all(plain.source);
    std::vector<TokenKind> expected = kinds_of(plain.source.tokens());
    // The tokens before the next lexical error: the one at `$` again, or
    // the unclosed bracket's at the end.
    expected.resize(c.parser_error ? 12 : 4);
    EXPECT_EQ(kinds_of(again.source.tokens()), expected);
  }
}

TEST(TokenSource, ValuesAreTakenOnce) {
  Fixture f("name\n");
  ASSERT_EQ(f.source.current_value().tag(), TokenValueTag::Name);
  TokenValue value = f.source.take_value();
  EXPECT_EQ(value.as_name().as_str(), "name");
  EXPECT_TRUE(f.source.current_value().is_none());
}

}  // namespace
}  // namespace python_parser
