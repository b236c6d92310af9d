#pragma once

// Expressions: the `Expr` family, its 33 variants, and the records only
// expressions use (`Arguments`, `Keyword`, `Comprehension`, `DictItem`,
// `NumberLiteralValue`).
//
// The parser builds every node with the arena:
//
//   Expr* sum = arena.make<ExprBinOp>(range, left, BinaryOperator::Add, right);
//
// Constructors take the range, then the fields in declared order; the node
// index keeps its unassigned value.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "python_ast/identifier.h"
#include "python_ast/int.h"
#include "python_ast/name.h"
#include "python_ast/nodes_family.h"
#include "python_ast/nodes_string.h"

namespace python_ast {

// The base of every expression: node index, range and kind, readable
// without knowing the variant. Children are `Expr*`; an optional child is
// nullptr.
struct Expr {
  TOLVA_NODE_FAMILY_BASE(Expr, ExprKind)

  // The description that messages about the expression as a whole use ("a
  // dict literal", "an int literal", ...); absent for calls, attributes and
  // names.
  std::optional<std::string_view> description() const;
};

static_assert(sizeof(Expr) == 16, "the expression header is index, range and kind");

// ---------------------------------------------------------------------------
// Records used by expressions.

// `name=value` or `**value` in a call; `arg` is absent for `**value`.
struct Keyword {
  TOLVA_NODE_RECORD(Keyword)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::optional<Identifier> arg;
  Expr* value = nullptr;

  Keyword() = default;
  Keyword(text_size::TextRange range, std::optional<Identifier> arg, Expr* value)
      : range(range), arg(arg), value(value) {}
};

// The parenthesized argument list of a call, also the bases of a class
// definition: positional and `*`-unpacked arguments in `args`, named and
// `**`-unpacked ones in `keywords`, each in source order.
struct Arguments {
  TOLVA_NODE_RECORD(Arguments)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::span<Expr*> args;
  std::span<Keyword> keywords;

  Arguments() = default;
  Arguments(text_size::TextRange range, std::span<Expr*> args, std::span<Keyword> keywords)
      : range(range), args(args), keywords(keywords) {}

  // The number of args plus the number of keywords.
  std::size_t len() const { return args.size() + keywords.size(); }
};

// One `for ... in ... if ...` clause of a comprehension.
struct Comprehension {
  TOLVA_NODE_RECORD(Comprehension)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Expr* target = nullptr;
  Expr* iter = nullptr;
  std::span<Expr*> conditions;
  bool is_async = false;

  Comprehension() = default;
  Comprehension(text_size::TextRange range, Expr* target, Expr* iter, std::span<Expr*> conditions, bool is_async)
      : range(range), target(target), iter(iter), conditions(conditions), is_async(is_async) {}
};

// One entry of a dict display; `key` is nullptr for `**value`. Not a node:
// no index, no range.
struct DictItem {
  TOLVA_NODE_RECORD(DictItem)

  Expr* key = nullptr;
  Expr* value = nullptr;

  DictItem() = default;
  DictItem(Expr* key, Expr* value) : key(key), value(value) {}
};

// The two parts of a complex literal, as the lexer's token carries them.
struct ComplexValue {
  double real;
  double imag;

  constexpr bool operator==(const ComplexValue&) const = default;
};

// The value of a number literal: an integer, a float or a complex number.
class NumberLiteralValue {
 public:
  enum class Kind : std::uint8_t { Int, Float, Complex };

  static NumberLiteralValue of_int(Int value) {
    NumberLiteralValue result(Kind::Int);
    result.int_ = value;
    return result;
  }
  static NumberLiteralValue of_float(double value) {
    NumberLiteralValue result(Kind::Float);
    result.float_ = value;
    return result;
  }
  static NumberLiteralValue of_complex(double real, double imag) {
    NumberLiteralValue result(Kind::Complex);
    result.complex_ = ComplexValue{real, imag};
    return result;
  }

  Kind kind() const { return kind_; }
  std::optional<Int> as_int() const { return kind_ == Kind::Int ? std::optional<Int>(int_) : std::nullopt; }
  std::optional<double> as_float() const {
    return kind_ == Kind::Float ? std::optional<double>(float_) : std::nullopt;
  }
  std::optional<ComplexValue> as_complex() const {
    return kind_ == Kind::Complex ? std::optional<ComplexValue>(complex_) : std::nullopt;
  }

 private:
  explicit NumberLiteralValue(Kind kind) : kind_(kind), int_() {}

  Kind kind_;
  union {
    Int int_;
    double float_;
    ComplexValue complex_;
  };
};

// ---------------------------------------------------------------------------
// The 33 variants, in table order.

// `a and b and c`: two or more values under one operator.
struct ExprBooleanOperation final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, BooleanOperation)
  std::span<Expr*> values;
  BooleanOperator op;
  ExprBooleanOperation(text_size::TextRange range, std::span<Expr*> values, BooleanOperator op)
      : Expr(kKind, range), values(values), op(op) {}
};

// `target := value`.
struct ExprAssignment final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Assignment)
  Expr* target;
  Expr* value;
  ExprAssignment(text_size::TextRange range, Expr* target, Expr* value)
      : Expr(kKind, range), target(target), value(value) {}
};

struct ExprBinOp final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, BinOp)
  Expr* left;
  BinaryOperator op;
  Expr* right;
  ExprBinOp(text_size::TextRange range, Expr* left, BinaryOperator op, Expr* right)
      : Expr(kKind, range), left(left), op(op), right(right) {}
};

struct ExprUnaryOp final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, UnaryOp)
  UnaryOp op;
  Expr* operand;
  ExprUnaryOp(text_size::TextRange range, UnaryOp op, Expr* operand) : Expr(kKind, range), op(op), operand(operand) {}
};

// `parameters` is nullptr for a lambda without parameters.
struct ExprLambda final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Lambda)
  Parameters* parameters;
  Expr* body;
  ExprLambda(text_size::TextRange range, Parameters* parameters, Expr* body)
      : Expr(kKind, range), parameters(parameters), body(body) {}
};

// `body if test else orelse`.
struct ExprConditional final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Conditional)
  Expr* test;
  Expr* body;
  Expr* orelse;
  ExprConditional(text_size::TextRange range, Expr* test, Expr* body, Expr* orelse)
      : Expr(kKind, range), test(test), body(body), orelse(orelse) {}
};

struct ExprDict final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Dict)
  std::span<DictItem> items;
  ExprDict(text_size::TextRange range, std::span<DictItem> items) : Expr(kKind, range), items(items) {}
};

struct ExprSet final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Set)
  std::span<Expr*> elements;
  ExprSet(text_size::TextRange range, std::span<Expr*> elements) : Expr(kKind, range), elements(elements) {}
};

struct ExprListComprehension final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, ListComprehension)
  Expr* element;
  std::span<Comprehension> generators;
  ExprListComprehension(text_size::TextRange range, Expr* element, std::span<Comprehension> generators)
      : Expr(kKind, range), element(element), generators(generators) {}
};

struct ExprSetComprehension final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, SetComprehension)
  Expr* element;
  std::span<Comprehension> generators;
  ExprSetComprehension(text_size::TextRange range, Expr* element, std::span<Comprehension> generators)
      : Expr(kKind, range), element(element), generators(generators) {}
};

struct ExprDictComprehension final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, DictComprehension)
  Expr* key;
  Expr* value;
  std::span<Comprehension> generators;
  ExprDictComprehension(text_size::TextRange range, Expr* key, Expr* value, std::span<Comprehension> generators)
      : Expr(kKind, range), key(key), value(value), generators(generators) {}
};

// `parenthesized` is true when the generator has its own parentheses.
struct ExprGenerator final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Generator)
  Expr* element;
  std::span<Comprehension> generators;
  bool parenthesized;
  ExprGenerator(text_size::TextRange range, Expr* element, std::span<Comprehension> generators, bool parenthesized)
      : Expr(kKind, range), element(element), generators(generators), parenthesized(parenthesized) {}
};

struct ExprAwait final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Await)
  Expr* value;
  ExprAwait(text_size::TextRange range, Expr* value) : Expr(kKind, range), value(value) {}
};

// `value` is nullptr for a bare `yield`.
struct ExprYield final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Yield)
  Expr* value;
  ExprYield(text_size::TextRange range, Expr* value) : Expr(kKind, range), value(value) {}
};

struct ExprYieldFrom final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, YieldFrom)
  Expr* value;
  ExprYieldFrom(text_size::TextRange range, Expr* value) : Expr(kKind, range), value(value) {}
};

// `left op0 comparators[0] op1 comparators[1] ...`: as many ops as
// comparators, at least one.
struct ExprComparison final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Comparison)
  Expr* left;
  std::span<ComparisonOperator> ops;
  std::span<Expr*> comparators;
  ExprComparison(text_size::TextRange range, Expr* left, std::span<ComparisonOperator> ops,
                 std::span<Expr*> comparators)
      : Expr(kKind, range), left(left), ops(ops), comparators(comparators) {}
};

struct ExprCall final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Call)
  Expr* function;
  Arguments arguments;
  ExprCall(text_size::TextRange range, Expr* function, const Arguments& arguments)
      : Expr(kKind, range), function(function), arguments(arguments) {}
};

struct ExprFString final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, FString)
  FStringValue value;
  ExprFString(text_size::TextRange range, FStringValue value) : Expr(kKind, range), value(value) {}
};

struct ExprTString final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, TString)
  TStringValue value;
  ExprTString(text_size::TextRange range, TStringValue value) : Expr(kKind, range), value(value) {}
};

struct ExprStringLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, StringLiteral)
  StringLiteralValue value;
  ExprStringLiteral(text_size::TextRange range, StringLiteralValue value) : Expr(kKind, range), value(value) {}
};

struct ExprBytesLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, BytesLiteral)
  BytesLiteralValue value;
  ExprBytesLiteral(text_size::TextRange range, BytesLiteralValue value) : Expr(kKind, range), value(value) {}
};

struct ExprNumberLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, NumberLiteral)
  NumberLiteralValue value;
  ExprNumberLiteral(text_size::TextRange range, NumberLiteralValue value) : Expr(kKind, range), value(value) {}
};

struct ExprBooleanLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, BooleanLiteral)
  bool value;
  ExprBooleanLiteral(text_size::TextRange range, bool value) : Expr(kKind, range), value(value) {}
};

struct ExprNoneLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, NoneLiteral)
  explicit ExprNoneLiteral(text_size::TextRange range) : Expr(kKind, range) {}
};

struct ExprEllipsisLiteral final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, EllipsisLiteral)
  explicit ExprEllipsisLiteral(text_size::TextRange range) : Expr(kKind, range) {}
};

// `value.attribute`.
struct ExprAttribute final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Attribute)
  Expr* value;
  Identifier attribute;
  ExpressionContext ctx;
  ExprAttribute(text_size::TextRange range, Expr* value, Identifier attribute, ExpressionContext ctx)
      : Expr(kKind, range), value(value), attribute(attribute), ctx(ctx) {}
};

// `value[slice]`.
struct ExprSubscript final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Subscript)
  Expr* value;
  Expr* slice;
  ExpressionContext ctx;
  ExprSubscript(text_size::TextRange range, Expr* value, Expr* slice, ExpressionContext ctx)
      : Expr(kKind, range), value(value), slice(slice), ctx(ctx) {}
};

// `*value`.
struct ExprStarred final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Starred)
  Expr* value;
  ExpressionContext ctx;
  ExprStarred(text_size::TextRange range, Expr* value, ExpressionContext ctx)
      : Expr(kKind, range), value(value), ctx(ctx) {}
};

// A name; recovery makes empty names with the `Invalid` context.
struct ExprName final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Name)
  Name id;
  ExpressionContext ctx;
  ExprName(text_size::TextRange range, Name id, ExpressionContext ctx) : Expr(kKind, range), id(id), ctx(ctx) {}
};

struct ExprList final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, List)
  std::span<Expr*> elements;
  ExpressionContext ctx;
  ExprList(text_size::TextRange range, std::span<Expr*> elements, ExpressionContext ctx)
      : Expr(kKind, range), elements(elements), ctx(ctx) {}
};

// `parenthesized` is true when the tuple is written inside its own
// parentheses.
struct ExprTuple final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Tuple)
  std::span<Expr*> elements;
  ExpressionContext ctx;
  bool parenthesized;
  ExprTuple(text_size::TextRange range, std::span<Expr*> elements, ExpressionContext ctx, bool parenthesized)
      : Expr(kKind, range), elements(elements), ctx(ctx), parenthesized(parenthesized) {}
};

// `lower:upper:step`, each part optional.
struct ExprSlice final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, Slice)
  Expr* lower;
  Expr* upper;
  Expr* step;
  ExprSlice(text_size::TextRange range, Expr* lower, Expr* upper, Expr* step)
      : Expr(kKind, range), lower(lower), upper(upper), step(step) {}
};

// An IPython escape command in expression position (`x = !ls`). Its field
// `kind` hides the family's `kind()`; reach that one as `Expr::kind()`.
struct ExprIpyEscapeCommand final : Expr {
  TOLVA_NODE_VARIANT(ExprKind, IpyEscapeCommand)
  std::string_view value;
  IpyEscapeKind kind;
  ExprIpyEscapeCommand(text_size::TextRange range, std::string_view value, IpyEscapeKind kind)
      : Expr(kKind, range), value(value), kind(kind) {}
};

}  // namespace python_ast
