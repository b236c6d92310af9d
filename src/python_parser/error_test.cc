#include "python_parser/error.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "support/fatal_error.h"

namespace python_parser {
namespace {

using python_ast::TokenKind;
using text_size::TextRange;

struct DisplayCase {
  ParseErrorType error;
  std::string text;
};

// Every ParseErrorType kind, in tag order, with its exact display text.
TEST(ParseErrorTypeTest, DisplayOfEveryKind) {
  using E = ParseErrorType;
  const std::vector<DisplayCase> cases = {
      {E::other("Bytes literal cannot be mixed with non-bytes literals"),
       "Bytes literal cannot be mixed with non-bytes literals"},
      {E::ExpectedIndexOrSlice, "Expected index or slice expression"},
      {E::GlobalWithoutNames, "Global statement must have at least one name"},
      {E::NonlocalWithoutNames, "Nonlocal statement must have at least one name"},
      {E::DeleteWithoutTargets, "Delete statement must have at least one target"},
      {E::ImportWithoutNames, "Expected one or more symbol names after import"},
      {E::EmptyTypeParameterList, "Type parameter list cannot be empty"},
      {E::UnparenthesizedNamedExpression, "Unparenthesized named expression cannot be used here"},
      {E::UnparenthesizedTupleExpression, "Unparenthesized tuple expression cannot be used here"},
      {E::UnparenthesizedGeneratorExpression, "Unparenthesized generator expression cannot be used here"},
      {E::LambdaNotAllowedHere, "Lambda expression cannot be used here"},
      {E::YieldNotAllowedHere, "Yield expression cannot be used here"},
      {E::StarredNotAllowedHere, "Starred expression cannot be used here"},
      {E::StarPatternNotAllowedHere, "Star pattern cannot be used here"},
      {E::ParameterAfterVarKeyword, "Parameter cannot follow var-keyword parameter"},
      {E::NonDefaultAfterDefault, "Parameter without a default cannot follow a parameter with a default"},
      {E::StarParameterWithDefault, "Parameter with `*` or `**` cannot have default value"},
      {E::duplicate_keyword_argument("a"), "Duplicate keyword argument \"a\""},
      {E::InvalidAssignmentTarget, "Invalid assignment target"},
      {E::InvalidNamedExpressionTarget, "Assignment expression target must be an identifier"},
      {E::InvalidAnnotatedAssignmentTarget, "Invalid annotated assignment target"},
      {E::InvalidAugmentedAssignmentTarget, "Invalid augmented assignment target"},
      {E::InvalidDeleteTarget, "Invalid delete target"},
      {E::PositionalAfterKeyword, "Positional argument cannot follow keyword argument"},
      {E::PositionalAfterKeywordUnpacking, "Positional argument cannot follow keyword argument unpacking"},
      {E::IterableUnpackingAfterKeywordUnpacking,
       "Iterable argument unpacking cannot follow keyword argument unpacking"},
      {E::IterableUnpackingInComprehension, "Iterable unpacking cannot be used in a comprehension"},
      {E::SimpleStatementsNotSeparated, "Simple statements must be separated by newlines or semicolons"},
      {E::CompoundAfterSimpleStatement,
       "Compound statements are not allowed on the same line as simple statements"},
      {E::ExpectedKeywordParameter, "Expected one or more keyword parameter after `*` separator"},
      {E::ExpectedRealNumber, "Expected a real number in complex literal pattern"},
      {E::ExpectedImaginaryNumber, "Expected an imaginary number in complex literal pattern"},
      {E::ExpectedExpression, "Expected an expression"},
      {E::expected_token(TokenKind::Colon, TokenKind::Newline), "Expected `:`, found newline"},
      {E::UnexpectedIndentation, "Unexpected indentation"},
      {E::unexpected_token_after_async(TokenKind::Name),
       "Expected `def`, `with` or `for` to follow `async`, found name"},
      {E::IpythonEscapeOutsideIpythonMode, "IPython escape commands are only allowed in `Mode::Ipython`"},
      {E::TrailingTokenAfterExpression, "Unexpected token at the end of an expression"},
      {E::fstring_error(InterpolatedStringErrorType::ExpectingCloseBrace), "f-string: expecting `}`"},
      {E::tstring_error(InterpolatedStringErrorType::SingleCloseBrace), "t-string: single `}` is not allowed"},
      {E::lexical(LexicalErrorType::UnindentMismatch), "unindent does not match any outer indentation level"},
  };
  ASSERT_EQ(cases.size(), static_cast<std::size_t>(ParseErrorType::kKindCount));
  for (std::size_t tag = 0; tag < cases.size(); ++tag) {
    const DisplayCase& c = cases[tag];
    EXPECT_EQ(static_cast<std::size_t>(c.error.kind()), tag);
    EXPECT_EQ(c.error.display(), c.text) << "tag " << tag;
    EXPECT_NE(c.text.back(), '.') << "tag " << tag;
  }
}

// Every LexicalErrorType kind, in tag order.
TEST(LexicalErrorTypeTest, DisplayOfEveryKind) {
  using L = LexicalErrorType;
  const std::vector<std::pair<LexicalErrorType, std::string>> cases = {
      {L::UnexpectedString, "Got unexpected string"},
      {L::MissingClosingQuote, "missing closing quote in string literal"},
      {L::UnexpectedUnicode, "Got unexpected unicode"},
      {L::UnicodeEscapeMissingOpenBrace, "Missing `{` in Unicode escape sequence"},
      {L::UnicodeEscapeMissingCloseBrace, "Missing `}` in Unicode escape sequence"},
      {L::UnindentMismatch, "unindent does not match any outer indentation level"},
      {L::unexpected_character(U'$'), "Got unexpected token $"},
      {L::fstring_error(InterpolatedStringErrorType::UnterminatedString), "f-string: unterminated string"},
      {L::tstring_error(InterpolatedStringErrorType::InvalidConversionCharacter),
       "t-string: invalid conversion character"},
      {L::NonAsciiInBytes, "bytes can only contain ASCII literal characters"},
      {L::BadLineContinuation, "Expected a newline after line continuation character"},
      {L::UnexpectedEof, "unexpected EOF while parsing"},
      {L::other("invalid decimal literal"), "invalid decimal literal"},
  };
  for (std::size_t tag = 0; tag < cases.size(); ++tag) {
    EXPECT_EQ(static_cast<std::size_t>(cases[tag].first.kind()), tag);
    EXPECT_EQ(cases[tag].first.display(), cases[tag].second) << "tag " << tag;
  }
}

TEST(LexicalErrorTypeTest, UnexpectedCharacterIsShownAsUtf8) {
  EXPECT_EQ(LexicalErrorType::unexpected_character(U'€').display(), "Got unexpected token \u20ac");
  EXPECT_EQ(LexicalErrorType::unexpected_character(U'\U0001F600').display(), "Got unexpected token \U0001F600");
  EXPECT_EQ(LexicalErrorType::unexpected_character(U'\u00e9').display(), "Got unexpected token \u00e9");
  // Not a scalar value: shown as the replacement character, never as bad UTF-8.
  EXPECT_EQ(LexicalErrorType::unexpected_character(0xD800).display(), "Got unexpected token \uFFFD");
  EXPECT_EQ(LexicalErrorType::unexpected_character(0x110000).display(), "Got unexpected token \uFFFD");
}

TEST(InterpolatedStringErrorTypeTest, DisplayOfEveryValue) {
  using I = InterpolatedStringErrorType;
  const std::vector<std::pair<I, std::string_view>> cases = {
      {I::ExpectingCloseBrace, "expecting `}`"},
      {I::InvalidConversionCharacter, "invalid conversion character"},
      {I::SingleCloseBrace, "single `}` is not allowed"},
      {I::UnterminatedString, "unterminated string"},
      {I::UnterminatedTripleQuotedString, "unterminated triple-quoted string"},
      {I::UnparenthesizedLambda, "lambda expressions are not allowed without parentheses"},
      {I::ConversionNotAfterExclamation, "conversion type must come right after the exclamation mark"},
      {I::NewlineInSingleQuotedFormatSpec, "newlines are not allowed in format specifiers when using single quotes"},
  };
  for (std::size_t value = 0; value < cases.size(); ++value) {
    EXPECT_EQ(static_cast<std::size_t>(cases[value].first), value);
    EXPECT_EQ(display(cases[value].first), cases[value].second);
    // Both wrappers put their prefix before the same text.
    EXPECT_EQ(ParseErrorType::fstring_error(cases[value].first).display(),
              "f-string: " + std::string(cases[value].second));
    EXPECT_EQ(LexicalErrorType::tstring_error(cases[value].first).display(),
              "t-string: " + std::string(cases[value].second));
  }
}

TEST(ClauseTest, DisplayOfEveryValue) {
  const std::vector<std::pair<Clause, std::string_view>> cases = {
      {Clause::If, "`if` statement"},         {Clause::Else, "`else` clause"},
      {Clause::Elif, "`elif` clause"},        {Clause::For, "`for` statement"},
      {Clause::With, "`with` statement"},     {Clause::Class, "`class` definition"},
      {Clause::While, "`while` statement"},   {Clause::FunctionDef, "function definition"},
      {Clause::Case, "`case` block"},         {Clause::Try, "`try` statement"},
      {Clause::Except, "`except` clause"},    {Clause::Finally, "`finally` clause"},
  };
  for (std::size_t value = 0; value < cases.size(); ++value) {
    EXPECT_EQ(static_cast<std::size_t>(cases[value].first), value);
    EXPECT_EQ(display(cases[value].first), cases[value].second);
  }
}

TEST(InterpolatedStringKindTest, Display) {
  EXPECT_EQ(display(InterpolatedStringKind::FString), "f-string");
  EXPECT_EQ(display(InterpolatedStringKind::TString), "t-string");
  EXPECT_EQ(static_cast<int>(InterpolatedStringKind::TString), 1);
}

TEST(ParseErrorTest, DisplayAppendsTheByteRange) {
  // `if x` then a newline where `:` belongs.
  ParseError missing_colon{ParseErrorType::expected_token(TokenKind::Colon, TokenKind::Newline), TextRange(4, 5)};
  EXPECT_EQ(missing_colon.display(), "Expected `:`, found newline at byte range 4..5");

  // `f(a=1, a=2)`: the name in double quotes.
  ParseError duplicate{ParseErrorType::duplicate_keyword_argument("a"), TextRange(7, 10)};
  EXPECT_EQ(duplicate.display(), "Duplicate keyword argument \"a\" at byte range 7..10");

  // An Other text is shown unchanged, without quotes.
  ParseError other{ParseErrorType::other("cannot mix t-string literals with string or bytes literals"),
                   TextRange(0, 12)};
  EXPECT_EQ(other.display(), "cannot mix t-string literals with string or bytes literals at byte range 0..12");

  ParseError at_end{ParseErrorType::expected_token(TokenKind::Rpar, TokenKind::EndOfFile), TextRange(9, 9)};
  EXPECT_EQ(at_end.display(), "Expected `)`, found end of file at byte range 9..9");

  std::ostringstream out;
  out << at_end;
  EXPECT_EQ(out.str(), at_end.display());
}

TEST(ParseErrorTest, FromLexicalKeepsKindAndRangeWithoutFurtherPrefix) {
  // An unterminated triple-quoted f-string reaches the user as the lexical text.
  LexicalError lexical{LexicalErrorType::fstring_error(InterpolatedStringErrorType::UnterminatedTripleQuotedString),
                       TextRange(3, 20)};
  ParseError error = ParseError::from(lexical);
  EXPECT_EQ(error.error.kind(), ParseErrorType::Lexical);
  EXPECT_EQ(error.error.lexical_error(), lexical.error);
  EXPECT_EQ(error.range, TextRange(3, 20));
  EXPECT_EQ(error.display(), "f-string: unterminated triple-quoted string at byte range 3..20");

  ParseError other = ParseError::from(LexicalError{LexicalErrorType::other("invalid hex literal"), TextRange(0, 2)});
  EXPECT_EQ(other.display(), "invalid hex literal at byte range 0..2");
}

TEST(ParseErrorTypeTest, DuplicateKeywordQuotesBackslashAndQuote) {
  EXPECT_EQ(ParseErrorType::duplicate_keyword_argument("a\"b\\c").display(), "Duplicate keyword argument \"a\\\"b\\\\c\"");
  EXPECT_EQ(ParseErrorType::duplicate_keyword_argument("").display(), "Duplicate keyword argument \"\"");
  // Non-ASCII identifiers are shown as they are.
  EXPECT_EQ(ParseErrorType::duplicate_keyword_argument("\u00e9t\u00e9").display(),
            "Duplicate keyword argument \"\u00e9t\u00e9\"");
}

TEST(ParseErrorTypeTest, ExpectedTokenUsesDisplayForms) {
  const std::vector<std::tuple<TokenKind, TokenKind, std::string>> cases = {
      {TokenKind::Rbrace, TokenKind::FStringEnd, "Expected `}`, found FStringEnd"},
      {TokenKind::Name, TokenKind::Unknown, "Expected name, found Unknown"},
      {TokenKind::Indent, TokenKind::NonLogicalNewline, "Expected indent, found NonLogicalNewline"},
      {TokenKind::In, TokenKind::IpyEscapeCommand, "Expected `in`, found IPython escape command"},
  };
  for (const auto& [expected, found, text] : cases) {
    ParseErrorType error = ParseErrorType::expected_token(expected, found);
    EXPECT_EQ(error.display(), text);
    EXPECT_EQ(error.expected(), expected);
    EXPECT_EQ(error.found(), found);
  }
}

TEST(ErrorKindsTest, EqualityComparesPayloads) {
  EXPECT_EQ(ParseErrorType::other("x"), ParseErrorType::other("x"));
  EXPECT_NE(ParseErrorType::other("x"), ParseErrorType::other("y"));
  EXPECT_NE(ParseErrorType::other("x"), ParseErrorType::duplicate_keyword_argument("x"));
  EXPECT_NE(ParseErrorType::expected_token(TokenKind::Colon, TokenKind::Name),
            ParseErrorType::expected_token(TokenKind::Colon, TokenKind::Newline));
  EXPECT_EQ(LexicalErrorType::unexpected_character(U'a'), LexicalErrorType::unexpected_character(U'a'));
  EXPECT_NE(LexicalErrorType::fstring_error(InterpolatedStringErrorType::UnterminatedString),
            LexicalErrorType::tstring_error(InterpolatedStringErrorType::UnterminatedString));
  EXPECT_EQ((LexicalError{LexicalErrorType::UnexpectedEof, TextRange(1, 1)}),
            (LexicalError{LexicalErrorType::UnexpectedEof, TextRange(1, 1)}));
  EXPECT_NE((LexicalError{LexicalErrorType::UnexpectedEof, TextRange(1, 1)}),
            (LexicalError{LexicalErrorType::UnexpectedEof, TextRange(1, 2)}));
}

// A data-carrying kind built without its data, or a payload read from the
// wrong kind, is a caller's broken invariant: a FatalError, never a crash.
TEST(ErrorKindsTest, MisuseIsFatal) {
  EXPECT_THROW((void)LexicalErrorType(LexicalErrorType::UnexpectedCharacter), tolva::FatalError);
  EXPECT_THROW((void)LexicalErrorType(LexicalErrorType::Other), tolva::FatalError);
  EXPECT_THROW((void)ParseErrorType(ParseErrorType::ExpectedToken), tolva::FatalError);
  EXPECT_THROW((void)ParseErrorType(ParseErrorType::Lexical), tolva::FatalError);
  EXPECT_THROW((void)ParseErrorType(ParseErrorType::Other), tolva::FatalError);
  EXPECT_THROW((void)ParseErrorType(ParseErrorType::ExpectedExpression).text(), tolva::FatalError);
  EXPECT_THROW((void)ParseErrorType::other("x").found(), tolva::FatalError);
  EXPECT_THROW((void)LexicalErrorType(LexicalErrorType::UnexpectedEof).character(), tolva::FatalError);
  EXPECT_EQ(ParseErrorType::unexpected_token_after_async(TokenKind::Newline).found(), TokenKind::Newline);
  EXPECT_THROW((void)display(static_cast<Clause>(12)), tolva::FatalError);
  EXPECT_THROW((void)display(static_cast<InterpolatedStringErrorType>(8)), tolva::FatalError);
}

}  // namespace
}  // namespace python_parser
