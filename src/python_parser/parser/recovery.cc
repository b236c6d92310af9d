#include "python_parser/parser/recovery.h"

#include <array>
#include <bit>
#include <string>

#include "support/fatal_error.h"

namespace python_parser {

namespace {

using python_ast::TokenKind;
using namespace token_sets;

// What a list kind accepts. The end of file is a regular terminator of every
// kind; it is added once, in the table builder.
struct ListRules {
  TokenSet element;
  TokenSet regular;
  TokenSet recovery;
};

constexpr TokenSet kAnyKeyword = TokenSet::range(TokenKind::And, TokenKind::Type);
constexpr TokenSet kNameLike = {TokenKind::Name, TokenKind::Case, TokenKind::Match, TokenKind::Type};
constexpr TokenSet kParameterStart = kNameLike | TokenSet{TokenKind::Star, TokenKind::Slash, TokenKind::DoubleStar};
constexpr TokenSet kMappingPatternStart = {
    TokenKind::Name,  TokenKind::Int,  TokenKind::Float, TokenKind::Complex, TokenKind::String,
    TokenKind::Minus, TokenKind::Star, TokenKind::DoubleStar, TokenKind::False, TokenKind::None,
    TokenKind::True,  TokenKind::Case, TokenKind::Match, TokenKind::Type,
};

constexpr std::array<ListRules, kRecoveryContextKindCount> build_rules() {
  std::array<ListRules, kRecoveryContextKindCount> rules{};
  auto set = [&rules](RecoveryContextKind kind, TokenSet element, TokenSet regular, TokenSet recovery = {}) {
    rules[static_cast<unsigned>(kind)] = {element, regular | TokenSet{TokenKind::EndOfFile}, recovery};
  };
  using K = RecoveryContextKind;
  set(K::ModuleStatements, kStatementStart, {});
  set(K::BlockStatements, kStatementStart, {TokenKind::Dedent});
  set(K::Elif, {TokenKind::Elif}, {TokenKind::Else});
  set(K::Except, {TokenKind::Except}, {TokenKind::Else, TokenKind::Finally});
  set(K::AssignmentTargets, {TokenKind::Equal}, {TokenKind::Newline, TokenKind::Semi});
  set(K::TypeParams, TokenSet{TokenKind::Name, TokenKind::Star, TokenKind::DoubleStar} | kAnyKeyword,
      {TokenKind::Rsqb}, {TokenKind::Newline, TokenKind::Lpar, TokenKind::Colon, TokenKind::Equal});
  set(K::ImportFromAsNamesParenthesized, kNameLike | TokenSet{TokenKind::Star},
      {TokenKind::Newline, TokenKind::Rpar, TokenKind::Semi});
  set(K::ImportFromAsNamesUnparenthesized, kNameLike | TokenSet{TokenKind::Star},
      {TokenKind::Newline, TokenKind::Rpar, TokenKind::Semi});
  set(K::ImportNames, kNameLike, {TokenKind::Newline, TokenKind::Semi});
  set(K::Slices, kExpressionStart | TokenSet{TokenKind::Colon}, {TokenKind::Rsqb});
  set(K::ListElements, kExpressionStart, {TokenKind::Rsqb});
  set(K::SetElements, kExpressionStart, {TokenKind::Rbrace});
  set(K::DictElements, kExpressionStart, {TokenKind::Rbrace});
  set(K::TupleElementsParenthesized, kExpressionStart, {TokenKind::Rpar});
  set(K::TupleElementsUnparenthesized, kExpressionStart, kSequenceEnd);
  set(K::SequenceMatchPattern, kPatternStart, {TokenKind::Colon, TokenKind::If});
  set(K::SequenceMatchPatternList, kPatternStart, {TokenKind::Rsqb});
  set(K::SequenceMatchPatternTuple, kPatternStart, {TokenKind::Rpar});
  set(K::MatchPatternMapping, kMappingPatternStart, {TokenKind::Rbrace});
  set(K::MatchPatternClassArguments, kPatternStart.without(TokenKind::Plus), {TokenKind::Rpar});
  set(K::Arguments, kExpressionStart, {TokenKind::Rpar});
  set(K::Delete, kExpressionStart, {TokenKind::Newline, TokenKind::Semi});
  set(K::Identifiers, kNameLike, {TokenKind::Newline, TokenKind::Semi});
  set(K::FunctionParameters, kParameterStart, {TokenKind::Rpar}, kCompoundStart | TokenSet{TokenKind::Rarrow});
  set(K::LambdaParameters, kParameterStart, {TokenKind::Colon}, kCompoundStart | TokenSet{TokenKind::Rarrow});
  set(K::WithItemsParenthesized, kExpressionStart, {TokenKind::Rpar}, {TokenKind::Colon});
  set(K::WithItemsParenthesizedExpression, kExpressionStart, {TokenKind::Colon});
  set(K::WithItemsUnparenthesized, kExpressionStart, {TokenKind::Newline, TokenKind::Colon});
  set(K::FStringElements, {TokenKind::FStringMiddle, TokenKind::Lbrace}, {TokenKind::FStringEnd},
      {TokenKind::Newline});
  set(K::TStringElements, {TokenKind::TStringMiddle, TokenKind::Lbrace}, {TokenKind::TStringEnd},
      {TokenKind::Newline});
  set(K::FStringElementsInFormatSpec, {TokenKind::FStringMiddle, TokenKind::Lbrace}, {TokenKind::Rbrace},
      {TokenKind::Newline});
  set(K::TStringElementsInFormatSpec, {TokenKind::TStringMiddle, TokenKind::Lbrace}, {TokenKind::Rbrace},
      {TokenKind::Newline});
  return rules;
}

constexpr std::array<ListRules, kRecoveryContextKindCount> kRules = build_rules();

const ListRules& rules_of(RecoveryContextKind kind) {
  auto index = static_cast<unsigned>(kind);
  if (index >= kRecoveryContextKindCount) [[unlikely]] {
    tolva::fatal("Expected context to be of a single kind.");
  }
  return kRules[index];
}

ParseErrorType statements_error(TokenKind token) {
  if (token == TokenKind::Indent) return ParseErrorType::UnexpectedIndentation;
  return ParseErrorType::other("Expected a statement");
}

}  // namespace

bool is_list_element(RecoveryContextKind kind, TokenKind token) { return rules_of(kind).element.contains(token); }

std::optional<ListTerminatorKind> list_terminator_kind(RecoveryContextKind kind, TokenKind token) {
  const ListRules& rules = rules_of(kind);
  if (rules.regular.contains(token)) return ListTerminatorKind::Regular;
  if (rules.recovery.contains(token)) return ListTerminatorKind::ErrorRecovery;
  return std::nullopt;
}

ParseErrorType create_error(RecoveryContextKind kind, TokenKind token) {
  using K = RecoveryContextKind;
  switch (kind) {
    case K::ModuleStatements:
    case K::BlockStatements:
      return statements_error(token);
    case K::Elif:
      return ParseErrorType::other("Expected an `elif` or `else` clause, or the end of the `if` statement.");
    case K::Except:
      return ParseErrorType::other("Expected an `except` or `finally` clause or the end of the `try` statement.");
    case K::AssignmentTargets:
      if (python_ast::is_any_keyword(token)) {
        return ParseErrorType::other("The keyword is not allowed as a variable declaration name");
      }
      return ParseErrorType::other("Expected an assignment target");
    case K::TypeParams:
      return ParseErrorType::other("Expected a type parameter or the end of the type parameter list");
    case K::ImportFromAsNamesParenthesized:
      return ParseErrorType::other("Expected an import name or a ')'");
    case K::ImportFromAsNamesUnparenthesized:
    case K::ImportNames:
      return ParseErrorType::other("Expected an import name");
    case K::Slices:
      return ParseErrorType::other("Expected an expression or the end of the slice list");
    case K::ListElements:
      return ParseErrorType::other("Expected an expression or a ']'");
    case K::SetElements:
    case K::DictElements:
      return ParseErrorType::other("Expected an expression or a '}'");
    case K::TupleElementsParenthesized:
    case K::Arguments:
    case K::WithItemsParenthesized:
      return ParseErrorType::other("Expected an expression or a ')'");
    case K::TupleElementsUnparenthesized:
      return ParseErrorType::other("Expected an expression");
    case K::SequenceMatchPattern:
    case K::SequenceMatchPatternList:
    case K::SequenceMatchPatternTuple:
      return ParseErrorType::other("Expected a pattern or the end of the sequence pattern");
    case K::MatchPatternMapping:
      return ParseErrorType::other("Expected a mapping pattern or the end of the mapping pattern");
    case K::MatchPatternClassArguments:
      return ParseErrorType::other("Expected a pattern or a ')'");
    case K::Delete:
      return ParseErrorType::other("Expected a delete target");
    case K::Identifiers:
      return ParseErrorType::other("Expected an identifier");
    case K::FunctionParameters:
    case K::LambdaParameters:
      return ParseErrorType::other("Expected a parameter or the end of the parameter list");
    case K::WithItemsParenthesizedExpression:
    case K::WithItemsUnparenthesized:
      return ParseErrorType::other("Expected an expression or the end of the with item list");
    case K::FStringElements:
    case K::TStringElements: {
      auto string_kind = kind == K::FStringElements ? InterpolatedStringKind::FString : InterpolatedStringKind::TString;
      return ParseErrorType::other("Expected an element of or the end of the " + std::string(display(string_kind)));
    }
    case K::FStringElementsInFormatSpec:
    case K::TStringElementsInFormatSpec: {
      auto string_kind =
          kind == K::FStringElementsInFormatSpec ? InterpolatedStringKind::FString : InterpolatedStringKind::TString;
      return ParseErrorType::other("Expected an " + std::string(display(string_kind)) + " element or a '}'");
    }
  }
  tolva::fatal("Expected context to be of a single kind.");
}

RecoveryContextKind RecoveryContextSet::to_kind() const {
  if (!std::has_single_bit(bits_)) tolva::fatal("Expected context to be of a single kind.");
  return static_cast<RecoveryContextKind>(std::countr_zero(bits_));
}

bool is_enclosing_list_element_or_terminator(TokenKind token, RecoveryContextSet set) {
  for (std::uint32_t bits = set.bits(); bits != 0; bits &= bits - 1) {
    auto kind = static_cast<RecoveryContextKind>(std::countr_zero(bits));
    const ListRules& rules = kRules[static_cast<unsigned>(kind)];
    if (rules.regular.contains(token) || rules.recovery.contains(token) || rules.element.contains(token)) {
      return true;
    }
  }
  return false;
}

}  // namespace python_parser
