#pragma once

// Patterns of `match` statements and the `case` blocks that hold them.
//
// Representation rules the parser keeps: the wildcard `_` is a PatternAs
// with neither pattern nor name, a capture `x` a PatternAs with a name only;
// `*_` is a PatternStar without a name; a PatternOr has two or more
// alternatives; a PatternMapping has as many keys as patterns, pairwise; a
// parenthesised pattern has no node of its own.

#include <optional>
#include <span>

#include "python_ast/identifier.h"
#include "python_ast/nodes_family.h"

namespace python_ast {

// The base of the eight pattern forms.
struct Pattern {
  TOLVA_NODE_FAMILY_BASE(Pattern, PatternKind)
};

// `name=pattern` inside a class pattern.
struct PatternKeyword {
  TOLVA_NODE_RECORD(PatternKeyword)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Identifier attribute;
  Pattern* pattern = nullptr;

  PatternKeyword() = default;
  PatternKeyword(text_size::TextRange range, Identifier attribute, Pattern* pattern)
      : range(range), attribute(attribute), pattern(pattern) {}
};

// The parenthesised argument list of a class pattern, from "(" to ")".
struct PatternArguments {
  TOLVA_NODE_RECORD(PatternArguments)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  std::span<Pattern*> patterns;
  std::span<PatternKeyword> keywords;

  PatternArguments() = default;
  PatternArguments(text_size::TextRange range, std::span<Pattern*> patterns, std::span<PatternKeyword> keywords)
      : range(range), patterns(patterns), keywords(keywords) {}
};

// A literal or dotted name: `1`, `-1.5`, `1 + 2j`, `"s"`, `a.b.C`.
struct PatternValue final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Value)
  Expr* value;
  PatternValue(text_size::TextRange range, Expr* value) : Pattern(kKind, range), value(value) {}
};

// `None`, `True`, `False`.
struct PatternSingleton final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Singleton)
  PatternSingletonValue value;
  PatternSingleton(text_size::TextRange range, PatternSingletonValue value) : Pattern(kKind, range), value(value) {}
};

// `[a, b]`, `(a, b)`, `()`, `a, b`.
struct PatternSequence final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Sequence)
  std::span<Pattern*> patterns;
  PatternSequence(text_size::TextRange range, std::span<Pattern*> patterns)
      : Pattern(kKind, range), patterns(patterns) {}
};

// `{"k": v, **rest}`: keys and patterns pairwise; `rest` the last `**` name.
struct PatternMapping final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Mapping)
  std::span<Expr*> keys;
  std::span<Pattern*> patterns;
  std::optional<Identifier> rest;
  PatternMapping(text_size::TextRange range, std::span<Expr*> keys, std::span<Pattern*> patterns,
                 std::optional<Identifier> rest)
      : Pattern(kKind, range), keys(keys), patterns(patterns), rest(rest) {}
};

// `Point(x, y=0)`.
struct PatternClass final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Class)
  Expr* cls;
  PatternArguments arguments;
  PatternClass(text_size::TextRange range, Expr* cls, const PatternArguments& arguments)
      : Pattern(kKind, range), cls(cls), arguments(arguments) {}
};

// `*rest`; `*_` has no name.
struct PatternStar final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Star)
  std::optional<Identifier> name;
  PatternStar(text_size::TextRange range, std::optional<Identifier> name) : Pattern(kKind, range), name(name) {}
};

// `p as x`, a capture `x`, the wildcard `_`.
struct PatternAs final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, As)
  Pattern* pattern;  // optional
  std::optional<Identifier> name;
  PatternAs(text_size::TextRange range, Pattern* pattern, std::optional<Identifier> name)
      : Pattern(kKind, range), pattern(pattern), name(name) {}
};

// Alternatives joined by vertical bars, in source order.
struct PatternOr final : Pattern {
  TOLVA_NODE_VARIANT(PatternKind, Or)
  std::span<Pattern*> patterns;
  PatternOr(text_size::TextRange range, std::span<Pattern*> patterns) : Pattern(kKind, range), patterns(patterns) {}
};

// One `case` block, from `case` to the end of its body.
struct MatchCase {
  TOLVA_NODE_RECORD(MatchCase)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Pattern* pattern = nullptr;
  Expr* guard = nullptr;  // optional
  std::span<Stmt*> body;

  MatchCase() = default;
  MatchCase(text_size::TextRange range, Pattern* pattern, Expr* guard, std::span<Stmt*> body)
      : range(range), pattern(pattern), guard(guard), body(body) {}
};

}  // namespace python_ast
