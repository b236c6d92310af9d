#include "python_parser/error.h"

#include <utility>

#include "support/fatal_error.h"
#include "support/utf8.h"

namespace python_parser {

namespace {

// The quoted form of a name: between double quotes, with a backslash before
// each double quote and backslash.
void append_quoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool lexical_kind_has_payload(LexicalErrorType::Kind kind) {
  using K = LexicalErrorType::Kind;
  return kind == K::UnexpectedCharacter || kind == K::FStringError || kind == K::TStringError || kind == K::Other;
}

bool parse_kind_has_payload(ParseErrorType::Kind kind) {
  using K = ParseErrorType::Kind;
  switch (kind) {
    case K::Other:
    case K::DuplicateKeywordArgument:
    case K::ExpectedToken:
    case K::UnexpectedTokenAfterAsync:
    case K::FStringError:
    case K::TStringError:
    case K::Lexical:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string_view display(InterpolatedStringErrorType error) {
  using E = InterpolatedStringErrorType;
  switch (error) {
    case E::ExpectingCloseBrace: return "expecting `}`";
    case E::InvalidConversionCharacter: return "invalid conversion character";
    case E::SingleCloseBrace: return "single `}` is not allowed";
    case E::UnterminatedString: return "unterminated string";
    case E::UnterminatedTripleQuotedString: return "unterminated triple-quoted string";
    case E::UnparenthesizedLambda: return "lambda expressions are not allowed without parentheses";
    case E::ConversionNotAfterExclamation: return "conversion type must come right after the exclamation mark";
    case E::NewlineInSingleQuotedFormatSpec:
      return "newlines are not allowed in format specifiers when using single quotes";
  }
  tolva::fatal("invalid InterpolatedStringErrorType value");
}

std::string_view display(InterpolatedStringKind kind) {
  switch (kind) {
    case InterpolatedStringKind::FString: return "f-string";
    case InterpolatedStringKind::TString: return "t-string";
  }
  tolva::fatal("invalid InterpolatedStringKind value");
}

std::string_view display(Clause clause) {
  switch (clause) {
    case Clause::If: return "`if` statement";
    case Clause::Else: return "`else` clause";
    case Clause::Elif: return "`elif` clause";
    case Clause::For: return "`for` statement";
    case Clause::With: return "`with` statement";
    case Clause::Class: return "`class` definition";
    case Clause::While: return "`while` statement";
    case Clause::FunctionDef: return "function definition";
    case Clause::Case: return "`case` block";
    case Clause::Try: return "`try` statement";
    case Clause::Except: return "`except` clause";
    case Clause::Finally: return "`finally` clause";
  }
  tolva::fatal("invalid Clause value");
}

std::ostream& operator<<(std::ostream& out, InterpolatedStringErrorType error) { return out << display(error); }
std::ostream& operator<<(std::ostream& out, InterpolatedStringKind kind) { return out << display(kind); }
std::ostream& operator<<(std::ostream& out, Clause clause) { return out << display(clause); }

// ---------------------------------------------------------------------------
// LexicalErrorType

LexicalErrorType::LexicalErrorType(Kind kind) : kind_(kind) {
  if (lexical_kind_has_payload(kind)) {
    tolva::fatal("LexicalErrorType: this kind carries data; build it through its factory");
  }
}

LexicalErrorType::LexicalErrorType(Kind kind, char32_t character, InterpolatedStringErrorType interpolated,
                                   std::string text)
    : kind_(kind), interpolated_(interpolated), character_(character), text_(std::move(text)) {}

LexicalErrorType LexicalErrorType::unexpected_character(char32_t character) {
  return LexicalErrorType(Kind::UnexpectedCharacter, character, InterpolatedStringErrorType::ExpectingCloseBrace, {});
}

LexicalErrorType LexicalErrorType::fstring_error(InterpolatedStringErrorType error) {
  return LexicalErrorType(Kind::FStringError, 0, error, {});
}

LexicalErrorType LexicalErrorType::tstring_error(InterpolatedStringErrorType error) {
  return LexicalErrorType(Kind::TStringError, 0, error, {});
}

LexicalErrorType LexicalErrorType::other(std::string text) {
  return LexicalErrorType(Kind::Other, 0, InterpolatedStringErrorType::ExpectingCloseBrace, std::move(text));
}

char32_t LexicalErrorType::character() const {
  tolva::check(kind_ == Kind::UnexpectedCharacter, "LexicalErrorType::character() on a kind without a character");
  return character_;
}

InterpolatedStringErrorType LexicalErrorType::interpolated_error() const {
  tolva::check(kind_ == Kind::FStringError || kind_ == Kind::TStringError,
               "LexicalErrorType::interpolated_error() on a kind without one");
  return interpolated_;
}

const std::string& LexicalErrorType::text() const {
  tolva::check(kind_ == Kind::Other, "LexicalErrorType::text() on a kind without a text");
  return text_;
}

std::string LexicalErrorType::display() const {
  switch (kind_) {
    case Kind::UnexpectedString: return "Got unexpected string";
    case Kind::MissingClosingQuote: return "missing closing quote in string literal";
    case Kind::UnexpectedUnicode: return "Got unexpected unicode";
    case Kind::UnicodeEscapeMissingOpenBrace: return "Missing `{` in Unicode escape sequence";
    case Kind::UnicodeEscapeMissingCloseBrace: return "Missing `}` in Unicode escape sequence";
    case Kind::UnindentMismatch: return "unindent does not match any outer indentation level";
    case Kind::UnexpectedCharacter: {
      std::string out = "Got unexpected token ";
      tolva::append_utf8(out, character_);
      return out;
    }
    case Kind::FStringError: return std::string("f-string: ").append(python_parser::display(interpolated_));
    case Kind::TStringError: return std::string("t-string: ").append(python_parser::display(interpolated_));
    case Kind::NonAsciiInBytes: return "bytes can only contain ASCII literal characters";
    case Kind::BadLineContinuation: return "Expected a newline after line continuation character";
    case Kind::UnexpectedEof: return "unexpected EOF while parsing";
    case Kind::Other: return text_;
  }
  tolva::fatal("invalid LexicalErrorType kind");
}

std::ostream& operator<<(std::ostream& out, const LexicalErrorType& error) { return out << error.display(); }

std::ostream& operator<<(std::ostream& out, const LexicalError& error) {
  return out << "LexicalError { error: " << error.error.display() << ", range: " << error.range.debug() << " }";
}

// ---------------------------------------------------------------------------
// ParseErrorType

ParseErrorType::ParseErrorType(Kind kind) : kind_(kind) {
  if (parse_kind_has_payload(kind)) {
    tolva::fatal("ParseErrorType: this kind carries data; build it through its factory");
  }
}

ParseErrorType ParseErrorType::other(std::string text) {
  ParseErrorType error(Kind::Other, WithPayload{});
  error.text_ = std::move(text);
  return error;
}

ParseErrorType ParseErrorType::duplicate_keyword_argument(std::string name) {
  ParseErrorType error(Kind::DuplicateKeywordArgument, WithPayload{});
  error.text_ = std::move(name);
  return error;
}

ParseErrorType ParseErrorType::expected_token(python_ast::TokenKind expected, python_ast::TokenKind found) {
  ParseErrorType error(Kind::ExpectedToken, WithPayload{});
  error.expected_ = expected;
  error.found_ = found;
  return error;
}

ParseErrorType ParseErrorType::unexpected_token_after_async(python_ast::TokenKind found) {
  ParseErrorType error(Kind::UnexpectedTokenAfterAsync, WithPayload{});
  error.found_ = found;
  return error;
}

ParseErrorType ParseErrorType::fstring_error(InterpolatedStringErrorType interpolated) {
  ParseErrorType error(Kind::FStringError, WithPayload{});
  error.interpolated_ = interpolated;
  return error;
}

ParseErrorType ParseErrorType::tstring_error(InterpolatedStringErrorType interpolated) {
  ParseErrorType error(Kind::TStringError, WithPayload{});
  error.interpolated_ = interpolated;
  return error;
}

ParseErrorType ParseErrorType::lexical(LexicalErrorType lexical) {
  ParseErrorType error(Kind::Lexical, WithPayload{});
  error.lexical_ = std::move(lexical);
  return error;
}

const std::string& ParseErrorType::text() const {
  tolva::check(kind_ == Kind::Other || kind_ == Kind::DuplicateKeywordArgument,
               "ParseErrorType::text() on a kind without a text");
  return text_;
}

python_ast::TokenKind ParseErrorType::expected() const {
  tolva::check(kind_ == Kind::ExpectedToken, "ParseErrorType::expected() on a kind without an expected token");
  return expected_;
}

python_ast::TokenKind ParseErrorType::found() const {
  tolva::check(kind_ == Kind::ExpectedToken || kind_ == Kind::UnexpectedTokenAfterAsync,
               "ParseErrorType::found() on a kind without a found token");
  return found_;
}

InterpolatedStringErrorType ParseErrorType::interpolated_error() const {
  tolva::check(kind_ == Kind::FStringError || kind_ == Kind::TStringError,
               "ParseErrorType::interpolated_error() on a kind without one");
  return interpolated_;
}

const LexicalErrorType& ParseErrorType::lexical_error() const {
  tolva::check(kind_ == Kind::Lexical, "ParseErrorType::lexical_error() on a kind without one");
  return lexical_;
}

std::string ParseErrorType::display() const {
  switch (kind_) {
    case Kind::Other: return text_;
    case Kind::ExpectedIndexOrSlice: return "Expected index or slice expression";
    case Kind::GlobalWithoutNames: return "Global statement must have at least one name";
    case Kind::NonlocalWithoutNames: return "Nonlocal statement must have at least one name";
    case Kind::DeleteWithoutTargets: return "Delete statement must have at least one target";
    case Kind::ImportWithoutNames: return "Expected one or more symbol names after import";
    case Kind::EmptyTypeParameterList: return "Type parameter list cannot be empty";
    case Kind::UnparenthesizedNamedExpression: return "Unparenthesized named expression cannot be used here";
    case Kind::UnparenthesizedTupleExpression: return "Unparenthesized tuple expression cannot be used here";
    case Kind::UnparenthesizedGeneratorExpression: return "Unparenthesized generator expression cannot be used here";
    case Kind::LambdaNotAllowedHere: return "Lambda expression cannot be used here";
    case Kind::YieldNotAllowedHere: return "Yield expression cannot be used here";
    case Kind::StarredNotAllowedHere: return "Starred expression cannot be used here";
    case Kind::StarPatternNotAllowedHere: return "Star pattern cannot be used here";
    case Kind::ParameterAfterVarKeyword: return "Parameter cannot follow var-keyword parameter";
    case Kind::NonDefaultAfterDefault: return "Parameter without a default cannot follow a parameter with a default";
    case Kind::StarParameterWithDefault: return "Parameter with `*` or `**` cannot have default value";
    case Kind::DuplicateKeywordArgument: {
      std::string out = "Duplicate keyword argument ";
      append_quoted(out, text_);
      return out;
    }
    case Kind::InvalidAssignmentTarget: return "Invalid assignment target";
    case Kind::InvalidNamedExpressionTarget: return "Assignment expression target must be an identifier";
    case Kind::InvalidAnnotatedAssignmentTarget: return "Invalid annotated assignment target";
    case Kind::InvalidAugmentedAssignmentTarget: return "Invalid augmented assignment target";
    case Kind::InvalidDeleteTarget: return "Invalid delete target";
    case Kind::PositionalAfterKeyword: return "Positional argument cannot follow keyword argument";
    case Kind::PositionalAfterKeywordUnpacking: return "Positional argument cannot follow keyword argument unpacking";
    case Kind::IterableUnpackingAfterKeywordUnpacking:
      return "Iterable argument unpacking cannot follow keyword argument unpacking";
    case Kind::IterableUnpackingInComprehension: return "Iterable unpacking cannot be used in a comprehension";
    case Kind::SimpleStatementsNotSeparated: return "Simple statements must be separated by newlines or semicolons";
    case Kind::CompoundAfterSimpleStatement:
      return "Compound statements are not allowed on the same line as simple statements";
    case Kind::ExpectedKeywordParameter: return "Expected one or more keyword parameter after `*` separator";
    case Kind::ExpectedRealNumber: return "Expected a real number in complex literal pattern";
    case Kind::ExpectedImaginaryNumber: return "Expected an imaginary number in complex literal pattern";
    case Kind::ExpectedExpression: return "Expected an expression";
    case Kind::ExpectedToken: {
      std::string out = "Expected ";
      out.append(python_ast::display(expected_));
      out.append(", found ");
      out.append(python_ast::display(found_));
      return out;
    }
    case Kind::UnexpectedIndentation: return "Unexpected indentation";
    case Kind::UnexpectedTokenAfterAsync:
      return std::string("Expected `def`, `with` or `for` to follow `async`, found ")
          .append(python_ast::display(found_));
    case Kind::IpythonEscapeOutsideIpythonMode: return "IPython escape commands are only allowed in `Mode::Ipython`";
    case Kind::TrailingTokenAfterExpression: return "Unexpected token at the end of an expression";
    case Kind::FStringError: return std::string("f-string: ").append(python_parser::display(interpolated_));
    case Kind::TStringError: return std::string("t-string: ").append(python_parser::display(interpolated_));
    case Kind::Lexical: return lexical_.display();
  }
  tolva::fatal("invalid ParseErrorType kind");
}

std::ostream& operator<<(std::ostream& out, const ParseErrorType& error) { return out << error.display(); }

// ---------------------------------------------------------------------------
// ParseError

ParseError ParseError::from(LexicalError error) {
  return ParseError{ParseErrorType::lexical(std::move(error.error)), error.range};
}

std::string ParseError::display() const {
  std::string out = error.display();
  out.append(" at byte range ");
  out.append(range.debug());
  return out;
}

std::ostream& operator<<(std::ostream& out, const ParseError& error) { return out << error.display(); }

}  // namespace python_parser
