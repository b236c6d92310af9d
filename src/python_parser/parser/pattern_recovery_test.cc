#include "python_parser/parser/pattern_recovery.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "support/fatal_error.h"
#include "test_support/python_ast/nodes.h"
#include "test_support/python_parser/syntax_printer.h"
#include "test_support/threads.h"

namespace python_parser {


namespace {

using python_ast::Expr;
using python_ast::Pattern;
using python_ast::PatternAs;
using python_ast::PatternValue;
using test_support::run_on_thread;
using syntax_testing::sexpr;

// Patterns built by hand, with the offsets of the source written beside
// each (the conversion never looks at the text).
struct Builder : python_ast::testing::TreeBuilder {
  Pattern* capture(std::string_view name, std::uint32_t start) {
    python_ast::Identifier identifier = ident(name, start);
    return make<PatternAs>(identifier.range, nullptr, identifier);
  }
  Pattern* wildcard(std::uint32_t start) { return make<PatternAs>(r(start, start + 1), nullptr, std::nullopt); }
  Pattern* number(std::uint64_t value, std::uint32_t start, std::uint32_t end) {
    return make<PatternValue>(r(start, end), integer(value, start, end));
  }
  Pattern* star(std::optional<std::string_view> name, std::uint32_t start, std::uint32_t end) {
    std::optional<python_ast::Identifier> identifier;
    if (name) identifier = ident(*name, start + 1);
    return make<python_ast::PatternStar>(r(start, end), identifier);
  }
  Pattern* sequence(std::uint32_t start, std::uint32_t end, std::initializer_list<Pattern*> elements) {
    return make<python_ast::PatternSequence>(r(start, end), patterns(elements));
  }
  Pattern* alternatives(std::uint32_t start, std::uint32_t end, std::initializer_list<Pattern*> elements) {
    return make<python_ast::PatternOr>(r(start, end), patterns(elements));
  }
  Pattern* singleton(python_ast::PatternSingletonValue value, std::uint32_t start, std::uint32_t end) {
    return make<python_ast::PatternSingleton>(r(start, end), value);
  }
};

TEST(PatternToExpr, EveryForm) {
  Builder b;
  using python_ast::PatternSingletonValue;
  struct Case {
    std::string_view source;
    Pattern* pattern;
    std::string_view expression;
  };
  const Case cases[] = {
      {"x", b.capture("x", 0), "(Name 0..1 x Store)"},
      {"_", b.wildcard(0), "(Name 0..1 _ Store)"},
      // `p as x` reads as no expression: an empty invalid name over the
      // whole as-pattern.
      {"p as x", b.make<PatternAs>(b.r(0, 6), b.capture("p", 0), b.ident("x", 5)), "(Name 0..6 '' Invalid)"},
      // An as-pattern with a pattern and no name (never parsed) is its
      // pattern.
      {"(p)", b.make<PatternAs>(b.r(0, 3), b.capture("p", 1), std::nullopt), "(Name 1..2 p Store)"},
      {"1", b.number(1, 0, 1), "(Constant 0..1)"},
      {"None", b.singleton(PatternSingletonValue::None, 0, 4), "(Constant 0..4)"},
      {"[a, *b]", b.sequence(0, 7, {b.capture("a", 1), b.star("b", 4, 6)}),
       "(List 0..7 (Name 1..2 a Store) (Starred 4..6 (Name 5..6 b Store) Store) Store)"},
      // `*_` names the `_`, the star's last byte.
      {"*_", b.star(std::nullopt, 0, 2), "(Starred 0..2 (Name 1..2 _ Store) Store)"},
      {"[]", b.sequence(0, 2, {}), "(List 0..2 Store)"},
      {"1 | 2 | 3", b.alternatives(0, 9, {b.number(1, 0, 1), b.number(2, 4, 5), b.number(3, 8, 9)}),
       "(BinOp 0..9 (BinOp 0..5 (Constant 0..1) BitOr (Constant 4..5)) BitOr (Constant 8..9))"},
      // The chain's ranges are those of the converted alternatives: a group
      // or an as-pattern without a name stands for its pattern.
      {"(a | b) | (c)",
       b.alternatives(0, 13, {b.alternatives(1, 6, {b.capture("a", 1), b.capture("b", 5)}),
                              b.make<PatternAs>(b.r(10, 13), b.capture("c", 11), std::nullopt)}),
       "(BinOp 1..12 (BinOp 1..6 (Name 1..2 a Store) BitOr (Name 5..6 b Store)) BitOr (Name 11..12 c Store))"},
      {"{\"k\": v, **rest}",
       b.make<python_ast::PatternMapping>(b.r(0, 16), b.exprs({b.string("k", 1, 4)}), b.patterns({b.capture("v", 6)}),
                                          b.ident("rest", 11)),
       "(Dict 0..16 ((Constant 1..4) (Name 6..7 v Store)) (** (Name 11..15 rest Store)))"},
      // Unpaired keys or patterns are dropped.
      {"{1: a, 2}",
       b.make<python_ast::PatternMapping>(b.r(0, 9), b.exprs({b.integer(1, 1, 2), b.integer(2, 7, 8)}),
                                          b.patterns({b.capture("a", 4)}), std::nullopt),
       "(Dict 0..9 ((Constant 1..2) (Name 4..5 a Store)))"},
      {"Point(1, y=z)",
       b.make<python_ast::PatternClass>(
           b.r(0, 13), b.name("Point", 0),
           python_ast::PatternArguments(b.r(5, 13), b.patterns({b.number(1, 6, 7)}),
                                        b.list<python_ast::PatternKeyword>({python_ast::PatternKeyword(
                                            b.r(9, 12), b.ident("y", 9), b.capture("z", 11))}))),
       "(Call 0..13 (Name 0..5 Point Load) ( (Constant 6..7)) (y=(Name 11..12 z Store)))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    EXPECT_EQ(sexpr(pattern_to_expr(b.arena, c.pattern), 0), c.expression);
  }
}

TEST(PatternToExpr, SingletonsBecomeTheirLiterals) {
  Builder b;
  using python_ast::PatternSingletonValue;
  Expr* none = pattern_to_expr(b.arena, b.singleton(PatternSingletonValue::None, 0, 4));
  ASSERT_TRUE(none->is<python_ast::ExprNoneLiteral>());
  EXPECT_EQ(none->range, b.r(0, 4));
  for (auto [value, expected] : {std::pair{PatternSingletonValue::True, true}, {PatternSingletonValue::False, false}}) {
    Expr* literal = pattern_to_expr(b.arena, b.singleton(value, 2, 7));
    ASSERT_TRUE(literal->is<python_ast::ExprBooleanLiteral>());
    EXPECT_EQ(literal->cast<python_ast::ExprBooleanLiteral>().value, expected);
    EXPECT_EQ(literal->range, b.r(2, 7));
  }
}

// The expressions a pattern holds are moved into the result, not copied;
// the records made for a class pattern take its ranges.
TEST(PatternToExpr, HeldExpressionsAreReused) {
  Builder b;
  Expr* value = b.integer(1, 6, 7);
  Expr* key = b.string("k", 16, 19);
  Expr* cls = b.name("Point", 0);
  Pattern* mapping = b.make<python_ast::PatternMapping>(b.r(15, 23), b.exprs({key}),
                                                        b.patterns({b.capture("v", 21)}), std::nullopt);
  Pattern* pattern = b.make<python_ast::PatternClass>(
      b.r(0, 24), cls,
      python_ast::PatternArguments(b.r(5, 24), b.patterns({b.make<PatternValue>(b.r(6, 7), value)}),
                                   b.list<python_ast::PatternKeyword>(
                                       {python_ast::PatternKeyword(b.r(9, 23), b.ident("y", 9), mapping)})));
  const auto& call = pattern_to_expr(b.arena, pattern)->cast<python_ast::ExprCall>();
  EXPECT_EQ(call.function, cls);
  ASSERT_EQ(call.arguments.args.size(), 1u);
  EXPECT_EQ(call.arguments.args[0], value);
  EXPECT_EQ(call.arguments.range, b.r(5, 24));
  ASSERT_EQ(call.arguments.keywords.size(), 1u);
  EXPECT_EQ(call.arguments.keywords[0].range, b.r(9, 23));
  ASSERT_TRUE(call.arguments.keywords[0].arg.has_value());
  EXPECT_EQ(call.arguments.keywords[0].arg->range, b.r(9, 10));
  EXPECT_EQ(call.arguments.keywords[0].value->cast<python_ast::ExprDict>().items[0].key, key);
}

TEST(PatternToExpr, BrokenOrPatternsAreFatal) {
  Builder b;
  try {
    pattern_to_expr(b.arena, b.alternatives(0, 1, {b.capture("a", 0)}));
    ADD_FAILURE() << "no FatalError";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(),
              "internal error: entered unreachable code: Or patterns can only be formed with at least two patterns.");
  }
  try {
    // Alternatives out of source order make a reversed range.
    pattern_to_expr(b.arena, b.alternatives(0, 5, {b.capture("b", 4), b.capture("a", 0)}));
    ADD_FAILURE() << "no FatalError";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "assertion failed: start.raw <= end.raw");
  }
}

// Any depth converts in constant machine stack, even on a small one.
TEST(PatternToExpr, DeepPatternsConvertOnASmallStack) {
  constexpr std::uint32_t kDepth = 200000;
  Builder b;
  // [[[...[x | y]...]]] with each level's range one byte wider on each side.
  Pattern* pattern = b.alternatives(kDepth, kDepth + 5, {b.capture("x", kDepth), b.capture("y", kDepth + 4)});
  for (std::uint32_t level = kDepth; level-- > 0;) {
    pattern = b.sequence(level, 2 * kDepth + 5 - level, {pattern});
  }
  run_on_thread(256 * 1024, [&] {
    const Expr* expr = pattern_to_expr(b.arena, pattern);
    std::uint32_t depth = 0;
    while (const auto* list = expr->as<python_ast::ExprList>()) {
      ASSERT_EQ(list->range, b.r(depth, 2 * kDepth + 5 - depth));
      expr = list->elements[0];
      ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(sexpr(expr, kDepth), "(BinOp 0..5 (Name 0..1 x Store) BitOr (Name 4..5 y Store))");
  });
}

}  // namespace
}  // namespace python_parser
