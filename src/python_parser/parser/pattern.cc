#include "python_parser/parser/pattern.h"

#include <optional>

#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression.h"
#include "python_parser/parser/expression_string.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/pattern_recovery.h"
#include "python_parser/parser/statement.h"
#include "support/fatal_error.h"

namespace python_parser {

using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::Identifier;
using python_ast::Pattern;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

constexpr ExpressionParseFlags kSubjectFlags =
    ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand;

void add_star_pattern_error(Parser& parser, const Pattern& pattern) {
  parser.add_error(ParseErrorType::StarPatternNotAllowedHere, pattern);
}

// A capture `x`: an as-pattern with a name and nothing else.
const python_ast::PatternAs* as_capture(const Pattern* pattern) {
  const auto* as = pattern->as<python_ast::PatternAs>();
  if (as == nullptr || as->pattern != nullptr || !as->name.has_value()) return nullptr;
  return as;
}

// The name expression of an identifier: `Load`, or `Invalid` when recovery
// left the identifier empty.
python_ast::ExprName* name_expression(Parser& parser, const Identifier& identifier) {
  return parser.arena().make<python_ast::ExprName>(
      identifier.range, identifier.id, identifier.is_valid() ? ExpressionContext::Load : ExpressionContext::Invalid);
}

// The placeholder for a pattern that is not there: an empty invalid name at
// the end of the last consumed token.
Pattern* missing_pattern(Parser& parser, TextOffset start) {
  TextRange range = parser.node_range(start);
  Expr* name = parser.arena().make<python_ast::ExprName>(range, python_ast::Name(), ExpressionContext::Invalid);
  return parser.arena().make<python_ast::PatternValue>(range, name);
}

// NUMBER: an integer, float or imaginary literal.
Pattern* parse_number_pattern(Parser& parser, TextOffset start) {
  TokenKind kind = parser.current_token_kind();
  TokenValue value = parser.bump_value(kind);
  auto number = [&] {
    if (kind == TokenKind::Int && value.tag() == TokenValueTag::Int) {
      return python_ast::NumberLiteralValue::of_int(value.as_int());
    }
    if (kind == TokenKind::Float && value.tag() == TokenValueTag::Float) {
      return python_ast::NumberLiteralValue::of_float(value.as_float());
    }
    if (kind == TokenKind::Complex && value.tag() == TokenValueTag::Complex) {
      TokenValue::Complex complex = value.as_complex();
      return python_ast::NumberLiteralValue::of_complex(complex.real, complex.imag);
    }
    // The lexer gives every number token the value of its kind.
    tolva::fatal("internal error: entered unreachable code");
  };
  TextRange range = parser.node_range(start);
  Expr* literal = parser.arena().make<python_ast::ExprNumberLiteral>(range, number());
  return parser.arena().make<python_ast::PatternValue>(range, literal);
}

bool is_number(TokenKind kind) {
  return kind == TokenKind::Int || kind == TokenKind::Float || kind == TokenKind::Complex;
}

// group_pattern: '(' pattern ')'
// sequence_pattern: '[' maybe_sequence_pattern? ']' | '(' open_sequence_pattern? ')'
// The current token is `(` or `[`.
Pattern* parse_bracketed_pattern(Parser& parser, TextOffset start) {
  bool parenthesized = parser.at(TokenKind::Lpar);
  TokenKind closer = parenthesized ? TokenKind::Rpar : TokenKind::Rsqb;
  parser.bump_any();

  if (parser.at(TokenKind::Colon) || parser.at(TokenKind::Newline)) {
    parser.add_error(ParseErrorType::other(parenthesized ? "Missing ')'" : "Missing ']'"),
                     parser.current_token_range());
  }
  if (parser.eat(closer)) {
    return parser.arena().make<python_ast::PatternSequence>(parser.node_range(start), std::span<Pattern*>{});
  }

  Pattern* first = parse_match_pattern(parser, AllowStarPattern::Yes);
  if (parenthesized && !parser.at(TokenKind::Comma)) {
    // A group has no node of its own: the pattern keeps its range.
    parser.expect(TokenKind::Rpar);
    return first;
  }
  return parse_sequence_match_pattern(
      parser, first, start,
      parenthesized ? SequenceMatchPatternParentheses::Tuple : SequenceMatchPatternParentheses::List);
}

// star_pattern: '*' (capture_pattern | wildcard_pattern)
Pattern* parse_star_pattern(Parser& parser, TextOffset start, AllowStarPattern allow_star) {
  parser.bump(TokenKind::Star);
  Identifier identifier = parse_identifier(parser);
  std::optional<Identifier> name;
  if (identifier.as_str() != "_") name = identifier;
  Pattern* star = parser.arena().make<python_ast::PatternStar>(parser.node_range(start), name);
  if (allow_star == AllowStarPattern::No) add_star_pattern_error(parser, *star);
  return star;
}

// mapping_pattern:
//     | '{' '}'
//     | '{' double_star_pattern ','? '}'
//     | '{' items_pattern ',' double_star_pattern ','? '}'
//     | '{' items_pattern ','? '}'
// key_value_pattern: (literal_expr | attr) ':' pattern
// double_star_pattern: '**' pattern_capture_target
// Out-of-order and repeated `**` items are parsed and reported.
Pattern* parse_mapping_pattern(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Lbrace);

  struct Item {
    Expr* key;
    Pattern* pattern;
  };
  ScratchList<Item> items = parser.scratch_list<Item>();
  std::optional<Identifier> rest;

  parser.parse_comma_separated_list(
      RecoveryContextKind::MatchPatternMapping, TrailingComma::Allowed, [&](Parser& p) {
        TextOffset item_start = p.node_start();
        if (p.eat(TokenKind::DoubleStar)) {
          Identifier name = parse_identifier(p);
          if (rest.has_value()) {
            p.add_error(ParseErrorType::other("Only one double star pattern is allowed"), p.node_range(item_start));
          }
          // The last one written wins; "_" stays a name here.
          rest = name;
          return;
        }

        Pattern* key_pattern = parse_match_pattern_lhs(p, AllowStarPattern::No);
        Expr* key;
        if (const auto* value = key_pattern->as<python_ast::PatternValue>()) {
          key = value->value;
        } else if (const auto* singleton = key_pattern->as<python_ast::PatternSingleton>()) {
          if (singleton->value == python_ast::PatternSingletonValue::None) {
            key = p.arena().make<python_ast::ExprNoneLiteral>(singleton->range);
          } else {
            key = p.arena().make<python_ast::ExprBooleanLiteral>(
                singleton->range, singleton->value == python_ast::PatternSingletonValue::True);
          }
        } else {
          p.add_error(ParseErrorType::other("Invalid mapping pattern key"), *key_pattern);
          key = pattern_to_expr(p.arena(), key_pattern);
        }
        p.expect(TokenKind::Colon);
        Pattern* value = parse_match_pattern(p, AllowStarPattern::No);
        items.push(Item{key, value});
        if (rest.has_value()) {
          p.add_error(ParseErrorType::other("Pattern cannot follow a double star pattern"), p.node_range(item_start));
        }
      });
  parser.expect(TokenKind::Rbrace);

  std::span<Expr*> keys = parser.arena().make_array<Expr*>(items.size());
  std::span<Pattern*> patterns = parser.arena().make_array<Pattern*>(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    Item item = items[i];
    keys[i] = item.key;
    patterns[i] = item.pattern;
  }
  return parser.arena().make<python_ast::PatternMapping>(parser.node_range(start), keys, patterns, rest);
}

// The class part of `cls(...)`: a dotted name or a capture; anything else is
// reported and converted.
Expr* class_pattern_class(Parser& parser, Pattern* pattern) {
  if (const auto* value = pattern->as<python_ast::PatternValue>()) {
    if (value->value->is<python_ast::ExprAttribute>()) return value->value;
  } else if (const python_ast::PatternAs* capture = as_capture(pattern)) {
    return name_expression(parser, *capture->name);
  }
  parser.add_error(ParseErrorType::other("Invalid value for a class pattern"), *pattern);
  return pattern_to_expr(parser.arena(), pattern);
}

// class_pattern:
//     | name_or_attr '(' ')'
//     | name_or_attr '(' positional_patterns ','? ')'
//     | name_or_attr '(' keyword_patterns ','? ')'
//     | name_or_attr '(' positional_patterns ',' keyword_patterns ','? ')'
// keyword_pattern: NAME '=' pattern
// `cls` (which began at `start`) is parsed; the current token is `(`.
Pattern* parse_class_pattern(Parser& parser, Pattern* cls, TextOffset start) {
  Expr* class_expression = class_pattern_class(parser, cls);

  TextOffset arguments_start = parser.node_start();
  parser.bump(TokenKind::Lpar);

  // Positional and keyword arguments, in source order, told apart by
  // `pattern` (positional) or `keyword.pattern` (keyword).
  struct Argument {
    Pattern* positional;
    python_ast::PatternKeyword keyword;
  };
  ScratchList<Argument> arguments = parser.scratch_list<Argument>();
  std::size_t keyword_count = 0;

  parser.parse_comma_separated_list(
      RecoveryContextKind::MatchPatternClassArguments, TrailingComma::Allowed, [&](Parser& p) {
        TextOffset argument_start = p.node_start();
        Pattern* pattern = parse_match_pattern(p, AllowStarPattern::No);
        if (p.eat(TokenKind::Equal)) {
          Identifier attribute;
          if (const python_ast::PatternAs* capture = as_capture(pattern)) {
            attribute = *capture->name;
          } else {
            p.add_error(ParseErrorType::other("Expected an identifier for the keyword pattern"), *pattern);
            attribute = Identifier(python_ast::Name(), TextRange::empty(p.prev_token_end()));
          }
          Pattern* value = parse_match_pattern(p, AllowStarPattern::No);
          arguments.push(Argument{nullptr, python_ast::PatternKeyword(p.node_range(argument_start), attribute, value)});
          ++keyword_count;
          return;
        }
        arguments.push(Argument{pattern, python_ast::PatternKeyword()});
        if (keyword_count != 0) {
          p.add_error(ParseErrorType::other("Positional patterns cannot follow keyword patterns"),
                      p.node_range(argument_start));
        }
      });
  parser.expect(TokenKind::Rpar);

  std::span<Pattern*> positional = parser.arena().make_array<Pattern*>(arguments.size() - keyword_count);
  std::span<python_ast::PatternKeyword> keywords = parser.arena().make_array<python_ast::PatternKeyword>(keyword_count);
  std::size_t next_positional = 0;
  std::size_t next_keyword = 0;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    Argument argument = arguments[i];
    if (argument.positional != nullptr) {
      positional[next_positional++] = argument.positional;
    } else {
      keywords[next_keyword++] = argument.keyword;
    }
  }
  python_ast::PatternArguments pattern_arguments(parser.node_range(arguments_start), positional, keywords);
  return parser.arena().make<python_ast::PatternClass>(parser.node_range(start), class_expression,
                                                       pattern_arguments);
}

// Whether `expr`, under any `+` and `-` signs, is an integer or float literal.
bool is_real_number(const Expr* expr) {
  while (const auto* unary = expr->as<python_ast::ExprUnaryOp>()) {
    if (unary->op != python_ast::UnaryOp::UAdd && unary->op != python_ast::UnaryOp::USub) return false;
    expr = unary->operand;
  }
  const auto* number = expr->as<python_ast::ExprNumberLiteral>();
  return number != nullptr && number->value.kind() != python_ast::NumberLiteralValue::Kind::Complex;
}

bool is_imaginary_number(const Expr* expr) {
  const auto* number = expr->as<python_ast::ExprNumberLiteral>();
  return number != nullptr && number->value.kind() == python_ast::NumberLiteralValue::Kind::Complex;
}

// complex_number:
//     | signed_real_number '+' imaginary_number
//     | signed_real_number '-' imaginary_number
// `left` (which began at `start`) is parsed; the current token is `+` or `-`.
Pattern* parse_complex_literal_pattern(Parser& parser, Pattern* left, TextOffset start) {
  python_ast::BinaryOperator op =
      parser.at(TokenKind::Plus) ? python_ast::BinaryOperator::Add : python_ast::BinaryOperator::Sub;
  parser.bump_any();

  Expr* left_value;
  if (const auto* value = left->as<python_ast::PatternValue>()) {
    left_value = value->value;
    if (!is_real_number(left_value)) {
      parser.add_error(ParseErrorType::ExpectedRealNumber, *left);
    }
  } else {
    parser.add_error(ParseErrorType::ExpectedRealNumber, *left);
    left_value = pattern_to_expr(parser.arena(), left);
  }

  Pattern* right = parse_match_pattern_lhs(parser, AllowStarPattern::No);
  Expr* right_value;
  if (const auto* value = right->as<python_ast::PatternValue>()) {
    right_value = value->value;
    if (!is_imaginary_number(right_value)) {
      parser.add_error(ParseErrorType::ExpectedImaginaryNumber, *right);
    }
  } else {
    parser.add_error(ParseErrorType::ExpectedImaginaryNumber, *right);
    right_value = pattern_to_expr(parser.arena(), right);
  }

  TextRange range = parser.node_range(start);
  Expr* complex = parser.arena().make<python_ast::ExprBinOp>(range, left_value, op, right_value);
  return parser.arena().make<python_ast::PatternValue>(range, complex);
}

// capture_pattern: pattern_capture_target
// wildcard_pattern: "_"
// value_pattern: attr
// The current token is a name or a keyword (reported by parse_identifier).
// Whether a `.` follows the name is seen after the name is consumed, which
// spares a look-ahead for every capture.
Pattern* parse_name_pattern(Parser& parser, TextOffset start) {
  Identifier identifier = parse_identifier(parser);
  if (parser.at(TokenKind::Dot)) {
    Expr* value = name_expression(parser, identifier);
    ProgressGuard progress;
    while (parser.at(TokenKind::Dot)) {
      progress.check(parser);
      value = parse_attribute_expression(parser, value, start);
    }
    return parser.arena().make<python_ast::PatternValue>(parser.node_range(start), value);
  }
  std::optional<Identifier> name;
  if (identifier.as_str() != "_") name = identifier;
  return parser.arena().make<python_ast::PatternAs>(identifier.range, nullptr, name);
}

}  // namespace

Expr* parse_match_subject_expression(Parser& parser) {
  TextOffset start = parser.node_start();
  MarkedExpr first = parse_named_expression_or_higher(parser, kSubjectFlags);
  if (!parser.at(TokenKind::Comma)) {
    if (!first.in_parentheses && first.expr->is<python_ast::ExprStarred>()) {
      parser.add_error(ParseErrorType::StarredNotAllowedHere, *first.expr);
    }
    return first.expr;
  }

  // `match a, *b:` is an unparenthesized tuple.
  parser.bump(TokenKind::Comma);
  ScratchList<Expr*> elements = parser.scratch_list<Expr*>();
  elements.push(first.expr);
  parser.parse_comma_separated_list(RecoveryContextKind::TupleElementsUnparenthesized, TrailingComma::Allowed,
                                    [&](Parser& p) {
                                      Expr* element = parse_named_expression_or_higher(p, kSubjectFlags).expr;
                                      elements.push(element);
                                    });
  return parser.arena().make<python_ast::ExprTuple>(parser.node_range(start), elements.finish(),
                                                    ExpressionContext::Load, false);
}

std::span<python_ast::MatchCase> parse_match_body(Parser& parser) {
  parser.expect(TokenKind::Newline);
  if (!parser.eat(TokenKind::Indent)) {
    parser.add_error(ParseErrorType::other("Expected an indented block after `match` statement"),
                     parser.current_token_range());
  }

  ScratchList<python_ast::MatchCase> cases = parser.scratch_list<python_ast::MatchCase>();
  if (!parser.at(TokenKind::Case)) {
    parser.add_error(ParseErrorType::other("Expected `case` block"), parser.current_token_range());
  } else {
    ProgressGuard progress;
    while (parser.at(TokenKind::Case)) {
      progress.check(parser);
      TextOffset case_start = parser.node_start();
      parser.bump(TokenKind::Case);

      // patterns: open_sequence_pattern | pattern
      TextOffset pattern_start = parser.node_start();
      Pattern* pattern = parse_match_pattern(parser, AllowStarPattern::Yes);
      if (parser.at(TokenKind::Comma)) {
        pattern = parse_sequence_match_pattern(parser, pattern, pattern_start, SequenceMatchPatternParentheses::None);
      } else if (pattern->is<python_ast::PatternStar>()) {
        add_star_pattern_error(parser, *pattern);
      }

      // guard: 'if' named_expression
      Expr* guard = nullptr;
      if (parser.eat(TokenKind::If)) {
        if (can_start_expression(parser.current_token_kind())) {
          guard = parse_named_expression_or_higher(parser, ExpressionParseFlags::None).expr;
        } else {
          parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
        }
      }

      parser.expect(TokenKind::Colon);
      std::span<python_ast::Stmt*> body = parse_body(parser, Clause::Case);
      cases.push(python_ast::MatchCase(parser.node_range(case_start), pattern, guard, body));
    }
  }
  parser.expect(TokenKind::Dedent);
  return cases.finish();
}

Pattern* parse_match_pattern(Parser& parser, AllowStarPattern allow_star) {
  TextOffset start = parser.node_start();
  Pattern* pattern = parse_match_pattern_lhs(parser, allow_star);

  if (parser.at(TokenKind::Vbar)) {
    if (pattern->is<python_ast::PatternStar>()) add_star_pattern_error(parser, *pattern);
    ScratchList<Pattern*> alternatives = parser.scratch_list<Pattern*>();
    alternatives.push(pattern);
    ProgressGuard progress;
    while (parser.at(TokenKind::Vbar)) {
      progress.check(parser);
      parser.bump(TokenKind::Vbar);
      Pattern* alternative = parse_match_pattern_lhs(parser, AllowStarPattern::No);
      alternatives.push(alternative);
    }
    pattern = parser.arena().make<python_ast::PatternOr>(parser.node_range(start), alternatives.finish());
  }

  if (parser.eat(TokenKind::As)) {
    if (pattern->is<python_ast::PatternStar>()) add_star_pattern_error(parser, *pattern);
    // `p as _` keeps the name "_".
    Identifier name = parse_identifier(parser);
    pattern = parser.arena().make<python_ast::PatternAs>(parser.node_range(start), pattern, name);
  }
  return pattern;
}

Pattern* parse_match_pattern_lhs(Parser& parser, AllowStarPattern allow_star) {
  TextOffset start = parser.node_start();
  // Every cycle of pattern recursion passes through here.
  DepthGuard depth(parser);
  if (depth.exceeded()) return missing_pattern(parser, start);

  Pattern* pattern;
  TokenKind kind = parser.current_token_kind();
  switch (kind) {
    case TokenKind::Lpar:
    case TokenKind::Lsqb:
      pattern = parse_bracketed_pattern(parser, start);
      break;
    case TokenKind::Star:
      pattern = parse_star_pattern(parser, start, allow_star);
      break;
    case TokenKind::Lbrace:
      pattern = parse_mapping_pattern(parser, start);
      break;
    case TokenKind::Int:
    case TokenKind::Float:
    case TokenKind::Complex:
      pattern = parse_number_pattern(parser, start);
      break;
    case TokenKind::String:
    case TokenKind::FStringStart:
    case TokenKind::TStringStart: {
      Expr* strings = parse_strings(parser);
      pattern = parser.arena().make<python_ast::PatternValue>(parser.node_range(start), strings);
      break;
    }
    case TokenKind::None:
    case TokenKind::True:
    case TokenKind::False: {
      parser.bump(kind);
      python_ast::PatternSingletonValue value = kind == TokenKind::None   ? python_ast::PatternSingletonValue::None
                                                : kind == TokenKind::True ? python_ast::PatternSingletonValue::True
                                                                          : python_ast::PatternSingletonValue::False;
      pattern = parser.arena().make<python_ast::PatternSingleton>(parser.node_range(start), value);
      break;
    }
    default:
      pattern = nullptr;
      break;
  }

  if (pattern == nullptr && (kind == TokenKind::Plus || kind == TokenKind::Minus) && is_number(parser.peek())) {
    // A signed number: `-1`, `-1.5j`; `+1` is parsed and reported.
    bool plus = kind == TokenKind::Plus;
    python_ast::ExprUnaryOp* unary = parse_unary_expression(
        parser, plus ? python_ast::UnaryOp::UAdd : python_ast::UnaryOp::USub, ExpressionParseFlags::None);
    if (plus) parser.add_error(ParseErrorType::other("Unary '+' is not allowed as a literal pattern"), *unary);
    pattern = parser.arena().make<python_ast::PatternValue>(parser.node_range(start), unary);
  }

  if (pattern == nullptr) {
    if (kind == TokenKind::Name || python_ast::is_any_keyword(kind)) {
      pattern = parse_name_pattern(parser, start);
    } else {
      // Nothing here starts a pattern; the token is left to the caller.
      parser.add_error(ParseErrorType::other("Expected a pattern"), parser.current_token_range());
      pattern = missing_pattern(parser, start);
    }
  }

  // The tails, each tried once, in this order.
  if (parser.at(TokenKind::Lpar)) pattern = parse_class_pattern(parser, pattern, start);
  if (parser.at(TokenKind::Plus) || parser.at(TokenKind::Minus)) {
    pattern = parse_complex_literal_pattern(parser, pattern, start);
  }
  return pattern;
}

python_ast::PatternSequence* parse_sequence_match_pattern(Parser& parser, Pattern* first, TextOffset start,
                                                          SequenceMatchPatternParentheses parentheses) {
  TokenKind closer = parentheses == SequenceMatchPatternParentheses::List ? TokenKind::Rsqb : TokenKind::Rpar;
  bool bracketed = parentheses != SequenceMatchPatternParentheses::None;

  // The comma after the first element. Inside brackets, nothing is needed
  // when the closer follows at once; anything else but a comma is a missing
  // comma, even when the closer comes right after it (`[a b]`).
  if (!bracketed || !parser.at(closer)) parser.expect(TokenKind::Comma);

  RecoveryContextKind list_kind = parentheses == SequenceMatchPatternParentheses::None
                                      ? RecoveryContextKind::SequenceMatchPattern
                                  : parentheses == SequenceMatchPatternParentheses::List
                                      ? RecoveryContextKind::SequenceMatchPatternList
                                      : RecoveryContextKind::SequenceMatchPatternTuple;
  ScratchList<Pattern*> elements = parser.scratch_list<Pattern*>();
  elements.push(first);
  parser.parse_comma_separated_list(list_kind, TrailingComma::Allowed, [&](Parser& p) {
    Pattern* element = parse_match_pattern(p, AllowStarPattern::Yes);
    elements.push(element);
  });
  if (bracketed) parser.expect(closer);

  return parser.arena().make<python_ast::PatternSequence>(parser.node_range(start), elements.finish());
}

}  // namespace python_parser
