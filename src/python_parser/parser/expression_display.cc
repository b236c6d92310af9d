#include "python_parser/parser/expression_display.h"

#include <string>

#include "python_parser/error.h"
#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/statement.h"

namespace python_parser {

using python_ast::Comprehension;
using python_ast::DictItem;
using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::TokenKind;
using text_size::TextOffset;

namespace {

// Display elements: starred elements are accepted, their value binds at
// bitwise-or level (`[*a or b]` is reported, `[*(a or b)]` is not).
constexpr ExpressionParseFlags kElementFlags =
    ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand;

// Comprehension targets: `in` ends the target, and a bare tuple or a starred
// element is a target.
constexpr ExpressionParseFlags kTargetFlags = ExpressionParseFlags::StopAtIn | ExpressionParseFlags::StarredAllowed;

// The tokens after which no comma is expected: the end of an unparenthesized
// sequence, and the end of the file.
constexpr TokenSet kSequenceEndOrEof = token_sets::kSequenceEnd | TokenSet{TokenKind::EndOfFile};

bool is_unparenthesized(const MarkedExpr& marked, python_ast::ExprKind kind) {
  return !marked.in_parentheses && marked.expr->kind() == kind;
}

// The comma after a display's first element, unless the display ends there.
void expect_comma_after_first_element(Parser& parser) {
  if (!parser.at_set(kSequenceEndOrEof)) parser.expect(TokenKind::Comma);
}

// An empty display for `start`, for a display past the nesting limit.
Expr* nesting_placeholder_list(Parser& parser, TextOffset start) {
  return parser.arena().make<python_ast::ExprList>(parser.node_range(start), std::span<Expr*>(),
                                                    ExpressionContext::Load);
}

// disjunction: one operand at the lowest binding power with no flags, then
// the climb. No conditional and no `:=` (a lambda is parsed and reported as
// misplaced): the iterable and the conditions of a comprehension clause end
// before `if`, `else`, `for`, `async` and `:=`.
Expr* parse_disjunction(Parser& parser) {
  TextOffset start = parser.node_start();
  MarkedExpr operand = parse_lhs_expression(parser, BindingPower::Initial, ExpressionParseFlags::None);
  return parse_binary_expression_or_higher_recursive(parser, operand, BindingPower::Initial,
                                                     ExpressionParseFlags::None, start)
      .expr;
}

// for_if_clause:
//     | 'async' 'for' star_targets 'in' ~ disjunction ('if' disjunction)*
//     | 'for' star_targets 'in' ~ disjunction ('if' disjunction)*
// The current token is `async` or `for`.
Comprehension parse_comprehension(Parser& parser) {
  TextOffset start = parser.node_start();
  bool is_async = parser.at(TokenKind::Async);
  if (is_async) {
    parser.bump(TokenKind::Async);
    parser.expect(TokenKind::For);
  } else {
    parser.bump(TokenKind::For);
  }

  Expr* target = parse_expression_list(parser, kTargetFlags).expr;
  helpers::set_expr_ctx(target, ExpressionContext::Store);
  validate_assignment_target(parser, target);

  parser.expect(TokenKind::In);
  Expr* iter = parse_disjunction(parser);

  auto conditions = parser.scratch_list<Expr*>();
  ProgressGuard progress;
  while (parser.at(TokenKind::If)) {
    progress.check(parser);
    parser.bump(TokenKind::If);
    Expr* condition = parse_disjunction(parser);
    conditions.push(condition);
  }
  return Comprehension(parser.node_range(start), target, iter, conditions.finish(), is_async);
}

// The rest of a dict display whose first item is known:
//     double_starred_kvpairs: ','.double_starred_kvpair+ [',']
//     double_starred_kvpair: '**' bitwise_or | kvpair
//     kvpair: expression ':' expression
// `key` is nullptr for a first item `**value`. The display began at `start`.
python_ast::ExprDict* parse_dictionary_expression(Parser& parser, Expr* key, Expr* value, TextOffset start) {
  expect_comma_after_first_element(parser);

  auto items = parser.scratch_list<DictItem>();
  items.push(DictItem(key, value));
  parser.parse_comma_separated_list(RecoveryContextKind::DictElements, TrailingComma::Allowed, [&](Parser& p) {
    if (p.eat(TokenKind::DoubleStar)) {
      Expr* unpacked = parse_expression_with_bitwise_or_precedence(p).expr;
      items.push(DictItem(nullptr, unpacked));
      return;
    }
    Expr* item_key = parse_conditional_expression_or_higher_impl(p, ExpressionParseFlags::None).expr;
    p.expect(TokenKind::Colon);
    Expr* item_value = parse_conditional_expression_or_higher_impl(p, ExpressionParseFlags::None).expr;
    items.push(DictItem(item_key, item_value));
  });
  std::span<DictItem> finished = items.finish();

  parser.expect(TokenKind::Rbrace);
  return parser.arena().make<python_ast::ExprDict>(parser.node_range(start), finished);
}

// The rest of a set display whose first element is known:
//     set: '{' star_named_expressions '}'
python_ast::ExprSet* parse_set_expression(Parser& parser, Expr* first, TextOffset start) {
  expect_comma_after_first_element(parser);

  auto elements = parser.scratch_list<Expr*>();
  elements.push(first);
  parser.parse_comma_separated_list(RecoveryContextKind::SetElements, TrailingComma::Allowed, [&](Parser& p) {
    Expr* element = parse_named_expression_or_higher(p, kElementFlags).expr;
    elements.push(element);
  });
  std::span<Expr*> finished = elements.finish();

  parser.expect(TokenKind::Rbrace);
  return parser.arena().make<python_ast::ExprSet>(parser.node_range(start), finished);
}

// After `[` or `{`: a line end or the end of the file means the bracket is
// never closed.
void check_missing_closing_bracket(Parser& parser, std::string_view message) {
  if (parser.at(TokenKind::Newline) || parser.at(TokenKind::EndOfFile)) {
    parser.add_error(ParseErrorType::other(std::string(message)), parser.current_token_range());
  }
}

}  // namespace

// list:     '[' [star_named_expressions] ']'
// listcomp: '[' named_expression for_if_clauses ']'
Expr* parse_list_like_expression(Parser& parser) {
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) return nesting_placeholder_list(parser, start);

  parser.bump(TokenKind::Lsqb);
  check_missing_closing_bracket(parser, "missing closing bracket `]`");

  python_ast::Arena& arena = parser.arena();
  if (parser.eat(TokenKind::Rsqb)) {
    return arena.make<python_ast::ExprList>(parser.node_range(start), std::span<Expr*>(), ExpressionContext::Load);
  }

  MarkedExpr first = parse_named_expression_or_higher(parser, kElementFlags);

  if (parser.at(TokenKind::Async) || parser.at(TokenKind::For)) {
    if (is_unparenthesized(first, python_ast::ExprKind::Starred)) {
      parser.add_error(ParseErrorType::IterableUnpackingInComprehension, *first.expr);
    }
    std::span<Comprehension> generators = parse_generators(parser);
    parser.expect(TokenKind::Rsqb);
    return arena.make<python_ast::ExprListComprehension>(parser.node_range(start), first.expr, generators);
  }

  expect_comma_after_first_element(parser);
  auto elements = parser.scratch_list<Expr*>();
  elements.push(first.expr);
  parser.parse_comma_separated_list(RecoveryContextKind::ListElements, TrailingComma::Allowed, [&](Parser& p) {
    Expr* element = parse_named_expression_or_higher(p, kElementFlags).expr;
    elements.push(element);
  });
  std::span<Expr*> finished = elements.finish();

  parser.expect(TokenKind::Rsqb);
  return arena.make<python_ast::ExprList>(parser.node_range(start), finished, ExpressionContext::Load);
}

// dict:     '{' [double_starred_kvpairs] '}'
// set:      '{' star_named_expressions '}'
// dictcomp: '{' kvpair for_if_clauses '}'
// setcomp:  '{' named_expression for_if_clauses '}'
Expr* parse_set_or_dict_like_expression(Parser& parser) {
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) {
    return parser.arena().make<python_ast::ExprDict>(parser.node_range(start), std::span<DictItem>());
  }

  parser.bump(TokenKind::Lbrace);
  check_missing_closing_bracket(parser, "missing closing brace `}`");

  python_ast::Arena& arena = parser.arena();
  if (parser.eat(TokenKind::Rbrace)) {
    // `{}` is always a dict.
    return arena.make<python_ast::ExprDict>(parser.node_range(start), std::span<DictItem>());
  }

  if (parser.eat(TokenKind::DoubleStar)) {
    // A display that starts with `**` is a dict display, never a
    // comprehension.
    Expr* unpacked = parse_expression_with_bitwise_or_precedence(parser).expr;
    return parse_dictionary_expression(parser, nullptr, unpacked, start);
  }

  MarkedExpr first = parse_named_expression_or_higher(parser, kElementFlags);

  if (parser.at(TokenKind::Colon)) {
    // A dict: the first entry is its first key, which the element flags let
    // through as `a := b` or `*a`; neither is a key.
    if (is_unparenthesized(first, python_ast::ExprKind::Assignment)) {
      parser.add_error(ParseErrorType::UnparenthesizedNamedExpression, *first.expr);
    } else if (is_unparenthesized(first, python_ast::ExprKind::Starred)) {
      parser.add_error(ParseErrorType::StarredNotAllowedHere, *first.expr);
    }
    parser.bump(TokenKind::Colon);
    Expr* value = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None).expr;

    if (parser.at(TokenKind::Async) || parser.at(TokenKind::For)) {
      std::span<Comprehension> generators = parse_generators(parser);
      parser.expect(TokenKind::Rbrace);
      return arena.make<python_ast::ExprDictComprehension>(parser.node_range(start), first.expr, value, generators);
    }
    return parse_dictionary_expression(parser, first.expr, value, start);
  }

  if (parser.at(TokenKind::Async) || parser.at(TokenKind::For)) {
    if (is_unparenthesized(first, python_ast::ExprKind::Starred)) {
      parser.add_error(ParseErrorType::IterableUnpackingInComprehension, *first.expr);
    }
    std::span<Comprehension> generators = parse_generators(parser);
    parser.expect(TokenKind::Rbrace);
    return arena.make<python_ast::ExprSetComprehension>(parser.node_range(start), first.expr, generators);
  }

  return parse_set_expression(parser, first.expr, start);
}

// for_if_clauses: for_if_clause+
std::span<Comprehension> parse_generators(Parser& parser) {
  // One level for the whole clause list: the targets, iterables and
  // conditions recurse through the guarded expression entries.
  DepthGuard depth(parser);
  if (depth.exceeded()) return {};

  auto clauses = parser.scratch_list<Comprehension>();
  ProgressGuard progress;
  while (parser.at(TokenKind::For) || parser.at(TokenKind::Async)) {
    progress.check(parser);
    Comprehension clause = parse_comprehension(parser);
    clauses.push(clause);
  }
  return clauses.finish();
}

// genexp: '(' ( assignment_expression | expression !':=') for_if_clauses ')'
// and the sole generator argument of a call: primary '(' genexp-body ')'.
python_ast::ExprGenerator* parse_generator_expression(Parser& parser, Expr* element, TextOffset start,
                                                      bool parenthesized) {
  std::span<Comprehension> generators = parse_generators(parser);
  if (parenthesized) parser.expect(TokenKind::Rpar);
  return parser.arena().make<python_ast::ExprGenerator>(parser.node_range(start), element, generators,
                                                         parenthesized);
}

}  // namespace python_parser
