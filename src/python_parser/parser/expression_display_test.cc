#include "python_parser/parser/expression_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "support/fatal_error.h"
#include "test_support/python_parser/expression_printer.h"


namespace python_parser {
namespace {

using expression_testing::parse_expression_for_test;
using expression_testing::ParsedExpression;
using expression_testing::TreeCase;

TEST(ExpressionDisplay, DisplaysAndComprehensionsWithoutErrors) {
  const TreeCase cases[] = {
      {"[]", "(list)"},
      {"[1]", "(list 1)"},
      {"[1, 2,]", "(list 1 2)"},
      {"[*a, b]", "(list (* a) b)"},
      {"[x := 1, y]", "(list (:= x@Store 1) y)"},
      {"[1, [2, {3: [4]}]]", "(list 1 (list 2 (dict (: 3 (list 4)))))"},
      {"{}", "(dict)"},
      {"{1, 2,}", "(set 1 2)"},
      {"{1}", "(set 1)"},
      {"{*a, b}", "(set (* a) b)"},
      {"{*(a or b)}", "(set (* (or a b)))"},
      {"{x := 1, y}", "(set (:= x@Store 1) y)"},
      {"{1: 2, **m, 3: 4,}", "(dict (: 1 2) (** m) (: 3 4))"},
      {"{**a, k: 1}", "(dict (** a) (: k 1))"},
      {"{**a, **b}", "(dict (** a) (** b))"},
      {"{**a | b}", "(dict (** (| a b)))"},
      {"{(a := 1): 2}", "(dict (: (:= a@Store 1) 2))"},
      {"{a: b if c else d}", "(dict (: a (if b c d)))"},
      {"{1: 2 for x in y}", "(dictcomp 1 2 (for x@Store y))"},
      {"{a: b for a, b in c if d}", "(dictcomp a b (for (tuple@Store a@Store b@Store) c (if d)))"},
      {"{1 for x in y}", "(setcomp 1 (for x@Store y))"},
      {"{(x := 1) for y in z}", "(setcomp (:= x@Store 1) (for y@Store z))"},
      {"[x for x in y]", "(listcomp x (for x@Store y))"},
      {"[x async for x in y if a if b]", "(listcomp x (async-for x@Store y (if a b)))"},
      {"[x for x in a for y in b if y async for z in c]",
       "(listcomp x (for x@Store a) (for y@Store b (if y)) (async-for z@Store c))"},
      {"[x for x, y in z]", "(listcomp x (for (tuple@Store x@Store y@Store) z))"},
      {"[x for *a, b in c]", "(listcomp x (for (tuple@Store (*@Store a@Store) b@Store) c))"},
      {"[x for [a, b] in c]", "(listcomp x (for (list@Store a@Store b@Store) c))"},
      {"[x for a.b in c]", "(listcomp x (for (.@Store a b) c))"},
      {"[x for x in y if a or b and c]", "(listcomp x (for x@Store y (if (or a (and b c)))))"},
      {"[x for x in not a]", "(listcomp x (for x@Store (not a)))"},
      {"[x for x in a if (y := x)]", "(listcomp x (for x@Store a (if (:= y@Store x))))"},
      {"[x for x in (a if b else c)]", "(listcomp x (for x@Store (if a b c)))"},
      {"[x for x in a not in b]", "(listcomp x (for x@Store (cmp a not in b)))"},
      {"[(x, y) for x in a]", "(listcomp (ptuple x y) (for x@Store a))"},
      {"[[y for y in x] for x in z]", "(listcomp (listcomp y (for y@Store x)) (for x@Store z))"},
      {"(x for x in y)", "(pgen x (for x@Store y))"},
      {"(x async for x in y if z)", "(pgen x (async-for x@Store y (if z)))"},
      {"f(x for x in y)", "(call f (gen x (for x@Store y)))"},
      {"[x for x in y][0]", "([] (listcomp x (for x@Store y)) 0)"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    EXPECT_TRUE(parsed.errors.empty()) << c.source << ": " << parsed.first_error();
  }
}

struct ErrorCase {
  std::string_view source;
  std::string_view tree;
  std::vector<std::string_view> errors;  // every error of the parse, in order
};

TEST(ExpressionDisplay, ErrorsAndTheTreesBuiltAroundThem) {
  const ErrorCase cases[] = {
      // A missing comma after the first element, and between later ones.
      {"[1 2]", "(list 1 2)", {"Expected `,`, found int at byte range 3..4"}},
      {"[1, 2 3]", "(list 1 2 3)", {"Expected `,`, found int at byte range 6..7"}},
      {"{1 2}", "(set 1 2)", {"Expected `,`, found int at byte range 3..4"}},
      {"{1: 2 3: 4}", "(dict (: 1 2) (: 3 4))", {"Expected `,`, found int at byte range 6..7"}},
      // A comma with no element before it.
      {"[1, , 2]", "(list 1 2)", {"Expected an expression or a ']' at byte range 4..5"}},
      {"[, 1]", "(list @Invalid 1)", {"Expected an expression at byte range 1..2"}},
      {"{1, , 2}", "(set 1 2)", {"Expected an expression or a '}' at byte range 4..5"}},
      {"{1: 2, , 3: 4}", "(dict (: 1 2) (: 3 4))", {"Expected an expression or a '}' at byte range 7..8"}},
      // A dict item without its value.
      {"{1: 2, 3}", "(dict (: 1 2) (: 3 @Invalid))", {"Expected `:`, found `}` at byte range 8..9"}},
      // Starred and named first keys stay keys.
      {"{*a: 1}", "(dict (: (* a) 1))", {"Starred expression cannot be used here at byte range 1..3"}},
      {"{a := 1: 2}", "(dict (: (:= a@Store 1) 2))",
       {"Unparenthesized named expression cannot be used here at byte range 1..7"}},
      // A later starred key or value is the expression parser's to report.
      {"{1: 2, *a: 3}", "(dict (: 1 2) (: (* a) 3))", {"Starred expression cannot be used here at byte range 7..9"}},
      // Unpacking in a comprehension's element.
      {"[*a for a in b]", "(listcomp (* a) (for a@Store b))",
       {"Iterable unpacking cannot be used in a comprehension at byte range 1..3"}},
      {"{*a for a in b}", "(setcomp (* a) (for a@Store b))",
       {"Iterable unpacking cannot be used in a comprehension at byte range 1..3"}},
      // The parenthesized form is the group's error, not the comprehension's.
      {"[(*a) for a in b]", "(listcomp (* a) (for a@Store b))",
       {"Starred expression cannot be used here at byte range 2..4"}},
      // `**` starts a dict display, never a comprehension: the list loop
      // skips `for`, and `a in b` is then the next key (keys do not stop at
      // `in`), whose `:` is missing.
      {"{**a for a in b}", "(dict (** a) (: (cmp a in b) @Invalid))",
       {"Expected an expression or a '}' at byte range 5..8", "Expected `:`, found `}` at byte range 15..16"}},
      // The value after `*` and `**` binds at bitwise-or level.
      {"[*a or b]", "(list (* (or a b)))", {"Boolean expression cannot be used here at byte range 2..8"}},
      {"{**a if b else c}", "(dict (** (if a b c)))",
       {"Conditional expression cannot be used here at byte range 3..16"}},
      // Clause keywords.
      {"[x async x in y]", "(listcomp x (async-for x@Store y))", {"Expected `for`, found name at byte range 9..10"}},
      {"[x for x y]", "(listcomp x (for x@Store y))", {"Expected `in`, found name at byte range 9..10"}},
      // The condition ends before `else`, which then stands where `]` should.
      {"[x for x in a if b else c]", "(listcomp x (for x@Store a (if b)))",
       {"Expected `]`, found `else` at byte range 19..23"}},
      // A lambda or a conditional is no iterable without parentheses.
      {"[x for x in lambda: y]", "(listcomp x (for x@Store (lambda y)))",
       {"Lambda expression cannot be used here at byte range 12..21"}},
      // Targets that cannot be assigned to.
      {"[x for 1 in y]", "(listcomp x (for 1 y))", {"Invalid assignment target at byte range 7..8"}},
      {"[x for f() in y]", "(listcomp x (for (call f) y))", {"Invalid assignment target at byte range 7..10"}},
      // A bracket or brace that is never closed: the lexer reports the end of
      // the file inside brackets, which hides the parser's errors there.
      {"[", "(list @Invalid)", {"unexpected EOF while parsing at byte range 1..1"}},
      {"{", "(set @Invalid)", {"unexpected EOF while parsing at byte range 1..1"}},
      {"[1, 2", "(list 1 2)", {"unexpected EOF while parsing at byte range 5..5"}},
      {"{1: 2", "(dict (: 1 2))", {"unexpected EOF while parsing at byte range 5..5"}},
      {"[x for x in y", "(listcomp x (for x@Store y))", {"unexpected EOF while parsing at byte range 13..13"}},
      {"(x for x in y", "(pgen x (for x@Store y))", {"unexpected EOF while parsing at byte range 13..13"}},
  };
  for (const ErrorCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.tree(), c.tree) << c.source;
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(parsed.errors, expected) << c.source;
  }
}

TEST(ExpressionDisplay, NodeRanges) {
  const TreeCase cases[] = {
      // Displays cover their brackets.
      {"[]", "ExprList 0..2"},
      {"{}", "ExprDict 0..2"},
      {"[a, b,]", "ExprList 0..7, ExprName 1..2, ExprName 4..5"},
      {"{a: b}", "ExprDict 0..6, ExprName 1..2, ExprName 4..5"},
      // A clause runs from its `for` or `async` to its last condition.
      {"[x for x in y if z]",
       "ExprListComprehension 0..19, ExprName 1..2, Comprehension 3..18, ExprName 7..8, ExprName 12..13, "
       "ExprName 17..18"},
      {"{k: v async for k in y}",
       "ExprDictComprehension 0..23, ExprName 1..2, ExprName 4..5, Comprehension 6..22, ExprName 16..17, "
       "ExprName 21..22"},
      // A generator with its own parentheses covers them; the sole argument
      // of a call does not own the call's.
      {"(x for x in y)", "ExprGenerator 0..14, ExprName 1..2, Comprehension 3..13, ExprName 7..8, ExprName 12..13"},
      {"f(x for x in y)",
       "ExprCall 0..15, ExprName 0..1, Arguments 1..15, ExprGenerator 2..14, ExprName 2..3, Comprehension 4..14, "
       "ExprName 8..9, ExprName 13..14"},
      // A missing bracket: the display ends with its last element.
      {"[a, b", "ExprList 0..5, ExprName 1..2, ExprName 4..5"},
  };
  for (const TreeCase& c : cases) {
    ParsedExpression parsed = parse_expression_for_test(c.source);
    EXPECT_EQ(parsed.ranges(), c.tree) << c.source;
  }
}

// Inside a module: line breaks within brackets do not end the statement;
// a statement keyword after an unclosed bracket ends the display (the line
// break before it becomes logical again) and is parsed as a statement.
TEST(ExpressionDisplay, MissingClosingBracketInAModule) {
  struct Case {
    std::string_view source;
    std::vector<std::string_view> errors;
  };
  const Case cases[] = {
      {"x = [1,\n  2]\ny = {a: b,\n c: d}\n", {}},
      {"x = [1, 2\ndef f(): pass\n", {"Expected `]`, found newline at byte range 9..10"}},
      {"x = {1: 2, 3: 4\ndef f(): pass\n", {"Expected `}`, found newline at byte range 15..16"}},
      // After a dict's first item the comma is expected before the list
      // loop runs, so the keyword is reported first, then the brace at the
      // line break before it: the errors keep the order they were found in.
      {"x = {1: 2\ndef f(): pass\n",
       {"Expected `,`, found `def` at byte range 10..13", "Expected `}`, found newline at byte range 9..10"}},
      {"x = {1, 2\nclass C: pass\n", {"Expected `}`, found newline at byte range 9..10"}},
  };
  for (const Case& c : cases) {
    Parsed<python_ast::Mod> parsed = parse_unchecked(c.source, Mode::Module);
    std::vector<std::string> errors;
    for (const ParseError& error : parsed.errors) errors.push_back(error.display());
    std::vector<std::string> expected(c.errors.begin(), c.errors.end());
    EXPECT_EQ(errors, expected) << c.source;
  }
}

// The JSON dump of the display and comprehension nodes holds every field.
TEST(ExpressionDisplay, DumpHoldsEveryField) {
  ParsedExpression parsed = parse_expression_for_test("{k: [*v] async for k in y if c}");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.first_error();
  std::string json = python_ast::dump_json(*parsed.expr, parsed.parsed.tree->source());
  EXPECT_EQ(json,
            R"({"type":"ExprDictComprehension","range":[0,31],)"
            R"("key":{"type":"ExprName","range":[1,2],"id":"k","ctx":"Load"},)"
            R"("value":{"type":"ExprList","range":[4,8],"elements":[{"type":"ExprStarred","range":[5,7],)"
            R"("value":{"type":"ExprName","range":[6,7],"id":"v","ctx":"Load"},"ctx":"Load"}],"ctx":"Load"},)"
            R"("generators":[{"type":"Comprehension","range":[9,30],)"
            R"("target":{"type":"ExprName","range":[19,20],"id":"k","ctx":"Store"},)"
            R"("iter":{"type":"ExprName","range":[24,25],"id":"y","ctx":"Load"},)"
            R"("conditions":[{"type":"ExprName","range":[29,30],"id":"c","ctx":"Load"}],"is_async":true}]})");
}

// Deep nesting of every display kind ends with the nesting error instead of
// exhausting the stack.
TEST(ExpressionDisplay, DeepNestingIsReportedNotFatal) {
  const std::string_view openers[] = {"[", "{", "{**", "[x for x in ", "{x: y for x in ", "(x for x in ", "{1: "};
  for (std::string_view opener : openers) {
    std::string source;
    for (int i = 0; i < 100000; ++i) source += opener;
    ParsedExpression parsed;
    ASSERT_NO_THROW(parsed = parse_expression_for_test(source)) << opener;
    ASSERT_FALSE(parsed.errors.empty()) << opener;
    bool nesting_reported = false;
    for (const std::string& error : parsed.errors) {
      nesting_reported |= error.starts_with(kNestingTooDeepMessage);
    }
    EXPECT_TRUE(nesting_reported) << opener << ": " << parsed.first_error();
  }
}

// Moderately deep displays parse unchanged.
TEST(ExpressionDisplay, OrdinaryDepthParses) {
  std::string source;
  for (int i = 0; i < 100; ++i) source += "[{";
  source += "x";
  for (int i = 0; i < 100; ++i) source += "}]";
  ParsedExpression parsed = parse_expression_for_test(source);
  EXPECT_TRUE(parsed.errors.empty()) << parsed.first_error();
}

}  // namespace
}  // namespace python_parser
