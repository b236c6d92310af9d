#include "python_parser/parser/expression.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression_display.h"
#include "python_parser/parser/expression_string.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/ipython.h"
#include "python_parser/parser/parameters.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/progress.h"
#include "support/fatal_error.h"

namespace python_parser {

namespace {

using python_ast::BinaryOperator;
using python_ast::BooleanOperator;
using python_ast::ComparisonOperator;
using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::TokenKind;
using python_ast::UnaryOp;
using text_size::TextOffset;
using text_size::TextRange;

constexpr std::string_view kUnreachable = "internal error: entered unreachable code";

constexpr ExpressionParseFlags without(ExpressionParseFlags flags, ExpressionParseFlags removed) {
  return static_cast<ExpressionParseFlags>(static_cast<std::uint8_t>(flags) &
                                           static_cast<std::uint8_t>(~static_cast<std::uint8_t>(removed)));
}

// The empty, invalid name that stands where an expression is missing: empty
// at the end of the last consumed token (or, past the nesting limit, over
// what was skipped since `start`).
Expr* missing_expression(Parser& parser, TextOffset start) {
  return parser.arena().make<python_ast::ExprName>(parser.node_range(start), python_ast::Name(),
                                                   ExpressionContext::Invalid);
}

bool is_unparenthesized_starred(const MarkedExpr& expr) {
  return !expr.in_parentheses && expr.expr->is<python_ast::ExprStarred>();
}

BinaryLikeOperator logical(BooleanOperator op) {
  BinaryLikeOperator result{BinaryLikeOperator::Kind::Logical};
  result.boolean = op;
  return result;
}
BinaryLikeOperator relational(ComparisonOperator op) {
  BinaryLikeOperator result{BinaryLikeOperator::Kind::Relational};
  result.comparison = op;
  return result;
}
BinaryLikeOperator arithmetic(BinaryOperator op) {
  BinaryLikeOperator result{BinaryLikeOperator::Kind::Arithmetic};
  result.arithmetic = op;
  return result;
}

// The operator lookup of the climb. `next` is called only for `is` and
// `not`, the two kinds whose meaning depends on the following token, so that
// the common case never looks ahead.
template <class Next>
std::optional<BinaryLikeOperator> operator_at(TokenKind current, Next&& next) {
  switch (current) {
    case TokenKind::And: return logical(BooleanOperator::And);
    case TokenKind::Or: return logical(BooleanOperator::Or);
    case TokenKind::EqEqual: return relational(ComparisonOperator::Eq);
    case TokenKind::NotEqual: return relational(ComparisonOperator::NotEq);
    case TokenKind::Less: return relational(ComparisonOperator::Lt);
    case TokenKind::LessEqual: return relational(ComparisonOperator::LtE);
    case TokenKind::Greater: return relational(ComparisonOperator::Gt);
    case TokenKind::GreaterEqual: return relational(ComparisonOperator::GtE);
    case TokenKind::In: return relational(ComparisonOperator::In);
    case TokenKind::Is:
      return relational(next() == TokenKind::Not ? ComparisonOperator::IsNot : ComparisonOperator::Is);
    case TokenKind::Not:
      if (next() == TokenKind::In) return relational(ComparisonOperator::NotIn);
      return std::nullopt;
    case TokenKind::Plus: return arithmetic(BinaryOperator::Add);
    case TokenKind::Minus: return arithmetic(BinaryOperator::Sub);
    case TokenKind::Star: return arithmetic(BinaryOperator::Mult);
    case TokenKind::At: return arithmetic(BinaryOperator::MatMult);
    case TokenKind::Slash: return arithmetic(BinaryOperator::Div);
    case TokenKind::Percent: return arithmetic(BinaryOperator::Mod);
    case TokenKind::DoubleStar: return arithmetic(BinaryOperator::Pow);
    case TokenKind::LeftShift: return arithmetic(BinaryOperator::LShift);
    case TokenKind::RightShift: return arithmetic(BinaryOperator::RShift);
    case TokenKind::Vbar: return arithmetic(BinaryOperator::BitOr);
    case TokenKind::CircumFlex: return arithmetic(BinaryOperator::BitXor);
    case TokenKind::Amper: return arithmetic(BinaryOperator::BitAnd);
    case TokenKind::DoubleSlash: return arithmetic(BinaryOperator::FloorDiv);
    default: return std::nullopt;
  }
}

std::optional<BinaryLikeOperator> operator_at_current(Parser& parser) {
  return operator_at(parser.current_token_kind(), [&] { return parser.peek(); });
}

TokenKind token_of(UnaryOp op) {
  switch (op) {
    case UnaryOp::Invert: return TokenKind::Tilde;
    case UnaryOp::Not: return TokenKind::Not;
    case UnaryOp::UAdd: return TokenKind::Plus;
    case UnaryOp::USub: return TokenKind::Minus;
  }
  tolva::fatal(kUnreachable);
}

MarkedExpr parse_lhs_expression_unguarded(Parser& parser, BindingPower power, ExpressionParseFlags flags,
                                          TextOffset start);

// `**` can start an element of a dict display or of an argument list, whose
// parsers take it themselves; anywhere else it cannot begin an operand. Each
// stray one is reported and skipped and the operand after it parsed, so that
// a list that took it for the start of an element still progresses.
void skip_stray_double_stars(Parser& parser) {
  while (parser.at(TokenKind::DoubleStar)) [[unlikely]] {
    parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
    parser.bump(TokenKind::DoubleStar);
  }
}

// An operand at `power` with `flags`: the operand itself, then every
// operator that binds tighter. Every nested operand of the grammar passes
// through here, so this is where the nesting is counted.
MarkedExpr parse_operand(Parser& parser, BindingPower power, ExpressionParseFlags flags) {
  skip_stray_double_stars(parser);
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) return MarkedExpr{missing_expression(parser, start)};
  MarkedExpr left = parse_lhs_expression_unguarded(parser, power, flags, start);
  return parse_binary_expression_or_higher_recursive(parser, left, power, flags, start);
}

// A comparison operator and the operand after it, collected together so
// that the two lists of ExprComparison fill one scratch list.
struct ComparisonStep {
  ComparisonOperator op;
  Expr* comparator;
};

Expr* parse_boolean_chain(Parser& parser, Expr* left, BooleanOperator op, BindingPower power,
                          ExpressionParseFlags flags, TextOffset start) {
  TokenKind keyword = parser.current_token_kind();
  auto values = parser.scratch_list<Expr*>();
  values.push(left);
  ProgressGuard progress;
  do {
    progress.check(parser);
    parser.bump(keyword);
    Expr* value = parse_operand(parser, power, flags).expr;
    values.push(value);
  } while (parser.at(keyword));
  return parser.arena().make<python_ast::ExprBooleanOperation>(parser.node_range(start), values.finish(), op);
}

Expr* parse_comparison_chain(Parser& parser, Expr* left, ComparisonOperator first, ExpressionParseFlags flags,
                             TextOffset start) {
  auto steps = parser.scratch_list<ComparisonStep>();
  ComparisonOperator op = first;
  ProgressGuard progress;
  for (;;) {
    progress.check(parser);
    bump_cmp_op(parser, op);
    Expr* comparator = parse_operand(parser, BindingPower::Comparison, flags).expr;
    steps.push(ComparisonStep{op, comparator});
    if (has_flags(flags, ExpressionParseFlags::StopAtIn) && parser.at(TokenKind::In)) break;
    std::optional<BinaryLikeOperator> next = operator_at_current(parser);
    if (!next || next->kind != BinaryLikeOperator::Kind::Relational) break;
    op = next->comparison;
  }
  std::size_t count = steps.size();
  std::span<ComparisonOperator> ops = parser.arena().make_array<ComparisonOperator>(count);
  std::span<Expr*> comparators = parser.arena().make_array<Expr*>(count);
  for (std::size_t i = 0; i < count; ++i) {
    ComparisonStep step = steps[i];
    ops[i] = step.op;
    comparators[i] = step.comparator;
  }
  return parser.arena().make<python_ast::ExprComparison>(parser.node_range(start), left, ops, comparators);
}

// `*value`, the current token being `*`.
Expr* parse_starred_expression(Parser& parser, ExpressionParseFlags flags, TextOffset start) {
  parser.bump(TokenKind::Star);
  Expr* value;
  if (has_flags(flags, ExpressionParseFlags::StarredAsOrOperand)) {
    value = parse_expression_with_bitwise_or_precedence(parser).expr;
  } else {
    // A second star directly inside this one (`f(* *a)`) is not accepted:
    // the value may not itself be a starred expression.
    value = parse_conditional_expression_or_higher_impl(parser, without(flags, ExpressionParseFlags::StarredAllowed))
                .expr;
  }
  return parser.arena().make<python_ast::ExprStarred>(parser.node_range(start), value, ExpressionContext::Load);
}

// `await value`, the current token being `await`.
Expr* parse_await_expression(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Await);
  Expr* value = parse_operand(parser, BindingPower::Await, ExpressionParseFlags::None).expr;
  return parser.arena().make<python_ast::ExprAwait>(parser.node_range(start), value);
}

// yield_expr:
//     | 'yield' 'from' expression
//     | 'yield' [star_expressions]
Expr* parse_yield_expression(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::Yield);
  if (parser.eat(TokenKind::From)) {
    MarkedExpr value = parse_expression_list(parser, ExpressionParseFlags::None);
    if (auto* tuple = value.expr->as<python_ast::ExprTuple>(); tuple != nullptr && !tuple->parenthesized) {
      parser.add_error(ParseErrorType::UnparenthesizedTupleExpression, *tuple);
    }
    return parser.arena().make<python_ast::ExprYieldFrom>(parser.node_range(start), value.expr);
  }
  Expr* value = nullptr;
  if (can_start_expression(parser.current_token_kind())) {
    value = parse_expression_list(parser, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand)
                .expr;
  }
  return parser.arena().make<python_ast::ExprYield>(parser.node_range(start), value);
}

// A number literal, the current token being `kind`.
Expr* parse_number(Parser& parser, TokenKind kind, TextOffset start) {
  TokenValue value = parser.bump_value(kind);
  python_ast::NumberLiteralValue number = python_ast::NumberLiteralValue::of_float(0.0);
  switch (kind) {
    case TokenKind::Int:
      if (value.tag() != TokenValueTag::Int) tolva::fatal(kUnreachable);
      number = python_ast::NumberLiteralValue::of_int(value.as_int());
      break;
    case TokenKind::Float:
      if (value.tag() != TokenValueTag::Float) tolva::fatal(kUnreachable);
      number = python_ast::NumberLiteralValue::of_float(value.as_float());
      break;
    case TokenKind::Complex: {
      if (value.tag() != TokenValueTag::Complex) tolva::fatal(kUnreachable);
      TokenValue::Complex complex = value.as_complex();
      number = python_ast::NumberLiteralValue::of_complex(complex.real, complex.imag);
      break;
    }
    default: tolva::fatal(kUnreachable);
  }
  return parser.arena().make<python_ast::ExprNumberLiteral>(parser.node_range(start), number);
}

// `value[slice]`, the current token being `[`.
Expr* parse_subscript_expression(Parser& parser, Expr* value, TextOffset start) {
  parser.bump(TokenKind::Lsqb);
  helpers::set_expr_ctx(value, ExpressionContext::Load);
  TextOffset slice_start = parser.node_start();

  if (parser.at(TokenKind::Rsqb)) {
    parser.bump(TokenKind::Rsqb);
    TextRange range = parser.node_range(slice_start);
    parser.add_error(ParseErrorType::ExpectedIndexOrSlice, range);
    Expr* slice = parser.arena().make<python_ast::ExprName>(range, python_ast::Name(), ExpressionContext::Invalid);
    return parser.arena().make<python_ast::ExprSubscript>(parser.node_range(start), value, slice,
                                                          ExpressionContext::Load);
  }

  Expr* slice = parse_slice(parser);
  if (parser.at(TokenKind::Comma)) {
    parser.bump(TokenKind::Comma);
    auto elements = parser.scratch_list<Expr*>();
    elements.push(slice);
    parser.parse_comma_separated_list(RecoveryContextKind::Slices, TrailingComma::Allowed,
                                      [&](Parser& p) { elements.push(parse_slice(p)); });
    slice = parser.arena().make<python_ast::ExprTuple>(parser.node_range(slice_start), elements.finish(),
                                                       ExpressionContext::Load, false);
  } else if (slice->is<python_ast::ExprStarred>()) {
    // `x[*a]` indexes with a one-element tuple.
    std::span<Expr*> elements = parser.arena().make_array<Expr*>(1);
    elements[0] = slice;
    slice = parser.arena().make<python_ast::ExprTuple>(parser.node_range(slice_start), elements,
                                                       ExpressionContext::Load, false);
  }
  parser.expect(TokenKind::Rsqb);
  return parser.arena().make<python_ast::ExprSubscript>(parser.node_range(start), value, slice,
                                                        ExpressionContext::Load);
}

// primary:
//     | primary '.' NAME
//     | primary genexp
//     | primary '(' [arguments] ')'
//     | primary '[' slices ']'
//     | atom
// The postfix chain is a loop, so `a.b.c...` of any length costs no depth.
MarkedExpr parse_postfix_expression(Parser& parser, MarkedExpr atom, TextOffset start) {
  Expr* expr = atom.expr;
  ProgressGuard progress;
  for (;;) {
    progress.check(parser);
    switch (parser.current_token_kind()) {
      case TokenKind::Dot:
        expr = parse_attribute_expression(parser, expr, start);
        break;
      case TokenKind::Lsqb:
        expr = parse_subscript_expression(parser, expr, start);
        break;
      case TokenKind::Lpar: {
        python_ast::Arguments arguments = parse_arguments(parser);
        expr = parser.arena().make<python_ast::ExprCall>(parser.node_range(start), expr, arguments);
        break;
      }
      default:
        return MarkedExpr{expr, atom.in_parentheses};
    }
  }
}

// atom:
//     | NAME | 'True' | 'False' | 'None' | NUMBER | '...'
//     | strings
//     | (tuple | group | genexp)
//     | (list | listcomp)
//     | (dict | set | dictcomp | setcomp)
MarkedExpr parse_atom(Parser& parser, TextOffset start) {
  python_ast::Arena& arena = parser.arena();
  TokenKind kind = parser.current_token_kind();
  switch (kind) {
    case TokenKind::Name:
      return MarkedExpr{parse_name(parser)};
    case TokenKind::Int:
    case TokenKind::Float:
    case TokenKind::Complex:
      return MarkedExpr{parse_number(parser, kind, start)};
    case TokenKind::String:
    case TokenKind::FStringStart:
    case TokenKind::TStringStart:
      return MarkedExpr{parse_strings(parser)};
    case TokenKind::Lpar:
      return parse_parenthesized_expression(parser);
    case TokenKind::Lsqb:
      return MarkedExpr{parse_list_like_expression(parser)};
    case TokenKind::Lbrace:
      return MarkedExpr{parse_set_or_dict_like_expression(parser)};
    case TokenKind::Ellipsis:
      parser.bump(TokenKind::Ellipsis);
      return MarkedExpr{arena.make<python_ast::ExprEllipsisLiteral>(parser.node_range(start))};
    case TokenKind::True:
    case TokenKind::False:
      parser.bump(kind);
      return MarkedExpr{arena.make<python_ast::ExprBooleanLiteral>(parser.node_range(start), kind == TokenKind::True)};
    case TokenKind::None:
      parser.bump(TokenKind::None);
      return MarkedExpr{arena.make<python_ast::ExprNoneLiteral>(parser.node_range(start))};
    case TokenKind::IpyEscapeCommand:
      return MarkedExpr{parse_ipython_escape_command_expression(parser)};
    default:
      break;
  }
  if (python_ast::is_any_keyword(kind)) return MarkedExpr{parse_name(parser)};
  parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
  return MarkedExpr{missing_expression(parser, start)};
}

// Out of line: its message is built in its own frame, not in the frame of
// the recursive function that reports it.
[[gnu::noinline]] void report_misplaced_unary(Parser& parser, UnaryOp op, TextRange range) {
  parser.add_error(
      ParseErrorType::other("Unary '" + std::string(python_ast::as_str(op)) + "' expression cannot be used here"),
      range);
}

MarkedExpr parse_lhs_expression_unguarded(Parser& parser, BindingPower power, ExpressionParseFlags flags,
                                          TextOffset start) {
  switch (parser.current_token_kind()) {
    case TokenKind::Plus:
    case TokenKind::Minus:
    case TokenKind::Tilde: {
      UnaryOp op = parser.at(TokenKind::Plus)    ? UnaryOp::UAdd
                   : parser.at(TokenKind::Minus) ? UnaryOp::USub
                                                 : UnaryOp::Invert;
      python_ast::ExprUnaryOp* unary = parse_unary_expression(parser, op, flags);
      if (power > BindingPower::Power) {
        report_misplaced_unary(parser, op, unary->range);
      }
      return MarkedExpr{unary};
    }
    case TokenKind::Not: {
      python_ast::ExprUnaryOp* unary = parse_unary_expression(parser, UnaryOp::Not, flags);
      if (power > BindingPower::Not) {
        parser.add_other_error("Boolean 'not' expression cannot be used here", unary->range);
      }
      return MarkedExpr{unary};
    }
    case TokenKind::Star: {
      Expr* starred = parse_starred_expression(parser, flags, start);
      if (power != BindingPower::Initial || !has_flags(flags, ExpressionParseFlags::StarredAllowed)) {
        parser.add_error(ParseErrorType::StarredNotAllowedHere, *starred);
      }
      return MarkedExpr{starred};
    }
    case TokenKind::Await: {
      Expr* await = parse_await_expression(parser, start);
      if (power > BindingPower::Power) {
        parser.add_other_error("Await expression cannot be used here", await->range);
      }
      return MarkedExpr{await};
    }
    case TokenKind::Lambda: {
      // Reached only where an operand is required (a lambda at the start of
      // an expression is taken by the conditional level).
      Expr* lambda = parse_lambda_expr(parser);
      parser.add_error(ParseErrorType::LambdaNotAllowedHere, *lambda);
      return MarkedExpr{lambda};
    }
    case TokenKind::Yield: {
      Expr* yield = parse_yield_expression(parser, start);
      if (power != BindingPower::Initial || !has_flags(flags, ExpressionParseFlags::YieldAllowed)) {
        parser.add_error(ParseErrorType::YieldNotAllowedHere, *yield);
      }
      return MarkedExpr{yield};
    }
    default: {
      MarkedExpr atom = parse_atom(parser, start);
      return parse_postfix_expression(parser, atom, start);
    }
  }
}

// One argument of a call, positional or keyword, in source order; split
// into the two lists of Arguments when the list is complete.
struct ArgumentItem {
  bool is_keyword = false;
  Expr* positional = nullptr;
  python_ast::Keyword keyword;
};

// Records "Duplicate keyword argument" for every named keyword whose name an
// earlier keyword already used, in source order. Names made up by recovery
// (empty) are not the user's and are skipped.
void report_duplicate_keywords(Parser& parser, std::span<const python_ast::Keyword> keywords) {
  // Few keywords (the common case) are compared pairwise without a set.
  constexpr std::size_t kPairwiseLimit = 16;
  if (keywords.size() <= kPairwiseLimit) {
    for (std::size_t i = 1; i < keywords.size(); ++i) {
      const python_ast::Keyword& keyword = keywords[i];
      if (!keyword.arg || !keyword.arg->is_valid()) continue;
      for (std::size_t j = 0; j < i; ++j) {
        if (keywords[j].arg && keywords[j].arg->id == keyword.arg->id) {
          parser.add_error(ParseErrorType::duplicate_keyword_argument(std::string(keyword.arg->as_str())), keyword);
          break;
        }
      }
    }
    return;
  }
  std::unordered_set<std::string_view> seen;
  seen.reserve(keywords.size());
  for (const python_ast::Keyword& keyword : keywords) {
    if (!keyword.arg || !keyword.arg->is_valid()) continue;
    if (!seen.insert(keyword.arg->as_str()).second) {
      parser.add_error(ParseErrorType::duplicate_keyword_argument(std::string(keyword.arg->as_str())), keyword);
    }
  }
}

}  // namespace

BindingPower BinaryLikeOperator::binding_power() const {
  switch (kind) {
    case Kind::Logical:
      return boolean == BooleanOperator::And ? BindingPower::And : BindingPower::Or;
    case Kind::Relational:
      return BindingPower::Comparison;
    case Kind::Arithmetic:
      switch (arithmetic) {
        case BinaryOperator::BitOr: return BindingPower::BitOr;
        case BinaryOperator::BitXor: return BindingPower::BitXor;
        case BinaryOperator::BitAnd: return BindingPower::BitAnd;
        case BinaryOperator::LShift:
        case BinaryOperator::RShift: return BindingPower::Shift;
        case BinaryOperator::Add:
        case BinaryOperator::Sub: return BindingPower::Additive;
        case BinaryOperator::Mult:
        case BinaryOperator::MatMult:
        case BinaryOperator::Div:
        case BinaryOperator::FloorDiv:
        case BinaryOperator::Mod: return BindingPower::Multiplicative;
        case BinaryOperator::Pow: return BindingPower::Power;
      }
      break;
  }
  tolva::fatal(kUnreachable);
}

std::optional<BinaryLikeOperator> binary_like_operator_from_tokens(TokenKind current, TokenKind next) {
  return operator_at(current, [next] { return next; });
}

MarkedExpr parse_binary_expression_or_higher_recursive(Parser& parser, MarkedExpr left, BindingPower power,
                                                       ExpressionParseFlags flags, TextOffset start) {
  ProgressGuard progress;
  for (;;) {
    progress.check(parser);
    if (has_flags(flags, ExpressionParseFlags::StopAtIn) && parser.at(TokenKind::In)) break;
    std::optional<BinaryLikeOperator> op = operator_at_current(parser);
    if (!op) break;
    BindingPower op_power = op->binding_power();
    // `**` is right-associative: it also binds at its own level.
    bool binds = op_power > power || (op_power == power && op_power == BindingPower::Power);
    if (!binds) break;

    Expr* node = nullptr;
    switch (op->kind) {
      case BinaryLikeOperator::Kind::Logical:
        node = parse_boolean_chain(parser, left.expr, op->boolean, op_power, flags, start);
        break;
      case BinaryLikeOperator::Kind::Relational:
        node = parse_comparison_chain(parser, left.expr, op->comparison, flags, start);
        break;
      case BinaryLikeOperator::Kind::Arithmetic: {
        parser.bump_any();
        Expr* right = parse_operand(parser, op_power, flags).expr;
        node = parser.arena().make<python_ast::ExprBinOp>(parser.node_range(start), left.expr, op->arithmetic, right);
        break;
      }
    }
    left = MarkedExpr{node};
  }
  return left;
}

void bump_cmp_op(Parser& parser, ComparisonOperator op) {
  switch (op) {
    case ComparisonOperator::Eq: parser.bump(TokenKind::EqEqual); return;
    case ComparisonOperator::NotEq: parser.bump(TokenKind::NotEqual); return;
    case ComparisonOperator::Lt: parser.bump(TokenKind::Less); return;
    case ComparisonOperator::LtE: parser.bump(TokenKind::LessEqual); return;
    case ComparisonOperator::Gt: parser.bump(TokenKind::Greater); return;
    case ComparisonOperator::GtE: parser.bump(TokenKind::GreaterEqual); return;
    case ComparisonOperator::Is: parser.bump(TokenKind::Is); return;
    case ComparisonOperator::IsNot:
      parser.bump(TokenKind::Is);
      parser.bump(TokenKind::Not);
      return;
    case ComparisonOperator::In: parser.bump(TokenKind::In); return;
    case ComparisonOperator::NotIn:
      parser.bump(TokenKind::Not);
      parser.bump(TokenKind::In);
      return;
  }
  tolva::fatal(kUnreachable);
}

python_ast::ExprUnaryOp* parse_unary_expression(Parser& parser, UnaryOp op, ExpressionParseFlags flags) {
  TextOffset start = parser.node_start();
  parser.bump(token_of(op));
  BindingPower operand_power = op == UnaryOp::Not ? BindingPower::Not : BindingPower::Unary;
  Expr* operand = parse_operand(parser, operand_power, flags).expr;
  return parser.arena().make<python_ast::ExprUnaryOp>(parser.node_range(start), op, operand);
}

MarkedExpr parse_conditional_expression_or_higher_impl(Parser& parser, ExpressionParseFlags flags) {
  if (parser.at(TokenKind::Lambda)) return MarkedExpr{parse_lambda_expr(parser)};
  TextOffset start = parser.node_start();
  MarkedExpr body = parse_operand(parser, BindingPower::Initial, flags);
  if (!parser.at(TokenKind::If)) return body;

  // `b0 if t0 else b1 if t1 else ... e` nests to the right. The chain is
  // read in a loop and built from its end, so a long chain costs no depth;
  // every link ends where the whole chain ends.
  struct Link {
    TextOffset start;
    Expr* body;
    Expr* test;
  };
  auto links = parser.scratch_list<Link>();
  Expr* orelse = nullptr;
  ProgressGuard progress;
  for (;;) {
    progress.check(parser);
    parser.bump(TokenKind::If);
    Expr* test = parse_operand(parser, BindingPower::Initial, ExpressionParseFlags::None).expr;
    parser.expect(TokenKind::Else);
    links.push(Link{start, body.expr, test});
    if (parser.at(TokenKind::Lambda)) {
      orelse = parse_lambda_expr(parser);
      break;
    }
    start = parser.node_start();
    body = parse_operand(parser, BindingPower::Initial, ExpressionParseFlags::None);
    if (!parser.at(TokenKind::If)) {
      orelse = body.expr;
      break;
    }
  }
  for (std::size_t i = links.size(); i-- > 0;) {
    Link link = links[i];
    orelse = parser.arena().make<python_ast::ExprConditional>(parser.node_range(link.start), link.test, link.body,
                                                              orelse);
  }
  return MarkedExpr{orelse};
}

MarkedExpr parse_named_expression_or_higher(Parser& parser, ExpressionParseFlags flags) {
  TextOffset start = parser.node_start();
  MarkedExpr target = parse_conditional_expression_or_higher_impl(parser, flags);
  if (!parser.at(TokenKind::ColonEqual)) return target;
  parser.bump(TokenKind::ColonEqual);
  if (!target.expr->is<python_ast::ExprName>()) {
    parser.add_error(ParseErrorType::InvalidNamedExpressionTarget, *target.expr);
  }
  helpers::set_expr_ctx(target.expr, ExpressionContext::Store);
  Expr* value = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None).expr;
  return MarkedExpr{parser.arena().make<python_ast::ExprAssignment>(parser.node_range(start), target.expr, value)};
}

MarkedExpr parse_expression_with_bitwise_or_precedence(Parser& parser) {
  MarkedExpr parsed = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None);
  if (parsed.in_parentheses) return parsed;
  std::string_view kind_word;
  switch (parsed.expr->kind()) {
    case python_ast::ExprKind::BooleanOperation: kind_word = "Boolean"; break;
    case python_ast::ExprKind::UnaryOp:
      if (parsed.expr->cast<python_ast::ExprUnaryOp>().op == UnaryOp::Not) kind_word = "Boolean";
      break;
    case python_ast::ExprKind::Lambda: kind_word = "Lambda"; break;
    case python_ast::ExprKind::Conditional: kind_word = "Conditional"; break;
    case python_ast::ExprKind::Comparison: kind_word = "Comparison"; break;
    default: break;
  }
  if (!kind_word.empty()) {
    parser.add_error(ParseErrorType::other(std::string(kind_word) + " expression cannot be used here"), *parsed.expr);
  }
  return parsed;
}

python_ast::ExprLambda* parse_lambda_expr(Parser& parser) {
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) {
    return parser.arena().make<python_ast::ExprLambda>(parser.node_range(start), nullptr,
                                                       missing_expression(parser, start));
  }
  parser.bump(TokenKind::Lambda);
  python_ast::Parameters* parameters = nullptr;
  if (!parser.at(TokenKind::Colon)) parameters = parse_parameters(parser, ParameterListKind::Lambda);
  parser.expect(TokenKind::Colon);
  Expr* body = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None).expr;
  return parser.arena().make<python_ast::ExprLambda>(parser.node_range(start), parameters, body);
}

MarkedExpr parse_lhs_expression(Parser& parser, BindingPower power, ExpressionParseFlags flags) {
  skip_stray_double_stars(parser);
  TextOffset start = parser.node_start();
  DepthGuard depth(parser);
  if (depth.exceeded()) return MarkedExpr{missing_expression(parser, start)};
  return parse_lhs_expression_unguarded(parser, power, flags, start);
}

python_ast::ExprName* parse_name(Parser& parser) {
  python_ast::Identifier identifier = parse_identifier(parser);
  return parser.arena().make<python_ast::ExprName>(
      identifier.range, identifier.id, identifier.is_valid() ? ExpressionContext::Load : ExpressionContext::Invalid);
}

python_ast::Identifier parse_identifier(Parser& parser) {
  TextRange range = parser.current_token_range();
  TokenKind kind = parser.current_token_kind();
  if (kind == TokenKind::Name) {
    TokenValue value = parser.bump_value(TokenKind::Name);
    if (value.tag() != TokenValueTag::Name) tolva::fatal(kUnreachable);
    return python_ast::Identifier(value.as_name(), range);
  }
  if (python_ast::is_soft_keyword(kind)) {
    python_ast::Name name(parser.src_text(range));
    parser.bump(kind);
    return python_ast::Identifier(name, range);
  }
  if (python_ast::is_keyword(kind)) {
    parser.add_error(ParseErrorType::other("Expected an identifier, but found a keyword " +
                                           std::string(python_ast::display(kind)) + " that cannot be used here"),
                     range);
    python_ast::Name name(parser.src_text(range));
    parser.bump(kind);
    return python_ast::Identifier(name, range);
  }
  return parse_missing_identifier(parser);
}

python_ast::Identifier parse_missing_identifier(Parser& parser) {
  parser.add_error(ParseErrorType::other("Expected an identifier"), parser.current_token_range());
  return python_ast::Identifier(python_ast::Name(), TextRange::empty(parser.prev_token_end()));
}

python_ast::ExprAttribute* parse_attribute_expression(Parser& parser, Expr* value, TextOffset start) {
  parser.bump(TokenKind::Dot);
  python_ast::Identifier attribute = parse_identifier(parser);
  return parser.arena().make<python_ast::ExprAttribute>(parser.node_range(start), value, attribute,
                                                        ExpressionContext::Load);
}

Expr* parse_slice(Parser& parser) {
  auto at_bound_end = [&parser] {
    TokenKind kind = parser.current_token_kind();
    return kind == TokenKind::Newline || kind == TokenKind::EndOfFile || kind == TokenKind::Rsqb ||
           kind == TokenKind::Comma;
  };
  TextOffset start = parser.node_start();
  Expr* lower = nullptr;
  if (can_start_expression(parser.current_token_kind())) {
    MarkedExpr parsed = parse_named_expression_or_higher(parser, ExpressionParseFlags::StarredAllowed);
    if (at_bound_end()) return parsed.expr;
    if (!parsed.in_parentheses) {
      if (parsed.expr->is<python_ast::ExprAssignment>()) {
        parser.add_error(ParseErrorType::UnparenthesizedNamedExpression, *parsed.expr);
      } else if (parsed.expr->is<python_ast::ExprStarred>()) {
        parser.add_error(ParseErrorType::StarredNotAllowedHere, *parsed.expr);
      }
    }
    lower = parsed.expr;
  }
  parser.expect(TokenKind::Colon);
  Expr* upper = nullptr;
  if (!at_bound_end() && !parser.at(TokenKind::Colon)) {
    upper = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None).expr;
  }
  Expr* step = nullptr;
  if (parser.eat(TokenKind::Colon) && !at_bound_end()) {
    step = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None).expr;
  }
  return parser.arena().make<python_ast::ExprSlice>(parser.node_range(start), lower, upper, step);
}

// Splits the items of a call's argument list into positional and keyword
// arguments and checks the list as a whole. Out of line, so that its locals
// stay out of the frame that nested calls recurse through.
[[gnu::noinline]] python_ast::Arguments finish_arguments(Parser& parser, const ScratchList<ArgumentItem>& items,
                                                         std::size_t keyword_count, bool trailing_comma,
                                                         TextOffset start) {
  std::span<Expr*> args = parser.arena().make_array<Expr*>(items.size() - keyword_count);
  std::span<python_ast::Keyword> keywords = parser.arena().make_array<python_ast::Keyword>(keyword_count);
  std::size_t next_arg = 0;
  std::size_t next_keyword = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ArgumentItem item = items[i];
    if (item.is_keyword) {
      keywords[next_keyword++] = item.keyword;
    } else {
      args[next_arg++] = item.positional;
    }
  }
  python_ast::Arguments arguments(parser.node_range(start), args, keywords);

  report_duplicate_keywords(parser, keywords);
  // A bare generator is the whole argument list or nothing.
  if (trailing_comma || arguments.len() > 1) {
    for (Expr* arg : args) {
      if (auto* generator = arg->as<python_ast::ExprGenerator>(); generator != nullptr && !generator->parenthesized) {
        parser.add_error(ParseErrorType::UnparenthesizedGeneratorExpression, *generator);
      }
    }
  }
  return arguments;
}

python_ast::Arguments parse_arguments(Parser& parser) {
  TextOffset start = parser.node_start();
  parser.bump(TokenKind::Lpar);

  auto items = parser.scratch_list<ArgumentItem>();
  bool seen_keyword = false;
  bool seen_unpacking = false;
  std::size_t keyword_count = 0;

  // args:
  //     | ','.(starred_expression | (assignment_expression | expression !':=') !'=')+ [',' kwargs]
  //     | kwargs
  // kwarg_or_starred: NAME '=' expression | starred_expression
  // kwarg_or_double_starred: NAME '=' expression | '**' expression
  auto argument = [&](Parser& p) {
    TextOffset argument_start = p.node_start();
    ArgumentItem item;
    if (p.eat(TokenKind::DoubleStar)) {
      Expr* value = parse_conditional_expression_or_higher_impl(p, ExpressionParseFlags::None).expr;
      item.is_keyword = true;
      item.keyword = python_ast::Keyword(p.node_range(argument_start), std::nullopt, value);
      seen_unpacking = true;
    } else {
      MarkedExpr parsed = parse_named_expression_or_higher(p, ExpressionParseFlags::StarredAllowed);
      if (p.at(TokenKind::Async) || p.at(TokenKind::For)) {
        if (is_unparenthesized_starred(parsed)) {
          p.add_error(ParseErrorType::IterableUnpackingInComprehension, *parsed.expr);
        }
        parsed = MarkedExpr{parse_generator_expression(p, parsed.expr, argument_start, false)};
      } else if (seen_unpacking && is_unparenthesized_starred(parsed)) {
        p.add_error(ParseErrorType::IterableUnpackingAfterKeywordUnpacking, *parsed.expr);
      }

      if (p.eat(TokenKind::Equal)) {
        python_ast::Identifier name;
        if (auto* as_name = parsed.expr->as<python_ast::ExprName>()) {
          name = python_ast::Identifier(as_name->id, as_name->range);
        } else {
          p.add_other_error("Expected a parameter name", parsed.expr->range);
          name = python_ast::Identifier(python_ast::Name(), parsed.expr->range);
        }
        Expr* value = parse_conditional_expression_or_higher_impl(p, ExpressionParseFlags::None).expr;
        item.is_keyword = true;
        item.keyword = python_ast::Keyword(p.node_range(argument_start), name, value);
        seen_keyword = true;
      } else {
        if (!is_unparenthesized_starred(parsed)) {
          if (seen_unpacking) {
            p.add_error(ParseErrorType::PositionalAfterKeywordUnpacking, *parsed.expr);
          } else if (seen_keyword) {
            p.add_error(ParseErrorType::PositionalAfterKeyword, *parsed.expr);
          }
        }
        item.positional = parsed.expr;
      }
    }
    if (item.is_keyword) ++keyword_count;
    items.push(item);
  };
  bool trailing_comma =
      parser.parse_comma_separated_list(RecoveryContextKind::Arguments, TrailingComma::Allowed, argument);
  parser.expect(TokenKind::Rpar);
  return finish_arguments(parser, items, keyword_count, trailing_comma, start);
}

MarkedExpr parse_expression_list(Parser& parser, ExpressionParseFlags flags) {
  TextOffset start = parser.node_start();
  MarkedExpr first = parse_conditional_expression_or_higher_impl(parser, flags);
  if (!parser.at(TokenKind::Comma)) return first;
  parser.bump(TokenKind::Comma);
  auto elements = parser.scratch_list<Expr*>();
  elements.push(first.expr);
  parser.parse_comma_separated_list(RecoveryContextKind::TupleElementsUnparenthesized, TrailingComma::Allowed,
                                    [&](Parser& p) {
                                      elements.push(parse_conditional_expression_or_higher_impl(p, flags).expr);
                                    });
  return MarkedExpr{parser.arena().make<python_ast::ExprTuple>(parser.node_range(start), elements.finish(),
                                                               ExpressionContext::Load, false)};
}

MarkedExpr parse_parenthesized_expression(Parser& parser) {
  TextOffset start = parser.node_start();
  parser.bump(TokenKind::Lpar);

  if (parser.at(TokenKind::Newline) || parser.at(TokenKind::EndOfFile)) {
    parser.add_other_error("missing closing parenthesis `)`", parser.current_token_range());
  }
  if (parser.at(TokenKind::Rpar)) {
    parser.bump(TokenKind::Rpar);
    return MarkedExpr{parser.arena().make<python_ast::ExprTuple>(parser.node_range(start), std::span<Expr*>(),
                                                                 ExpressionContext::Load, true)};
  }

  MarkedExpr first = parse_named_expression_or_higher(
      parser, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand |
                  ExpressionParseFlags::YieldAllowed);

  // `(yield)` is a group; a yield cannot be an element of a tuple or of a
  // generator (`(yield, a)`, `(yield for a in b)`).
  auto reject_yield_element = [&parser, &first] {
    if (!first.in_parentheses &&
        (first.expr->is<python_ast::ExprYield>() || first.expr->is<python_ast::ExprYieldFrom>())) {
      parser.add_error(ParseErrorType::YieldNotAllowedHere, *first.expr);
    }
  };

  if (parser.at(TokenKind::Comma)) {
    reject_yield_element();
    parser.bump(TokenKind::Comma);
    auto elements = parser.scratch_list<Expr*>();
    elements.push(first.expr);
    parser.parse_comma_separated_list(
        RecoveryContextKind::TupleElementsParenthesized, TrailingComma::Allowed, [&](Parser& p) {
          elements.push(parse_named_expression_or_higher(
                            p, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand)
                            .expr);
        });
    parser.expect(TokenKind::Rpar);
    return MarkedExpr{parser.arena().make<python_ast::ExprTuple>(parser.node_range(start), elements.finish(),
                                                                 ExpressionContext::Load, true)};
  }

  if (parser.at(TokenKind::Async) || parser.at(TokenKind::For)) {
    if (is_unparenthesized_starred(first)) {
      parser.add_error(ParseErrorType::IterableUnpackingInComprehension, *first.expr);
    }
    reject_yield_element();
    return MarkedExpr{parse_generator_expression(parser, first.expr, start, true)};
  }

  if (first.expr->is<python_ast::ExprStarred>()) parser.add_error(ParseErrorType::StarredNotAllowedHere, *first.expr);
  parser.expect(TokenKind::Rpar);
  return MarkedExpr{first.expr, true};
}

}  // namespace python_parser
