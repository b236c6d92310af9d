#pragma once

// Syntax error kinds of the Python front end and their display texts.
//
// Every problem that the lexer, the string-literal decoder or the parser
// finds becomes a value of one of these types; nothing is thrown. The display
// texts are part of the interface (project analysis shows the first error of a
// failed parse to the user) and are reproduced byte for byte; none ends with a
// period.
//
// The payload-free kinds convert implicitly from their enumerator, so that
// `LexicalError{LexicalErrorType::MissingClosingQuote, range}` reads like the
// kind it builds; the kinds that carry data are built through their named
// factory (`LexicalErrorType::unexpected_character(c)`, ...). Building a
// data-carrying kind from its bare enumerator, or reading a payload the kind
// does not carry, is a broken invariant and throws tolva::FatalError.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "python_ast/token_kind.h"
#include "text_size/text_size.h"

namespace python_parser {

// What went wrong inside an f-string or t-string.
enum class InterpolatedStringErrorType : std::uint8_t {
  ExpectingCloseBrace = 0,             // "expecting `}`"
  InvalidConversionCharacter = 1,      // "invalid conversion character"
  SingleCloseBrace = 2,                // "single `}` is not allowed"
  UnterminatedString = 3,              // "unterminated string"
  UnterminatedTripleQuotedString = 4,  // "unterminated triple-quoted string"
  UnparenthesizedLambda = 5,           // "lambda expressions are not allowed without parentheses"
  ConversionNotAfterExclamation = 6,   // "conversion type must come right after the exclamation mark"
  NewlineInSingleQuotedFormatSpec = 7, // "newlines are not allowed in format specifiers when using single quotes"
};

// Which interpolated literal a list error speaks of: "f-string" or "t-string".
enum class InterpolatedStringKind : std::uint8_t {
  FString = 0,
  TString = 1,
};

// The clause whose indented body is missing, as it fills
// "Expected an indented block after {}".
enum class Clause : std::uint8_t {
  If = 0,           // "`if` statement"
  Else = 1,         // "`else` clause"
  Elif = 2,         // "`elif` clause"
  For = 3,          // "`for` statement"
  With = 4,         // "`with` statement"
  Class = 5,        // "`class` definition"
  While = 6,        // "`while` statement"
  FunctionDef = 7,  // "function definition"
  Case = 8,         // "`case` block"
  Try = 9,          // "`try` statement"
  Except = 10,      // "`except` clause"
  Finally = 11,     // "`finally` clause"
};

std::string_view display(InterpolatedStringErrorType error);
std::string_view display(InterpolatedStringKind kind);
std::string_view display(Clause clause);

std::ostream& operator<<(std::ostream& out, InterpolatedStringErrorType error);
std::ostream& operator<<(std::ostream& out, InterpolatedStringKind kind);
std::ostream& operator<<(std::ostream& out, Clause clause);

// A problem found by the lexer or by the string-literal decoder.
class LexicalErrorType {
 public:
  enum class Kind : std::uint8_t {
    UnexpectedString = 0,                // "Got unexpected string"
    MissingClosingQuote = 1,             // "missing closing quote in string literal"
    UnexpectedUnicode = 2,               // "Got unexpected unicode"
    UnicodeEscapeMissingOpenBrace = 3,   // "Missing `{` in Unicode escape sequence"
    UnicodeEscapeMissingCloseBrace = 4,  // "Missing `}` in Unicode escape sequence"
    UnindentMismatch = 5,                // "unindent does not match any outer indentation level"
    UnexpectedCharacter = 6,             // "Got unexpected token {}": the character (payload)
    FStringError = 7,                    // "f-string: {}" (payload)
    TStringError = 8,                    // "t-string: {}" (payload)
    NonAsciiInBytes = 9,                 // "bytes can only contain ASCII literal characters"
    BadLineContinuation = 10,            // "Expected a newline after line continuation character"
    UnexpectedEof = 11,                  // "unexpected EOF while parsing"
    Other = 12,                          // its text, as is (payload)
  };
  using enum Kind;

  // A payload-free kind. Fatal for UnexpectedCharacter, FStringError,
  // TStringError and Other, which need their data.
  LexicalErrorType(Kind kind);  // NOLINT: implicit by design

  static LexicalErrorType unexpected_character(char32_t character);
  static LexicalErrorType fstring_error(InterpolatedStringErrorType error);
  static LexicalErrorType tstring_error(InterpolatedStringErrorType error);
  static LexicalErrorType other(std::string text);

  Kind kind() const noexcept { return kind_; }
  // The payload of UnexpectedCharacter.
  char32_t character() const;
  // The payload of FStringError and TStringError.
  InterpolatedStringErrorType interpolated_error() const;
  // The payload of Other.
  const std::string& text() const;

  // The display text of the table above.
  std::string display() const;

  bool operator==(const LexicalErrorType&) const = default;

 private:
  LexicalErrorType(Kind kind, char32_t character, InterpolatedStringErrorType interpolated, std::string text);

  Kind kind_;
  InterpolatedStringErrorType interpolated_ = InterpolatedStringErrorType::ExpectingCloseBrace;
  char32_t character_ = 0;
  std::string text_;
};

std::ostream& operator<<(std::ostream& out, const LexicalErrorType& error);

// A lexical problem and the bytes it covers.
struct LexicalError {
  LexicalErrorType error;
  text_size::TextRange range;

  bool operator==(const LexicalError&) const = default;
};

std::ostream& operator<<(std::ostream& out, const LexicalError& error);

// A problem found by the parser (or a lexical one, wrapped by kind Lexical).
class ParseErrorType {
 public:
  enum class Kind : std::uint8_t {
    Other = 0,  // its text, as is (payload)
    ExpectedIndexOrSlice = 1,
    GlobalWithoutNames = 2,
    NonlocalWithoutNames = 3,
    DeleteWithoutTargets = 4,
    ImportWithoutNames = 5,
    EmptyTypeParameterList = 6,
    UnparenthesizedNamedExpression = 7,
    UnparenthesizedTupleExpression = 8,
    UnparenthesizedGeneratorExpression = 9,
    LambdaNotAllowedHere = 10,
    YieldNotAllowedHere = 11,
    StarredNotAllowedHere = 12,
    StarPatternNotAllowedHere = 13,
    ParameterAfterVarKeyword = 14,
    NonDefaultAfterDefault = 15,
    StarParameterWithDefault = 16,
    DuplicateKeywordArgument = 17,  // the keyword's name (payload)
    InvalidAssignmentTarget = 18,
    InvalidNamedExpressionTarget = 19,
    InvalidAnnotatedAssignmentTarget = 20,
    InvalidAugmentedAssignmentTarget = 21,
    InvalidDeleteTarget = 22,
    PositionalAfterKeyword = 23,
    PositionalAfterKeywordUnpacking = 24,
    IterableUnpackingAfterKeywordUnpacking = 25,
    IterableUnpackingInComprehension = 26,
    SimpleStatementsNotSeparated = 27,
    CompoundAfterSimpleStatement = 28,
    ExpectedKeywordParameter = 29,
    ExpectedRealNumber = 30,
    ExpectedImaginaryNumber = 31,
    ExpectedExpression = 32,
    ExpectedToken = 33,  // expected and found kinds (payload)
    UnexpectedIndentation = 34,
    UnexpectedTokenAfterAsync = 35,  // the found kind (payload)
    IpythonEscapeOutsideIpythonMode = 36,
    TrailingTokenAfterExpression = 37,
    FStringError = 38,  // an InterpolatedStringErrorType (payload)
    TStringError = 39,  // an InterpolatedStringErrorType (payload)
    Lexical = 40,       // a LexicalErrorType (payload)
  };
  using enum Kind;
  static constexpr int kKindCount = 41;

  // A payload-free kind. Fatal for the kinds listed with a payload above.
  ParseErrorType(Kind kind);  // NOLINT: implicit by design

  static ParseErrorType other(std::string text);
  static ParseErrorType duplicate_keyword_argument(std::string name);
  static ParseErrorType expected_token(python_ast::TokenKind expected, python_ast::TokenKind found);
  static ParseErrorType unexpected_token_after_async(python_ast::TokenKind found);
  static ParseErrorType fstring_error(InterpolatedStringErrorType error);
  static ParseErrorType tstring_error(InterpolatedStringErrorType error);
  static ParseErrorType lexical(LexicalErrorType error);

  Kind kind() const noexcept { return kind_; }
  // The payload of Other (the message) and DuplicateKeywordArgument (the name).
  const std::string& text() const;
  // The payload of ExpectedToken.
  python_ast::TokenKind expected() const;
  // The payload of ExpectedToken and UnexpectedTokenAfterAsync.
  python_ast::TokenKind found() const;
  // The payload of FStringError and TStringError.
  InterpolatedStringErrorType interpolated_error() const;
  // The payload of Lexical.
  const LexicalErrorType& lexical_error() const;

  // The display text of the kind, its payload filled in.
  std::string display() const;

  bool operator==(const ParseErrorType&) const = default;

 private:
  // The factories' constructor: any kind, its payload set afterwards.
  struct WithPayload {};
  ParseErrorType(Kind kind, WithPayload) : kind_(kind) {}

  Kind kind_;
  python_ast::TokenKind expected_{};
  python_ast::TokenKind found_{};
  InterpolatedStringErrorType interpolated_ = InterpolatedStringErrorType::ExpectingCloseBrace;
  std::string text_;
  LexicalErrorType lexical_ = LexicalErrorType::UnexpectedString;
};

std::ostream& operator<<(std::ostream& out, const ParseErrorType& error);

// A syntax error and the bytes it covers.
struct ParseError {
  ParseErrorType error;
  text_size::TextRange range;

  // The parse error of a lexical one: kind Lexical, the same range.
  static ParseError from(LexicalError error);

  // "{kind's text} at byte range {start}..{end}".
  std::string display() const;

  bool operator==(const ParseError&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ParseError& error);

}  // namespace python_parser
