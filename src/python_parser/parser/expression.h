#pragma once

// Expressions: the operator layer (precedence climbing over binding powers,
// prefix operators, conditional expressions, lambdas, named expressions, the
// bitwise-or restriction after `*` and `**`) and the operands (atoms, the
// postfix chain of attributes, subscripts and calls, call arguments, slices,
// parenthesized forms, identifiers).
//
// Every function takes the parser at the first token of what it parses,
// consumes what belongs to it and returns the node it built; nothing here
// stops at an error. A misplaced construct is still parsed into a node and
// the error recorded (Parser::add_error), so the tree is always complete. A
// missing operand is an empty `ExprName` with the `Invalid` context and an
// empty range where the operand should have started.
//
// Displays, comprehensions and generators live in expression_display.h,
// strings in expression_string.h; they call back into this header.

#include <cstdint>
#include <optional>

#include "python_ast/identifier.h"
#include "python_ast/nodes.h"
#include "python_ast/token_kind.h"
#include "python_parser/parser/recovery.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// The context an expression is parsed in, passed down every expression
// parse: a bit set. Only five combinations occur: None; StarredAllowed (call
// arguments, subscript elements); StopAtIn | StarredAllowed (`for` targets);
// StarredAllowed | StarredAsOrOperand (display and tuple elements, the value
// of `yield`); and that plus YieldAllowed (the first element inside `(`,
// interpolations, statement positions where a bare `yield` may stand).
// Nested operands do not inherit the flags except where a function says so.
enum class ExpressionParseFlags : std::uint8_t {
  None = 0,
  // A current `in` ends the expression instead of starting a comparison.
  StopAtIn = 0x1,
  // `*x` is accepted at binding power 0.
  StarredAllowed = 0x2,
  // The value after `*` has bitwise-or precedence.
  StarredAsOrOperand = 0x4,
  // `yield` is accepted at binding power 0.
  YieldAllowed = 0x8,
};

constexpr ExpressionParseFlags operator|(ExpressionParseFlags a, ExpressionParseFlags b) {
  return static_cast<ExpressionParseFlags>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
// Whether every flag of `wanted` is set in `flags`.
constexpr bool has_flags(ExpressionParseFlags flags, ExpressionParseFlags wanted) {
  return (static_cast<std::uint8_t>(flags) & static_cast<std::uint8_t>(wanted)) ==
         static_cast<std::uint8_t>(wanted);
}

// The precedence level of the climb, compared as numbers: an operator
// extends the expression on its left only when it binds tighter than the
// level the operand was requested at. Levels 1 to 5 are unused. Conditional
// expressions, lambdas, named expressions, tuples, starred and yield
// expressions have no level: the entry functions above the climb handle them.
enum class BindingPower : std::uint8_t {
  // Every expression starts here; the only level at which starred and yield
  // expressions are accepted.
  Initial = 0,
  Or = 6,              // `or`, n-ary
  And = 7,             // `and`, n-ary
  Not = 8,             // the operand of prefix `not`
  Comparison = 9,      // `==` `!=` `<` `<=` `>` `>=` `is` `is not` `in` `not in`, n-ary
  BitOr = 10,          // `|`
  BitXor = 11,         // `^`
  BitAnd = 12,         // `&`
  Shift = 13,          // `<<` `>>`
  Additive = 14,       // `+` `-`
  Multiplicative = 15, // `*` `@` `/` `//` `%`
  Unary = 16,          // the operand of prefix `+` `-` `~`
  Power = 17,          // `**`, right-associative
  Await = 18,          // the operand of `await`
};

// A parsed expression and whether it is a parenthesized group `(e)` (kept
// through postfix operations: `(a).b` is marked). Every node built by an
// operator, a tuple or a display is unmarked.
struct MarkedExpr {
  python_ast::Expr* expr = nullptr;
  bool in_parentheses = false;
};

// The operator at the current token: a boolean, comparison or arithmetic one.
struct BinaryLikeOperator {
  enum class Kind : std::uint8_t { Logical, Relational, Arithmetic };
  Kind kind;
  // The operator of `kind`; the other two are unused.
  python_ast::BooleanOperator boolean = python_ast::BooleanOperator::And;
  python_ast::ComparisonOperator comparison = python_ast::ComparisonOperator::Eq;
  python_ast::BinaryOperator arithmetic = python_ast::BinaryOperator::Add;

  // The level at which the operator binds.
  BindingPower binding_power() const;
};

// The operator that `current` (followed by `next`, the next significant
// token) starts; `next` matters only for `is not` and `not in`. Nothing for
// every other token, `=`, `:=`, `if` and augmented assignments included.
std::optional<BinaryLikeOperator> binary_like_operator_from_tokens(python_ast::TokenKind current,
                                                                   python_ast::TokenKind next);

// The tokens that can begin an expression. Where the grammar tests for the
// start of an expression it also accepts the soft keywords (see
// can_start_expression).
inline constexpr TokenSet kExpressionStartSet = {
    python_ast::TokenKind::Name,      python_ast::TokenKind::Int,          python_ast::TokenKind::Float,
    python_ast::TokenKind::Complex,   python_ast::TokenKind::String,       python_ast::TokenKind::FStringStart,
    python_ast::TokenKind::TStringStart, python_ast::TokenKind::IpyEscapeCommand, python_ast::TokenKind::Lpar,
    python_ast::TokenKind::Lsqb,      python_ast::TokenKind::Lbrace,       python_ast::TokenKind::Plus,
    python_ast::TokenKind::Minus,     python_ast::TokenKind::Star,         python_ast::TokenKind::DoubleStar,
    python_ast::TokenKind::Tilde,     python_ast::TokenKind::Ellipsis,     python_ast::TokenKind::Await,
    python_ast::TokenKind::Lambda,    python_ast::TokenKind::Not,          python_ast::TokenKind::Yield,
    python_ast::TokenKind::None,      python_ast::TokenKind::True,         python_ast::TokenKind::False,
};

// An expression can start at `kind`: it is in kExpressionStartSet or is a
// soft keyword (`case`, `match`, `type`).
constexpr bool can_start_expression(python_ast::TokenKind kind) {
  return kExpressionStartSet.contains(kind) || python_ast::is_soft_keyword(kind);
}

// ---- The operator layer ----

// expression:
//     | disjunction 'if' disjunction 'else' expression
//     | disjunction
//     | lambdef
// The general entry for one expression: a conditional expression, a lambda,
// or anything that binds tighter. Conditionals chain to the right.
MarkedExpr parse_conditional_expression_or_higher_impl(Parser& parser, ExpressionParseFlags flags);

// named_expression:
//     | NAME ':=' expression
//     | expression !':='
// As parse_conditional_expression_or_higher_impl, or an `ExprAssignment`
// when `:=` follows (any target is parsed; only a name is accepted).
MarkedExpr parse_named_expression_or_higher(Parser& parser, ExpressionParseFlags flags);

// star_expressions' element after `*`, and `**` in displays:
//     bitwise_or
// A conditional-level expression that records "{} expression cannot be used
// here" when it is an unparenthesized boolean, `not`, lambda, conditional or
// comparison expression. The expression is returned in every case.
MarkedExpr parse_expression_with_bitwise_or_precedence(Parser& parser);

// disjunction / conjunction / comparison / bitwise_or ... / power:
// The climb. Extends `left` (which began at `start`) with every operator
// that binds tighter than `power` (for the right-associative `**`, at least
// as tight), building flat boolean and comparison chains and left-nested
// binary operations.
MarkedExpr parse_binary_expression_or_higher_recursive(Parser& parser, MarkedExpr left, BindingPower power,
                                                       ExpressionParseFlags flags, text_size::TextOffset start);

// Consumes the one or two tokens of `op` (`is not`, `not in` take two). The
// current tokens must be those of `op`.
void bump_cmp_op(Parser& parser, python_ast::ComparisonOperator op);

// factor: ('+' | '-' | '~') factor | power
// inversion: 'not' inversion | comparison
// The current token must be the operator's. The operand is parsed at the
// `not` level or the unary level, with `flags`.
python_ast::ExprUnaryOp* parse_unary_expression(Parser& parser, python_ast::UnaryOp op, ExpressionParseFlags flags);

// lambdef: 'lambda' [lambda_params] ':' expression
// The current token must be `lambda`.
python_ast::ExprLambda* parse_lambda_expr(Parser& parser);

// ---- Operands ----

// await_primary / star_expression / yield_expr / primary:
// One operand requested at `power` with `flags`: a prefix form (`+x`, `-x`,
// `~x`, `not x`, `*x`, `await x`, `lambda`, `yield`) or an atom with its
// postfix chain. Misplaced prefix forms are parsed and reported.
MarkedExpr parse_lhs_expression(Parser& parser, BindingPower power, ExpressionParseFlags flags);

// A name in expression position: `Load` context, or `Invalid` (with the
// empty name) when no name stands here. Soft keywords are names; any other
// keyword is reported and used as the name.
python_ast::ExprName* parse_name(Parser& parser);

// NAME. A soft keyword is accepted silently; any other keyword records
// "Expected an identifier, but found a keyword {} that cannot be used here"
// and is used as the name; anything else is parse_missing_identifier.
python_ast::Identifier parse_identifier(Parser& parser);

// Records "Expected an identifier" at the current token and returns the
// empty identifier at the end of the previous token; consumes nothing.
python_ast::Identifier parse_missing_identifier(Parser& parser);

// primary '.' NAME
// The current token must be `.`; `value` began at `start`.
python_ast::ExprAttribute* parse_attribute_expression(Parser& parser, python_ast::Expr* value,
                                                      text_size::TextOffset start);

// slice:
//     | [expression] ':' [expression] [':' [expression]]
//     | named_expression
// One subscript element: an expression or an `ExprSlice`.
python_ast::Expr* parse_slice(Parser& parser);

// arguments: '(' [args [',']] ')'
// The current token must be `(`. Positional and starred arguments go into
// `args`, named and `**` ones into `keywords`; the ordering rules, duplicate
// keywords and lone generators are checked and reported.
python_ast::Arguments parse_arguments(Parser& parser);

// star_expressions (without the named forms):
// One conditional-level expression, or an unparenthesized tuple of them when
// a comma follows (`x = 1,` is a one-element tuple).
MarkedExpr parse_expression_list(Parser& parser, ExpressionParseFlags flags);

// group / tuple / genexp:
// The current token must be `(`. `()` is an empty tuple; `(e)` is `e`
// marked, with its own range; `(e,)` and `(e, f)` are parenthesized tuples;
// `(e for ...)` is a parenthesized generator.
MarkedExpr parse_parenthesized_expression(Parser& parser);

}  // namespace python_parser
