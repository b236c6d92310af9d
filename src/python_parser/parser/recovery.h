#pragma once

// List kinds and the token tests that drive the parser's list loops.
//
// Most of the grammar is lists: statements, display elements, arguments,
// parameters, import names, patterns, the parts of an f-string. Every list is
// parsed by one of the two loops of parser.h, driven by a RecoveryContextKind
// that answers three questions about the current token: does it start an
// element, does it end the list (regularly, or only as a recovery point), and
// what error to record when it does neither. While a list runs, its kind is
// registered in the parser's RecoveryContextSet, so that an inner list meeting
// a token it cannot use can ask whether an enclosing list can, and stop
// instead of skipping it.
//
// All tests are bit-mask tests over the token kind: a TokenSet is two 64-bit
// masks (kinds 0..63 and 64..105). Nothing here allocates except the owned
// text of a created error.

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "python_ast/token_kind.h"
#include "python_parser/error.h"

namespace python_parser {

// A set of token kinds, tested in constant time.
class TokenSet {
 public:
  constexpr TokenSet() = default;
  constexpr TokenSet(std::initializer_list<python_ast::TokenKind> kinds) {
    for (python_ast::TokenKind kind : kinds) insert(kind);
  }

  constexpr bool contains(python_ast::TokenKind kind) const {
    auto raw = static_cast<std::uint8_t>(kind);
    return raw < 64 ? (low_ >> raw) & 1 : raw < 128 ? (high_ >> (raw - 64)) & 1 : false;
  }
  constexpr void insert(python_ast::TokenKind kind) {
    auto raw = static_cast<std::uint8_t>(kind);
    if (raw < 64) {
      low_ |= std::uint64_t{1} << raw;
    } else if (raw < 128) {
      high_ |= std::uint64_t{1} << (raw - 64);
    }
  }
  // Every kind from `first` to `last`, both included.
  static constexpr TokenSet range(python_ast::TokenKind first, python_ast::TokenKind last) {
    TokenSet set;
    for (auto raw = static_cast<unsigned>(first); raw <= static_cast<unsigned>(last); ++raw) {
      set.insert(static_cast<python_ast::TokenKind>(raw));
    }
    return set;
  }

  constexpr TokenSet operator|(TokenSet other) const {
    TokenSet set;
    set.low_ = low_ | other.low_;
    set.high_ = high_ | other.high_;
    return set;
  }
  constexpr TokenSet without(python_ast::TokenKind kind) const {
    TokenSet set = *this;
    auto raw = static_cast<std::uint8_t>(kind);
    if (raw < 64) {
      set.low_ &= ~(std::uint64_t{1} << raw);
    } else if (raw < 128) {
      set.high_ &= ~(std::uint64_t{1} << (raw - 64));
    }
    return set;
  }
  constexpr bool is_empty() const { return low_ == 0 && high_ == 0; }
  constexpr bool operator==(const TokenSet&) const = default;

 private:
  std::uint64_t low_ = 0;   // kinds 0..63
  std::uint64_t high_ = 0;  // kinds 64..105
};

// ---- The token sets of the grammar ----
namespace token_sets {

using python_ast::TokenKind;

// Tokens that can start an expression.
inline constexpr TokenSet kExpressionStart = {
    TokenKind::Name,   TokenKind::Int,        TokenKind::Float,  TokenKind::Complex,  TokenKind::String,
    TokenKind::FStringStart, TokenKind::TStringStart, TokenKind::IpyEscapeCommand, TokenKind::Lpar,
    TokenKind::Lsqb,   TokenKind::Plus,       TokenKind::Minus,  TokenKind::Star,     TokenKind::Lbrace,
    TokenKind::Tilde,  TokenKind::DoubleStar, TokenKind::Ellipsis, TokenKind::Await,  TokenKind::False,
    TokenKind::Lambda, TokenKind::None,       TokenKind::Not,    TokenKind::True,     TokenKind::Yield,
    TokenKind::Case,   TokenKind::Match,      TokenKind::Type,
};

// Tokens that can start a statement: an expression start or a statement
// keyword.
inline constexpr TokenSet kStatementStart =
    kExpressionStart | TokenSet{TokenKind::At,     TokenKind::Assert, TokenKind::Async,    TokenKind::Break,
                                TokenKind::Class,  TokenKind::Continue, TokenKind::Def,    TokenKind::Del,
                                TokenKind::For,    TokenKind::From,   TokenKind::Global,   TokenKind::If,
                                TokenKind::Import, TokenKind::Nonlocal, TokenKind::Pass,   TokenKind::Raise,
                                TokenKind::Return, TokenKind::Try,    TokenKind::While,    TokenKind::With};

// Tokens that can start a pattern of a match case.
inline constexpr TokenSet kPatternStart = {
    TokenKind::Name,  TokenKind::Int,   TokenKind::Float,  TokenKind::Complex, TokenKind::String, TokenKind::Lpar,
    TokenKind::Lsqb,  TokenKind::Plus,  TokenKind::Minus,  TokenKind::Star,    TokenKind::Lbrace, TokenKind::False,
    TokenKind::None,  TokenKind::True,  TokenKind::Case,   TokenKind::Match,   TokenKind::Type,
};

// Tokens that start a compound statement.
inline constexpr TokenSet kCompoundStart = {
    TokenKind::At,  TokenKind::Async, TokenKind::Class, TokenKind::Def,   TokenKind::For,
    TokenKind::If,  TokenKind::Try,   TokenKind::While, TokenKind::With,  TokenKind::Match,
};

// Tokens that end an unparenthesized sequence of expressions.
inline constexpr TokenSet kSequenceEnd = {
    TokenKind::Newline, TokenKind::Dedent, TokenKind::Exclamation, TokenKind::Rpar,  TokenKind::Rsqb,
    TokenKind::Colon,   TokenKind::Semi,   TokenKind::Equal,       TokenKind::Rbrace, TokenKind::As,
    TokenKind::Async,   TokenKind::Else,   TokenKind::For,         TokenKind::From,  TokenKind::If,
    TokenKind::In,
};

}  // namespace token_sets

// One kind of list; the enumerator's value is its bit in RecoveryContextSet.
enum class RecoveryContextKind : std::uint8_t {
  ModuleStatements = 0,
  BlockStatements = 1,
  Elif = 2,
  Except = 3,
  AssignmentTargets = 4,
  TypeParams = 5,
  ImportFromAsNamesParenthesized = 6,
  ImportFromAsNamesUnparenthesized = 7,
  ImportNames = 8,
  Slices = 9,
  ListElements = 10,
  SetElements = 11,
  DictElements = 12,
  TupleElementsParenthesized = 13,
  TupleElementsUnparenthesized = 14,
  SequenceMatchPattern = 15,
  SequenceMatchPatternList = 16,
  SequenceMatchPatternTuple = 17,
  MatchPatternMapping = 18,
  MatchPatternClassArguments = 19,
  Arguments = 20,
  Delete = 21,
  Identifiers = 22,
  FunctionParameters = 23,
  LambdaParameters = 24,
  WithItemsParenthesized = 25,
  WithItemsParenthesizedExpression = 26,
  WithItemsUnparenthesized = 27,
  FStringElements = 28,
  TStringElements = 29,
  FStringElementsInFormatSpec = 30,
  TStringElementsInFormatSpec = 31,
};

inline constexpr unsigned kRecoveryContextKindCount = 32;

// How a token ends a list.
enum class ListTerminatorKind : std::uint8_t {
  // The token ends the list normally.
  Regular,
  // The token cannot continue the list; the list stops there when error
  // recovery asks (through the enclosing test).
  ErrorRecovery,
};

// Whether the token starts an element of a list of this kind.
bool is_list_element(RecoveryContextKind kind, python_ast::TokenKind token);

// How the token ends a list of this kind; nothing when it does not.
std::optional<ListTerminatorKind> list_terminator_kind(RecoveryContextKind kind, python_ast::TokenKind token);

// The error that a list of this kind records at a token that neither starts
// an element nor ends the list.
ParseErrorType create_error(RecoveryContextKind kind, python_ast::TokenKind token);

// The set of list kinds currently open: one bit per RecoveryContextKind.
class RecoveryContextSet {
 public:
  constexpr RecoveryContextSet() = default;
  static constexpr RecoveryContextSet from_bits(std::uint32_t bits) {
    RecoveryContextSet set;
    set.bits_ = bits;
    return set;
  }
  static constexpr RecoveryContextSet of(RecoveryContextKind kind) {
    return from_bits(std::uint32_t{1} << static_cast<unsigned>(kind));
  }

  constexpr std::uint32_t bits() const { return bits_; }
  constexpr bool is_empty() const { return bits_ == 0; }
  constexpr bool contains(RecoveryContextKind kind) const { return (bits_ & of(kind).bits_) != 0; }
  constexpr void insert(RecoveryContextKind kind) { bits_ |= of(kind).bits_; }
  constexpr void remove(RecoveryContextKind kind) { bits_ &= ~of(kind).bits_; }

  // The one kind of a one-bit set; any other set is fatal
  // ("Expected context to be of a single kind.").
  RecoveryContextKind to_kind() const;

  constexpr bool operator==(const RecoveryContextSet&) const = default;

 private:
  std::uint32_t bits_ = 0;
};

// Whether any list of the set could use the token: it starts an element of
// that list or ends it (regularly or as a recovery point). Lists are visited
// from bit 0 upward.
bool is_enclosing_list_element_or_terminator(python_ast::TokenKind token, RecoveryContextSet set);

}  // namespace python_parser
