#include "python_parser/parser/recovery.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fatal_error.h"

namespace python_parser {
namespace {

using K = RecoveryContextKind;
using python_ast::TokenKind;

std::string fatal_text(RecoveryContextSet set) {
  try {
    (void)set.to_kind();
  } catch (const tolva::FatalError& error) {
    return error.message();
  }
  return "(no fatal error)";
}

TEST(Recovery, EveryListKindsError) {
  struct Case {
    RecoveryContextKind kind;
    TokenKind at;
    std::string_view text;
  };
  const Case cases[] = {
      {K::ModuleStatements, TokenKind::Rpar, "Expected a statement"},
      {K::ModuleStatements, TokenKind::Indent, "Unexpected indentation"},
      {K::BlockStatements, TokenKind::Rpar, "Expected a statement"},
      {K::BlockStatements, TokenKind::Indent, "Unexpected indentation"},
      {K::Elif, TokenKind::Name, "Expected an `elif` or `else` clause, or the end of the `if` statement."},
      {K::Except, TokenKind::Name, "Expected an `except` or `finally` clause or the end of the `try` statement."},
      {K::AssignmentTargets, TokenKind::Int, "Expected an assignment target"},
      {K::AssignmentTargets, TokenKind::And, "The keyword is not allowed as a variable declaration name"},
      {K::AssignmentTargets, TokenKind::Yield, "The keyword is not allowed as a variable declaration name"},
      {K::AssignmentTargets, TokenKind::Type, "The keyword is not allowed as a variable declaration name"},
      {K::AssignmentTargets, TokenKind::Unknown, "Expected an assignment target"},
      {K::TypeParams, TokenKind::Int, "Expected a type parameter or the end of the type parameter list"},
      {K::ImportFromAsNamesParenthesized, TokenKind::Int, "Expected an import name or a ')'"},
      {K::ImportFromAsNamesUnparenthesized, TokenKind::Int, "Expected an import name"},
      {K::ImportNames, TokenKind::Int, "Expected an import name"},
      {K::Slices, TokenKind::Semi, "Expected an expression or the end of the slice list"},
      {K::ListElements, TokenKind::Semi, "Expected an expression or a ']'"},
      {K::SetElements, TokenKind::Semi, "Expected an expression or a '}'"},
      {K::DictElements, TokenKind::Semi, "Expected an expression or a '}'"},
      {K::TupleElementsParenthesized, TokenKind::Semi, "Expected an expression or a ')'"},
      {K::TupleElementsUnparenthesized, TokenKind::Dot, "Expected an expression"},
      {K::SequenceMatchPattern, TokenKind::Dot, "Expected a pattern or the end of the sequence pattern"},
      {K::SequenceMatchPatternList, TokenKind::Dot, "Expected a pattern or the end of the sequence pattern"},
      {K::SequenceMatchPatternTuple, TokenKind::Dot, "Expected a pattern or the end of the sequence pattern"},
      {K::MatchPatternMapping, TokenKind::Dot, "Expected a mapping pattern or the end of the mapping pattern"},
      {K::MatchPatternClassArguments, TokenKind::Dot, "Expected a pattern or a ')'"},
      {K::Arguments, TokenKind::Semi, "Expected an expression or a ')'"},
      {K::Delete, TokenKind::Dot, "Expected a delete target"},
      {K::Identifiers, TokenKind::Int, "Expected an identifier"},
      {K::FunctionParameters, TokenKind::Int, "Expected a parameter or the end of the parameter list"},
      {K::LambdaParameters, TokenKind::Int, "Expected a parameter or the end of the parameter list"},
      {K::WithItemsParenthesized, TokenKind::Semi, "Expected an expression or a ')'"},
      {K::WithItemsParenthesizedExpression, TokenKind::Semi, "Expected an expression or the end of the with item list"},
      {K::WithItemsUnparenthesized, TokenKind::Semi, "Expected an expression or the end of the with item list"},
      {K::FStringElements, TokenKind::Name, "Expected an element of or the end of the f-string"},
      {K::TStringElements, TokenKind::Name, "Expected an element of or the end of the t-string"},
      {K::FStringElementsInFormatSpec, TokenKind::Name, "Expected an f-string element or a '}'"},
      // The template reads "an {}" for both kinds.
      {K::TStringElementsInFormatSpec, TokenKind::Name, "Expected an t-string element or a '}'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    ParseErrorType error = create_error(c.kind, c.at);
    EXPECT_EQ(error.display(), c.text);
    EXPECT_EQ(error.kind(), c.at == TokenKind::Indent ? ParseErrorType::UnexpectedIndentation : ParseErrorType::Other);
  }
}

TEST(Recovery, TheEndOfFileEndsEveryList) {
  for (unsigned k = 0; k < kRecoveryContextKindCount; ++k) {
    auto kind = static_cast<RecoveryContextKind>(k);
    SCOPED_TRACE(k);
    EXPECT_EQ(list_terminator_kind(kind, TokenKind::EndOfFile), ListTerminatorKind::Regular);
    EXPECT_FALSE(is_list_element(kind, TokenKind::EndOfFile));
    // No list starts an element at a token that it also ends regularly.
    for (unsigned t = 0; t < python_ast::kTokenKindCount; ++t) {
      auto token = static_cast<TokenKind>(t);
      if (list_terminator_kind(kind, token) == ListTerminatorKind::Regular) {
        EXPECT_FALSE(is_list_element(kind, token)) << python_ast::debug_name(token);
      }
    }
  }
}

TEST(Recovery, ElementsAndTerminators) {
  struct Case {
    RecoveryContextKind kind;
    TokenKind token;
    bool element;
    std::optional<ListTerminatorKind> terminator;
  };
  using T = TokenKind;
  constexpr auto R = ListTerminatorKind::Regular;
  constexpr auto E = ListTerminatorKind::ErrorRecovery;
  const Case cases[] = {
      {K::ModuleStatements, T::Def, true, std::nullopt},
      {K::ModuleStatements, T::Dedent, false, std::nullopt},
      {K::ModuleStatements, T::Indent, false, std::nullopt},
      {K::BlockStatements, T::Dedent, false, R},
      {K::BlockStatements, T::At, true, std::nullopt},
      {K::BlockStatements, T::Await, true, std::nullopt},
      {K::BlockStatements, T::Elif, false, std::nullopt},
      {K::Elif, T::Elif, true, std::nullopt},
      {K::Elif, T::Else, false, R},
      {K::Except, T::Finally, false, R},
      {K::AssignmentTargets, T::Equal, true, std::nullopt},
      {K::AssignmentTargets, T::Semi, false, R},
      {K::TypeParams, T::Class, true, std::nullopt},  // any keyword starts a (misnamed) type parameter
      {K::TypeParams, T::Colon, false, E},
      {K::TypeParams, T::Lpar, false, E},
      {K::TypeParams, T::Rsqb, false, R},
      {K::ImportFromAsNamesUnparenthesized, T::Star, true, std::nullopt},
      {K::ImportFromAsNamesUnparenthesized, T::Rpar, false, R},
      {K::ImportNames, T::Star, false, std::nullopt},
      {K::Slices, T::Colon, true, std::nullopt},
      {K::TupleElementsUnparenthesized, T::In, false, R},
      {K::TupleElementsUnparenthesized, T::Exclamation, false, R},
      {K::TupleElementsUnparenthesized, T::IpyEscapeCommand, true, std::nullopt},
      {K::SequenceMatchPattern, T::If, false, R},
      {K::SequenceMatchPattern, T::Tilde, false, std::nullopt},
      {K::MatchPatternMapping, T::DoubleStar, true, std::nullopt},
      {K::MatchPatternMapping, T::Plus, false, std::nullopt},
      {K::MatchPatternClassArguments, T::Plus, false, std::nullopt},
      {K::MatchPatternClassArguments, T::Minus, true, std::nullopt},
      {K::Identifiers, T::Match, true, std::nullopt},
      {K::Identifiers, T::Class, false, std::nullopt},
      // `match` names a parameter although it also starts a compound statement.
      {K::FunctionParameters, T::Match, true, E},
      {K::FunctionParameters, T::Def, false, E},
      {K::FunctionParameters, T::Rarrow, false, E},
      {K::FunctionParameters, T::Slash, true, std::nullopt},
      {K::LambdaParameters, T::Colon, false, R},
      {K::LambdaParameters, T::Rpar, false, std::nullopt},
      {K::WithItemsParenthesized, T::Colon, false, E},
      {K::WithItemsUnparenthesized, T::Newline, false, R},
      {K::FStringElements, T::FStringMiddle, true, std::nullopt},
      {K::FStringElements, T::TStringMiddle, false, std::nullopt},
      {K::FStringElements, T::Newline, false, E},
      {K::TStringElementsInFormatSpec, T::Rbrace, false, R},
      {K::TStringElementsInFormatSpec, T::Lbrace, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.kind)) + " " + std::string(python_ast::debug_name(c.token)));
    EXPECT_EQ(is_list_element(c.kind, c.token), c.element);
    EXPECT_EQ(list_terminator_kind(c.kind, c.token), c.terminator);
  }
}

TEST(Recovery, EnclosingTestAsksEveryOpenList) {
  RecoveryContextSet set;
  EXPECT_FALSE(is_enclosing_list_element_or_terminator(TokenKind::Rpar, set));
  set.insert(K::ModuleStatements);
  EXPECT_FALSE(is_enclosing_list_element_or_terminator(TokenKind::Rpar, set));
  EXPECT_TRUE(is_enclosing_list_element_or_terminator(TokenKind::Name, set));  // a statement starts there
  set.insert(K::ListElements);
  EXPECT_FALSE(is_enclosing_list_element_or_terminator(TokenKind::Rpar, set));
  EXPECT_TRUE(is_enclosing_list_element_or_terminator(TokenKind::Rsqb, set));
  set.insert(K::Arguments);
  EXPECT_TRUE(is_enclosing_list_element_or_terminator(TokenKind::Rpar, set));
  // A recovery terminator counts as well.
  RecoveryContextSet parameters = RecoveryContextSet::of(K::FunctionParameters);
  EXPECT_TRUE(is_enclosing_list_element_or_terminator(TokenKind::Class, parameters));
  EXPECT_FALSE(is_enclosing_list_element_or_terminator(TokenKind::Semi, parameters));
  EXPECT_TRUE(is_enclosing_list_element_or_terminator(TokenKind::EndOfFile, parameters));
}

TEST(Recovery, ContextSetBitsAndSingleKinds) {
  EXPECT_EQ(RecoveryContextSet::of(K::ModuleStatements).bits(), 1u);
  EXPECT_EQ(RecoveryContextSet::of(K::Identifiers).bits(), 1u << 22);
  EXPECT_EQ(RecoveryContextSet::of(K::TStringElementsInFormatSpec).bits(), 1u << 31);
  for (unsigned k = 0; k < kRecoveryContextKindCount; ++k) {
    auto kind = static_cast<RecoveryContextKind>(k);
    EXPECT_EQ(RecoveryContextSet::of(kind).to_kind(), kind);
  }
  EXPECT_EQ(fatal_text(RecoveryContextSet()), "Expected context to be of a single kind.");
  EXPECT_EQ(fatal_text(RecoveryContextSet::from_bits(0b101)), "Expected context to be of a single kind.");

  RecoveryContextSet set;
  set.insert(K::Elif);
  set.insert(K::Delete);
  EXPECT_TRUE(set.contains(K::Elif));
  EXPECT_FALSE(set.contains(K::Except));
  set.remove(K::Elif);
  EXPECT_EQ(set, RecoveryContextSet::of(K::Delete));
}

TEST(Recovery, TokenSetsCoverBothHalvesOfTheKinds) {
  TokenSet set{TokenKind::Name, TokenKind::Ellipsis, TokenKind::And, TokenKind::Unknown};
  EXPECT_TRUE(set.contains(TokenKind::Name));
  EXPECT_TRUE(set.contains(TokenKind::Ellipsis));  // 66: the second word
  EXPECT_TRUE(set.contains(TokenKind::And));
  EXPECT_TRUE(set.contains(TokenKind::Unknown));  // 105
  EXPECT_FALSE(set.contains(TokenKind::At));      // 63: the first word's last bit
  EXPECT_FALSE(set.contains(static_cast<TokenKind>(200)));
  EXPECT_TRUE(token_sets::kStatementStart.contains(TokenKind::Yield));
  EXPECT_TRUE(token_sets::kStatementStart.contains(TokenKind::With));
  EXPECT_FALSE(token_sets::kStatementStart.contains(TokenKind::Elif));
  EXPECT_FALSE(token_sets::kExpressionStart.contains(TokenKind::Def));
  EXPECT_TRUE(token_sets::kPatternStart.contains(TokenKind::Match));
  EXPECT_FALSE(token_sets::kPatternStart.contains(TokenKind::Tilde));
}

}  // namespace
}  // namespace python_parser
