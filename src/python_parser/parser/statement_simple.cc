// Simple statements, their target validators, import aliases and dotted
// names.

#include <cstring>
#include <optional>

#include "python_parser/parser/expression.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/ipython.h"
#include "python_parser/parser/parameters.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/statement.h"
#include "support/fatal_error.h"

namespace python_parser {

using python_ast::Alias;
using python_ast::BinaryOperator;
using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::Identifier;
using python_ast::Stmt;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

constexpr ExpressionParseFlags kNoFlags = ExpressionParseFlags::None;
// `return` values and the like: starred elements with bitwise-or operands.
constexpr ExpressionParseFlags kStarredFlags =
    ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand;
// Expression statements and assignment values, where a bare `yield` may
// stand too.
constexpr ExpressionParseFlags kStatementFlags = kStarredFlags | ExpressionParseFlags::YieldAllowed;

bool is_name_or_soft_keyword(TokenKind kind) { return kind == TokenKind::Name || python_ast::is_soft_keyword(kind); }

bool is_unparenthesized_tuple(const Expr* expr) {
  const auto* tuple = expr->as<python_ast::ExprTuple>();
  return tuple != nullptr && !tuple->parenthesized;
}

// Names, attributes and subscripts: the targets that need no look inside.
bool is_single_target(const Expr* expr) {
  return expr->is<python_ast::ExprName>() || expr->is<python_ast::ExprAttribute>() ||
         expr->is<python_ast::ExprSubscript>();
}

// The operator of an augmented-assignment token; nothing for other tokens.
std::optional<BinaryOperator> augmented_assignment_operator(TokenKind kind) {
  switch (kind) {
    case TokenKind::PlusEqual:
      return BinaryOperator::Add;
    case TokenKind::MinusEqual:
      return BinaryOperator::Sub;
    case TokenKind::StarEqual:
      return BinaryOperator::Mult;
    case TokenKind::AtEqual:
      return BinaryOperator::MatMult;
    case TokenKind::SlashEqual:
      return BinaryOperator::Div;
    case TokenKind::PercentEqual:
      return BinaryOperator::Mod;
    case TokenKind::DoubleStarEqual:
      return BinaryOperator::Pow;
    case TokenKind::LeftShiftEqual:
      return BinaryOperator::LShift;
    case TokenKind::RightShiftEqual:
      return BinaryOperator::RShift;
    case TokenKind::VbarEqual:
      return BinaryOperator::BitOr;
    case TokenKind::CircumflexEqual:
      return BinaryOperator::BitXor;
    case TokenKind::AmperEqual:
      return BinaryOperator::BitAnd;
    case TokenKind::DoubleSlashEqual:
      return BinaryOperator::FloorDiv;
    default:
      return std::nullopt;
  }
}

// A value after `=` or `:`, or "Expected an expression" and nothing when no
// expression starts here.
Expr* parse_optional_value(Parser& parser, ExpressionParseFlags flags, bool expression_list) {
  if (!can_start_expression(parser.current_token_kind())) {
    parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
    return nullptr;
  }
  return expression_list ? parse_expression_list(parser, flags).expr
                         : parse_conditional_expression_or_higher_impl(parser, flags).expr;
}

// assert_stmt: 'assert' expression [',' expression]
Stmt* parse_assert_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Assert);
  Expr* test = parse_conditional_expression_or_higher_impl(parser, kNoFlags).expr;
  Expr* message = nullptr;
  if (parser.eat(TokenKind::Comma)) message = parse_optional_value(parser, kNoFlags, false);
  return parser.arena().make<python_ast::StmtAssert>(parser.node_range(start), test, message);
}

// del_stmt: 'del' del_targets
// del_targets: ','.del_target+ [',']
Stmt* parse_delete_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Del);
  CommaSeparatedList<Expr*> targets = parser.parse_comma_separated_list(
      RecoveryContextKind::Delete, TrailingComma::Allowed, [](Parser& p) -> Expr* {
        Expr* target = parse_conditional_expression_or_higher_impl(p, ExpressionParseFlags::StarredAllowed).expr;
        helpers::set_expr_ctx(target, ExpressionContext::Del);
        validate_delete_target(p, target);
        return target;
      });
  if (targets.elements.empty()) {
    parser.add_error(ParseErrorType::DeleteWithoutTargets, parser.current_token_range());
  }
  return parser.arena().make<python_ast::StmtDelete>(parser.node_range(start), targets.elements);
}

// global_stmt: 'global' ','.NAME+
// nonlocal_stmt: 'nonlocal' ','.NAME+
Stmt* parse_global_or_nonlocal_statement(Parser& parser, TextOffset start) {
  bool global = parser.at(TokenKind::Global);
  parser.bump_any();
  CommaSeparatedList<Identifier> names =
      parser.parse_comma_separated_list(RecoveryContextKind::Identifiers, TrailingComma::NotAllowed, parse_identifier);
  if (names.elements.empty()) {
    parser.add_error(global ? ParseErrorType::GlobalWithoutNames : ParseErrorType::NonlocalWithoutNames,
                     parser.current_token_range());
  }
  TextRange range = parser.node_range(start);
  if (global) return parser.arena().make<python_ast::StmtGlobal>(range, names.elements);
  return parser.arena().make<python_ast::StmtNonlocal>(range, names.elements);
}

// import_name: 'import' dotted_as_names
// dotted_as_names: ','.dotted_as_name+
Stmt* parse_import_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Import);
  CommaSeparatedList<Alias> names = parser.parse_comma_separated_list(
      RecoveryContextKind::ImportNames, TrailingComma::NotAllowed,
      [](Parser& p) { return parse_alias(p, ImportStyle::Dotted); });
  if (names.elements.empty()) {
    parser.add_error(ParseErrorType::ImportWithoutNames, parser.current_token_range());
  }
  return parser.arena().make<python_ast::StmtImport>(parser.node_range(start), names.elements);
}

// import_from:
//     | 'from' ('.' | '...')* dotted_name 'import' import_from_targets
//     | 'from' ('.' | '...')+ 'import' import_from_targets
// import_from_targets:
//     | '(' import_from_as_names [','] ')'
//     | import_from_as_names !','
//     | '*'
Stmt* parse_from_import_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::From);
  std::uint32_t level = 0;
  for (;;) {
    if (parser.eat(TokenKind::Dot)) {
      level += 1;
    } else if (parser.eat(TokenKind::Ellipsis)) {
      level += 3;
    } else {
      break;
    }
  }

  std::optional<Identifier> module;
  if (is_name_or_soft_keyword(parser.current_token_kind())) {
    module = parse_dotted_name(parser);
  } else if (level == 0) {
    parser.add_error(ParseErrorType::other("Expected a module name"), parser.current_token_range());
  }
  parser.expect(TokenKind::Import);

  TextOffset names_start = parser.node_start();
  bool parenthesized = parser.eat(TokenKind::Lpar);
  bool has_star = false;
  CommaSeparatedList<Alias> names = parser.parse_comma_separated_list(
      parenthesized ? RecoveryContextKind::ImportFromAsNamesParenthesized
                    : RecoveryContextKind::ImportFromAsNamesUnparenthesized,
      parenthesized ? TrailingComma::Allowed : TrailingComma::NotAllowed, [&has_star](Parser& p) {
        Alias alias = parse_alias(p, ImportStyle::Identifier);
        if (alias.name.as_str() == "*") has_star = true;
        return alias;
      });
  if (names.elements.empty()) {
    parser.add_error(ParseErrorType::ImportWithoutNames, parser.current_token_range());
  }
  if (has_star && names.elements.size() > 1) {
    parser.add_error(ParseErrorType::other("Star import must be the only import"), parser.node_range(names_start));
  }
  if (parenthesized) parser.expect(TokenKind::Rpar);
  return parser.arena().make<python_ast::StmtFromImport>(parser.node_range(start), module, names.elements, level);
}

// The exception or the cause of a `raise`: an expression, where an
// unparenthesized tuple is reported.
Expr* parse_raise_operand(Parser& parser) {
  Expr* operand = parse_expression_list(parser, kNoFlags).expr;
  if (is_unparenthesized_tuple(operand)) {
    parser.add_error(ParseErrorType::UnparenthesizedTupleExpression, *operand);
  }
  return operand;
}

// raise_stmt:
//     | 'raise' expression ['from' expression]
//     | 'raise'
Stmt* parse_raise_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Raise);
  Expr* exception = nullptr;
  Expr* cause = nullptr;
  // The bare form ends where the statement ends: at a newline, a `;` or the
  // end of the file.
  bool bare = parser.at(TokenKind::Newline) || parser.at(TokenKind::Semi) || parser.at(TokenKind::EndOfFile);
  if (!bare) {
    if (parser.at(TokenKind::From)) {
      parser.add_error(ParseErrorType::other("Exception missing in `raise` statement with cause"),
                       parser.current_token_range());
    } else {
      exception = parse_raise_operand(parser);
    }
    if (parser.eat(TokenKind::From)) cause = parse_raise_operand(parser);
  }
  return parser.arena().make<python_ast::StmtRaise>(parser.node_range(start), exception, cause);
}

// return_stmt: 'return' [star_expressions]
Stmt* parse_return_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Return);
  Expr* value = nullptr;
  if (can_start_expression(parser.current_token_kind())) {
    value = parse_expression_list(parser, kStarredFlags).expr;
    check_tuple_unpacking(parser, value, TupleUnpackingKind::Return);
  }
  return parser.arena().make<python_ast::StmtReturn>(parser.node_range(start), value);
}

// Whether the current `type` starts a type alias: a name follows, then `=`
// or `[`. Elsewhere `type` is a name.
bool at_type_alias(Parser& parser) {
  auto [first, second] = parser.peek2();
  return is_name_or_soft_keyword(first) && (second == TokenKind::Equal || second == TokenKind::Lsqb);
}

// type_alias: "type" NAME [type_params] '=' expression
Stmt* parse_type_alias_statement(Parser& parser, TextOffset start) {
  python_ast::Arena& arena = parser.arena();
  parser.bump(TokenKind::Type);
  Identifier identifier = parse_identifier(parser);
  Expr* name = arena.make<python_ast::ExprName>(identifier.range, identifier.id, ExpressionContext::Store);
  python_ast::TypeParams* type_params = try_parse_type_params(parser);
  parser.expect(TokenKind::Equal);
  Expr* value = parse_conditional_expression_or_higher_impl(parser, kNoFlags).expr;
  return arena.make<python_ast::StmtTypeAlias>(parser.node_range(start), name, type_params, value);
}

// assignment: (star_targets '=')+ (yield_expr | star_expressions)
// `first` is the first target, the current token the first `=`.
Stmt* parse_assignment_statement(Parser& parser, Expr* first, TextOffset start) {
  parser.bump(TokenKind::Equal);
  ScratchList<Expr*> targets = parser.scratch_list<Expr*>();
  targets.push(first);
  Expr* value = parse_expression_list(parser, kStatementFlags).expr;
  if (parser.at(TokenKind::Equal)) {
    // `a = b = c`: each further `=` turns the value so far into a target.
    parser.parse_list(RecoveryContextKind::AssignmentTargets, [&targets, &value](Parser& p) {
      p.bump(TokenKind::Equal);
      Expr* next = parse_expression_list(p, kStatementFlags).expr;
      targets.push(value);
      value = next;
    });
  }
  std::span<Expr*> finished = targets.finish();
  for (Expr* target : finished) {
    helpers::set_expr_ctx(target, ExpressionContext::Store);
    validate_assignment_target(parser, target);
  }
  return parser.arena().make<python_ast::StmtAssignment>(parser.node_range(start), finished, value);
}

// augassign: single_target augassign (yield_expr | star_expressions)
Stmt* parse_augmented_assignment_statement(Parser& parser, Expr* target, BinaryOperator op, TextOffset start) {
  parser.bump_any();
  if (!is_single_target(target)) parser.add_error(ParseErrorType::InvalidAugmentedAssignmentTarget, *target);
  helpers::set_expr_ctx(target, ExpressionContext::Store);
  Expr* value = parse_expression_list(parser, kStatementFlags).expr;
  return parser.arena().make<python_ast::StmtAugmentedAssignment>(parser.node_range(start), target, value, op);
}

// annotated_rhs / assignment:
//     | NAME ':' expression ['=' annotated_rhs]
//     | ('(' single_target ')' | single_subscript_attribute_target) ':' expression ['=' annotated_rhs]
Stmt* parse_annotated_assignment_statement(Parser& parser, MarkedExpr target, TextOffset start) {
  parser.bump(TokenKind::Colon);
  Expr* expr = target.expr;
  if (expr->is<python_ast::ExprList>()) {
    parser.add_error(ParseErrorType::other("Only single target (not list) can be annotated"), *expr);
  } else if (expr->is<python_ast::ExprTuple>()) {
    parser.add_error(ParseErrorType::other("Only single target (not tuple) can be annotated"), *expr);
  } else if (!is_single_target(expr)) {
    parser.add_error(ParseErrorType::InvalidAnnotatedAssignmentTarget, *expr);
  }
  helpers::set_expr_ctx(expr, ExpressionContext::Store);
  Expr* annotation = parse_conditional_expression_or_higher_impl(parser, kNoFlags).expr;
  Expr* value = nullptr;
  if (parser.eat(TokenKind::Equal)) value = parse_optional_value(parser, kStatementFlags, true);
  bool simple = expr->is<python_ast::ExprName>() && !target.in_parentheses;
  return parser.arena().make<python_ast::StmtAnnotatedAssignment>(parser.node_range(start), expr, annotation, value,
                                                                  simple);
}

// expression statements, assignments, augmented and annotated assignments,
// and in IPython mode help requests (`obj?`)
Stmt* parse_expression_based_statement(Parser& parser, TextOffset start) {
  MarkedExpr first = parse_expression_list(parser, kStatementFlags);
  TokenKind current = parser.current_token_kind();
  if (current == TokenKind::Equal) return parse_assignment_statement(parser, first.expr, start);
  if (current == TokenKind::Colon) return parse_annotated_assignment_statement(parser, first, start);
  if (std::optional<BinaryOperator> op = augmented_assignment_operator(current)) {
    return parse_augmented_assignment_statement(parser, first.expr, *op, start);
  }
  if (current == TokenKind::Question && parser.mode() == Mode::Ipython) {
    return parse_ipython_help_end_escape_command_statement(parser, first);
  }
  return parser.arena().make<python_ast::StmtExpression>(parser.node_range(start), first.expr);
}

// The work list of the target validators: nested targets are visited from
// it, not by recursion, so that no depth of nesting reaches the machine
// stack. Ordinary targets fit inline.
using TargetStack = InlineStack<const Expr*, 16>;

// Pushes the children of a list or tuple target onto `pending` so that they
// come off it in source order.
void push_elements(TargetStack& pending, std::span<Expr* const> elements) {
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) pending.push(*it);
}

std::span<Expr* const> elements_of(const Expr* expr) {
  if (const auto* list = expr->as<python_ast::ExprList>()) return list->elements;
  if (const auto* tuple = expr->as<python_ast::ExprTuple>()) return tuple->elements;
  return {};
}

}  // namespace

// simple_stmt:
//     | assignment | type_alias | star_expressions | return_stmt | import_stmt
//     | raise_stmt | 'pass' | del_stmt | yield_stmt | assert_stmt | 'break'
//     | 'continue' | global_stmt | nonlocal_stmt
Stmt* parse_simple_statement(Parser& parser) {
  TextOffset start = parser.node_start();
  python_ast::Arena& arena = parser.arena();
  switch (parser.current_token_kind()) {
    case TokenKind::IpyEscapeCommand:
      return parse_ipython_escape_command_statement(parser);
    case TokenKind::Assert:
      return parse_assert_statement(parser, start);
    case TokenKind::Pass:
      parser.bump(TokenKind::Pass);
      return arena.make<python_ast::StmtPass>(parser.node_range(start));
    case TokenKind::Break:
      parser.bump(TokenKind::Break);
      return arena.make<python_ast::StmtBreak>(parser.node_range(start));
    case TokenKind::Continue:
      parser.bump(TokenKind::Continue);
      return arena.make<python_ast::StmtContinue>(parser.node_range(start));
    case TokenKind::Del:
      return parse_delete_statement(parser, start);
    case TokenKind::From:
      return parse_from_import_statement(parser, start);
    case TokenKind::Global:
    case TokenKind::Nonlocal:
      return parse_global_or_nonlocal_statement(parser, start);
    case TokenKind::Import:
      return parse_import_statement(parser, start);
    case TokenKind::Raise:
      return parse_raise_statement(parser, start);
    case TokenKind::Return:
      return parse_return_statement(parser, start);
    case TokenKind::Type:
      if (at_type_alias(parser)) return parse_type_alias_statement(parser, start);
      break;
    default:
      break;
  }
  return parse_expression_based_statement(parser, start);
}

// star_targets / star_atom / t_primary: what an assignment may bind.
void validate_assignment_target(Parser& parser, const Expr* target) {
  tolva::check(target != nullptr, "validate_assignment_target: no target");
  if (is_single_target(target)) return;
  TargetStack pending;
  pending.push(target);
  while (std::optional<const Expr*> next = pending.pop()) {
    const Expr* expr = *next;
    if (is_single_target(expr)) continue;
    if (const auto* starred = expr->as<python_ast::ExprStarred>()) {
      pending.push(starred->value);
    } else if (expr->is<python_ast::ExprList>() || expr->is<python_ast::ExprTuple>()) {
      push_elements(pending, elements_of(expr));
    } else {
      parser.add_error(ParseErrorType::InvalidAssignmentTarget, *expr);
    }
  }
}

// del_target / del_t_atom: what `del` may unbind.
void validate_delete_target(Parser& parser, const Expr* target) {
  tolva::check(target != nullptr, "validate_delete_target: no target");
  if (is_single_target(target)) return;
  TargetStack pending;
  pending.push(target);
  while (std::optional<const Expr*> next = pending.pop()) {
    const Expr* expr = *next;
    if (is_single_target(expr)) continue;
    if (expr->is<python_ast::ExprList>() || expr->is<python_ast::ExprTuple>()) {
      push_elements(pending, elements_of(expr));
    } else {
      parser.add_error(ParseErrorType::InvalidDeleteTarget, *expr);
    }
  }
}

void check_tuple_unpacking(Parser&, const Expr*, TupleUnpackingKind) {
  // Starred elements of unparenthesized tuples after `return` and `yield`
  // (3.8) and in a `for` iterable (3.9) are all accepted by the version this
  // program parses for, and version-gated syntax is never recorded.
}

// dotted_as_name: dotted_name ['as' NAME]
// import_from_as_name: NAME ['as' NAME]
Alias parse_alias(Parser& parser, ImportStyle style) {
  TextOffset start = parser.node_start();
  if (parser.at(TokenKind::Star)) {
    TextRange star = parser.current_token_range();
    parser.bump(TokenKind::Star);
    return Alias(star, Identifier(python_ast::Name("*"), star), std::nullopt);
  }
  Identifier name = style == ImportStyle::Identifier ? parse_identifier(parser) : parse_dotted_name(parser);
  std::optional<Identifier> as_name;
  if (parser.eat(TokenKind::As)) {
    if (is_name_or_soft_keyword(parser.current_token_kind())) {
      as_name = parse_identifier(parser);
    } else {
      parser.add_error(ParseErrorType::other("Expected symbol after `as`"), parser.current_token_range());
    }
  }
  return Alias(parser.node_range(start), name, as_name);
}

// dotted_name: dotted_name '.' NAME | NAME
Identifier parse_dotted_name(Parser& parser) {
  TextOffset start = parser.node_start();
  Identifier first = parse_identifier(parser);
  if (!parser.at(TokenKind::Dot)) return Identifier(first.id, parser.node_range(start));

  // The parts are collected first and joined once, in the arena.
  ScratchList<python_ast::Name> parts = parser.scratch_list<python_ast::Name>();
  parts.push(first.id);
  std::size_t length = first.id.size();
  while (parser.eat(TokenKind::Dot)) {
    python_ast::Name part = parse_identifier(parser).id;
    parts.push(part);
    length += 1 + part.size();
  }
  char* text = static_cast<char*>(parser.arena().allocate(length, 1));
  std::size_t at = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) text[at++] = '.';
    python_ast::Name part = parts[i];
    if (part.size() != 0) std::memcpy(text + at, part.data(), part.size());
    at += part.size();
  }
  return Identifier(python_ast::Name(std::string_view(text, length)), parser.node_range(start));
}

}  // namespace python_parser
