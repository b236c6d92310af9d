#include "python_parser/parser/pattern.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "support/fatal_error.h"
#include "test_support/oracle.h"
#include "test_support/python_parser/syntax_printer.h"
#include "test_support/text.h"
#include "test_support/threads.h"


namespace python_parser {
namespace {

using python_ast::Expr;
using python_ast::Pattern;
using python_ast::TokenKind;
using test_support::run_on_thread;
using syntax_testing::sexpr;
using text_size::TextRange;

// ---- Fixtures ----

// A parsed text with everything the parse handed over.
struct Parse {
  explicit Parse(std::string text) : source(std::move(text)), parsed(parse_unchecked(source, Mode::Module)) {}

  const python_ast::ModModule& module() const { return parsed.syntax->cast<python_ast::ModModule>(); }
  // The first statement, which must be a match statement.
  const python_ast::StmtMatch& match() const {
    EXPECT_FALSE(module().body.empty());
    return module().body.front()->cast<python_ast::StmtMatch>();
  }

  std::string source;
  Parsed<python_ast::Mod> parsed;
};

// Every error as "text @start..end", offsets counted from `base`.
std::vector<std::string> errors_of(const Parse& parse, std::uint32_t base) {
  std::vector<std::string> out;
  for (const ParseError& error : parse.parsed.errors) {
    out.push_back(error.error.display() + " @" + std::to_string(error.range.start().raw - base) + ".." +
                  std::to_string(error.range.end().raw - base));
  }
  return out;
}

// One case line under a match statement: "match x:\n    " + line + body.
// Offsets in the expectations count from the `case`.
constexpr std::uint32_t kCaseBase = 13;
std::string match_with_case(std::string_view case_line) {
  return "match x:\n    " + std::string(case_line) + "\n        pass\n";
}

using test_support::repeat;

// Runs the snippets through CPython and this parser and fails on every
// difference; the test interpreter (TOLVA_TEST_PYTHON) is the peer, and the
// test skips without it (fails under CI).
#define TOLVA_EXPECT_SAME_AS_CPYTHON(sources)                                                                  \
  do {                                                                                                         \
    TOLVA_TEST_PYTHON_OR_SKIP(peer_python);                                                                    \
    auto differences = syntax_testing::snippet_differences_from_cpython(*peer_python, sources);                \
    if (!differences) GTEST_SKIP() << *peer_python << " cannot be run";                                      \
    for (const std::string& difference : *differences) ADD_FAILURE() << difference;                          \
  } while (false)

// The pattern of the first case, and its whole parse.
struct CaseParse {
  explicit CaseParse(std::string_view case_line) : parse(match_with_case(case_line)) {}
  const python_ast::MatchCase& first_case() const {
    EXPECT_FALSE(parse.match().cases.empty());
    return parse.match().cases.front();
  }
  std::string pattern() const { return sexpr(first_case().pattern, kCaseBase); }
  std::vector<std::string> errors() const { return errors_of(parse, kCaseBase); }
  std::string first_error() const {
    std::vector<std::string> all = errors();
    return all.empty() ? std::string("-") : all.front();
  }

  Parse parse;
};

// ---- Valid patterns ----

// The representation rules, spelled out: wildcard and capture as
// as-patterns, no node for a group, flat alternatives, "_" kept only where
// it is written as a name.
TEST(PatternTrees, RepresentationRules) {
  struct Case {
    std::string_view line;
    std::string_view pattern;
  };
  const Case cases[] = {
      {"case _:", "(As 5..6 - -)"},
      {"case x:", "(As 5..6 - x)"},
      {"case (x):", "(As 6..7 - x)"},
      {"case ((x)):", "(As 7..8 - x)"},
      {"case (x,):", "(Sequence 5..9 (As 6..7 - x))"},
      {"case ():", "(Sequence 5..7)"},
      {"case []:", "(Sequence 5..7)"},
      {"case [x]:", "(Sequence 5..8 (As 6..7 - x))"},
      {"case [*_]:", "(Sequence 5..9 (Star 6..8 -))"},
      {"case a, *b:", "(Sequence 5..10 (As 5..6 - a) (Star 8..10 b))"},
      {"case 1 | 2 | 3:", "(Or 5..14 (Value 5..6 (Constant 5..6)) (Value 9..10 (Constant 9..10)) "
                          "(Value 13..14 (Constant 13..14)))"},
      {"case x as _:", "(As 5..11 (As 5..6 - x) _)"},
      {"case {**_}:", "(Mapping 5..10 **_)"},
      {"case {1: a, **rest}:", "(Mapping 5..19 ((Constant 6..7) (As 9..10 - a)) **rest)"},
      {"case Point(1, y=2):", "(Class 5..18 (Name 5..10 Point Load) ( (Value 11..12 (Constant 11..12))) "
                              "(y=(Value 16..17 (Constant 16..17))))"},
      {"case None | True | False:", "(Or 5..24 (Singleton 5..9 None) (Singleton 12..16 True) (Singleton 19..24 False))"},
      {"case -1 - 2j:", "(Value 5..12 (BinOp 5..12 (UnaryOp 5..7 USub (Constant 6..7)) Sub (Constant 10..12)))"},
      {"case a.b.C:", "(Value 5..10 (Attribute 5..10 (Attribute 5..8 (Name 5..6 a Load) b Load) C Load))"},
      // Soft keywords are names in patterns.
      {"case match:", "(As 5..10 - match)"},
      {"case type.case:", "(Value 5..14 (Attribute 5..14 (Name 5..9 type Load) case Load))"},
      // f-strings are value patterns here (CPython refuses them later, in
      // its compiler).
      {"case f\"{x}\":", "(Value 5..11 (JoinedStr 5..11))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    CaseParse parse(c.line);
    EXPECT_EQ(parse.pattern(), c.pattern);
    EXPECT_EQ(parse.first_error(), "-");
  }
}

TEST(PatternTrees, ClassPatternRecords) {
  CaseParse parse("case Point(1, y=2,):");
  const auto& cls = parse.first_case().pattern->cast<python_ast::PatternClass>();
  // The arguments run from `(` to `)`; a keyword from its name to the end of
  // its pattern.
  EXPECT_EQ(cls.arguments.range, TextRange(kCaseBase + 10, kCaseBase + 19));
  ASSERT_EQ(cls.arguments.keywords.size(), 1u);
  EXPECT_EQ(cls.arguments.keywords[0].range, TextRange(kCaseBase + 14, kCaseBase + 17));
  EXPECT_EQ(cls.arguments.keywords[0].attribute.range, TextRange(kCaseBase + 14, kCaseBase + 15));
}

TEST(PatternTrees, CasesGuardsAndBodies) {
  Parse parse("match x:\n    case 1 if y:\n        pass\n    case [a] if (b := a):\n        pass\n        pass\n");
  ASSERT_TRUE(parse.parsed.errors.empty()) << parse.parsed.errors.front();
  const python_ast::StmtMatch& match = parse.match();
  EXPECT_EQ(match.range, TextRange(0, 90));
  ASSERT_EQ(match.cases.size(), 2u);
  // A case runs from `case` to the end of its body.
  EXPECT_EQ(match.cases[0].range, TextRange(13, 38));
  EXPECT_EQ(sexpr(match.cases[0].guard, 0), "(Name 23..24 y Load)");
  EXPECT_EQ(match.cases[0].body.size(), 1u);
  EXPECT_EQ(match.cases[1].range, TextRange(43, 90));
  // `:=` is allowed in a guard.
  EXPECT_EQ(sexpr(match.cases[1].guard, 0), "(NamedExpr 56..62 (Name 56..57 b Store) (Name 61..62 a Load))");
  EXPECT_EQ(match.cases[1].body.size(), 2u);
}

TEST(PatternTrees, Subjects) {
  struct Case {
    std::string_view source;
    std::string_view subject;
    std::string_view first_error;
  };
  const Case cases[] = {
      {"match x:\n    case 1: pass\n", "(Name 6..7 x Load)", "-"},
      {"match x, *y:\n    case 1: pass\n", "(Tuple 6..11 (Name 6..7 x Load) (Starred 9..11 (Name 10..11 y Load) Load) Load)",
       "-"},
      {"match x,:\n    case 1: pass\n", "(Tuple 6..8 (Name 6..7 x Load) Load)", "-"},
      {"match (x, y):\n    case 1: pass\n", "(Tuple 6..12 (Name 7..8 x Load) (Name 10..11 y Load) Load)", "-"},
      {"match a := b:\n    case 1: pass\n", "(NamedExpr 6..12 (Name 6..7 a Store) (Name 11..12 b Load))", "-"},
      {"match *y:\n    case 1: pass\n", "(Starred 6..8 (Name 7..8 y Load) Load)",
       "Starred expression cannot be used here @6..8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parse parse{std::string(c.source)};
    EXPECT_EQ(sexpr(parse.match().subject, 0), c.subject);
    std::vector<std::string> errors = errors_of(parse, 0);
    EXPECT_EQ(errors.empty() ? std::string("-") : errors.front(), c.first_error);
  }
}

// Every valid pattern form against CPython's own parser, ranges included.
TEST(PatternTrees, AgreeWithCPython) {
  const std::string_view lines[] = {
      "case _:", "case x:", "case (x):", "case ((x)):", "case (x,):", "case ():", "case []:", "case [x]:",
      "case [x,]:", "case [*_]:", "case [*rest]:", "case a, b:", "case *a, b:", "case a, *b,:", "case (a, b):",
      "case [a, [b, (c, d)]]:", "case 1 | 2 | 3:", "case (1 | 2) | 3:", "case [1 | 2] as y:",
      "case (a as b) as c:", "case None:", "case True | False:", "case 0:", "case -1:", "case 1.5:",
      "case -1.5e3:", "case 2j:", "case -2j:", "case 1 + 2j:", "case -1 - 2j:", "case 0.5 + 1.5j:",
      "case 0xff | 0o7 | 0b1 | 1_000:", "case \"s\":", "case \"a\" \"b\":", "case b\"x\":",
      "case 'a' 'b' as c:", "case a.b:", "case a.b.C:", "case {}:", "case {1: a}:", "case {1: a, **rest}:",
      "case {**rest}:", "case {\"k\": v, -1: w, a.b: [c], None: d, True: e,}:", "case {-1j: x, 1 + 2j: y}:",
      "case {1: {2: {3: x}}}:", "case Point():", "case Point(1, y=2):", "case a.b.C(x, y=0, z=[_, *_]):",
      "case Point(x=Point(y=1), z=_):", "case C(a, b, c=1,):", "case int(x) | str(x):",
      "case {\"type\": \"move\", \"to\": [x, y]} | {\"kind\": Point(x=x)} if x > 0:",
      "case [Point(x=0, y=0), *rest] if rest:", "case match:", "case case:", "case type.x:",
      "case x if (y := 1):", "case x if y if z else w:", "case (\n        a,\n        b,\n    ):",
      "case [a,\n          b]:", "case ((a | b) as c, *_):", "case [[[[[[[[x]]]]]]]]:",
      "case C(C(C(C(x)))):", "case (1 | (2 | (3 | 4))):", "case {'é': été}:",
  };
  std::vector<std::string> sources;
  for (std::string_view line : lines) sources.push_back(match_with_case(line));
  for (std::string_view subject : {"x, *y", "x,", "(x, y)", "f(x)[0]", "a := b", "-x", "[*x]", "x if y else z"}) {
    sources.push_back("match " + std::string(subject) + ":\n    case 1:\n        pass\n");
  }
  TOLVA_EXPECT_SAME_AS_CPYTHON(sources);
}

// ---- Errors ----

// Each malformed pattern: the tree that recovery builds and the first error
// (text, then offsets from the `case`).
TEST(PatternErrors, TreesAndFirstErrors) {
  struct Case {
    std::string_view line;
    std::string_view pattern;
    std::string_view first_error;
  };
  const Case cases[] = {
      // Star patterns where they may not stand: still built.
      {"case *a:", "(Star 5..7 a)", "Star pattern cannot be used here @5..7"},
      {"case *_:", "(Star 5..7 -)", "Star pattern cannot be used here @5..7"},
      {"case *a | b:", "(Or 5..11 (Star 5..7 a) (As 10..11 - b))", "Star pattern cannot be used here @5..7"},
      {"case *a as b:", "(As 5..12 (Star 5..7 a) b)", "Star pattern cannot be used here @5..7"},
      {"case 1 | *x:", "(Or 5..11 (Value 5..6 (Constant 5..6)) (Star 9..11 x))", "Star pattern cannot be used here @9..11"},
      {"case {1: *x}:", "(Mapping 5..12 ((Constant 6..7) (Star 9..11 x)))", "Star pattern cannot be used here @9..11"},
      {"case Point(*x):", "(Class 5..14 (Name 5..10 Point Load) ( (Star 11..13 x)))",
       "Star pattern cannot be used here @11..13"},
      // Brackets and commas.
      {"case (a b):", "(As 6..7 - a)", "Expected `)`, found name @8..9"},
      {"case [a b]:", "(Sequence 5..10 (As 6..7 - a) (As 8..9 - b))", "Expected `,`, found name @8..9"},
      {"case (a, b c):", "(Sequence 5..13 (As 6..7 - a) (As 9..10 - b) (As 11..12 - c))",
       "Expected `,`, found name @11..12"},
      {"case [:", "(Sequence 5..7 (Value 6..6 (Name 6..6 '' Invalid)))", "Missing ']' @6..7"},
      {"case (:", "(Value 6..6 (Name 6..6 '' Invalid))", "Missing ')' @6..7"},
      // Literals.
      {"case +1:", "(Value 5..7 (UnaryOp 5..7 UAdd (Constant 6..7)))", "Unary '+' is not allowed as a literal pattern @5..7"},
      {"case ~1:", "(Value 4..4 (Name 4..4 '' Invalid))", "Expected a pattern @5..6"},
      {"case -x:", "(Value 5..7 (BinOp 5..7 (Name 4..4 '' Invalid) Sub (Name 6..7 x Store)))", "Expected a pattern @5..6"},
      {"case 1j + 2j:", "(Value 5..12 (BinOp 5..12 (Constant 5..7) Add (Constant 10..12)))",
       "Expected a real number in complex literal pattern @5..7"},
      {"case 1 + 2:", "(Value 5..10 (BinOp 5..10 (Constant 5..6) Add (Constant 9..10)))",
       "Expected an imaginary number in complex literal pattern @9..10"},
      {"case -1 + -2j:", "(Value 5..13 (BinOp 5..13 (UnaryOp 5..7 USub (Constant 6..7)) Add (UnaryOp 10..13 USub "
                         "(Constant 11..13))))",
       "Expected an imaginary number in complex literal pattern @10..13"},
      {"case x + 1j:", "(Value 5..11 (BinOp 5..11 (Name 5..6 x Store) Add (Constant 9..11)))",
       "Expected a real number in complex literal pattern @5..6"},
      {"case 1 + [x]:", "(Value 5..12 (BinOp 5..12 (Constant 5..6) Add (List 9..12 (Name 10..11 x Store) Store)))",
       "Expected an imaginary number in complex literal pattern @9..12"},
      // Class patterns.
      {"case Point(x=1, 2):", "(Class 5..18 (Name 5..10 Point Load) ( (Value 16..17 (Constant 16..17))) "
                              "(x=(Value 13..14 (Constant 13..14))))",
       "Positional patterns cannot follow keyword patterns @16..17"},
      {"case Point(_=1):", "(Class 5..15 (Name 5..10 Point Load) () (''=(Value 13..14 (Constant 13..14))))",
       "Expected an identifier for the keyword pattern @11..12"},
      {"case Point(a.b=1):", "(Class 5..17 (Name 5..10 Point Load) () (''=(Value 15..16 (Constant 15..16))))",
       "Expected an identifier for the keyword pattern @11..14"},
      {"case 1():", "(Class 5..8 (Constant 5..6) ())", "Invalid value for a class pattern @5..6"},
      {"case _():", "(Class 5..8 (Name 5..6 _ Store) ())", "Invalid value for a class pattern @5..6"},
      {"case [a](x):", "(Class 5..11 (List 5..8 (Name 6..7 a Store) Store) ( (As 9..10 - x)))",
       "Invalid value for a class pattern @5..8"},
      // Mapping patterns.
      {"case {**a, **b}:", "(Mapping 5..15 **b)", "Only one double star pattern is allowed @11..14"},
      {"case {**a, \"k\": 1}:", "(Mapping 5..18 ((Constant 11..14) (Value 16..17 (Constant 16..17))) **a)",
       "Pattern cannot follow a double star pattern @11..17"},
      {"case {x: 1}:", "(Mapping 5..11 ((Name 6..7 x Store) (Value 9..10 (Constant 9..10))))",
       "Invalid mapping pattern key @6..7"},
      {"case {*x: 1}:", "(Mapping 5..12 ((Starred 6..8 (Name 7..8 x Store) Store) (Value 10..11 (Constant 10..11))))",
       "Star pattern cannot be used here @6..8"},
      {"case {C(a, k=b): 1}:", "(Mapping 5..19 ((Call 6..15 (Name 6..7 C Load) ( (Name 8..9 a Store)) "
                               "(k=(Name 13..14 b Store))) (Value 17..18 (Constant 17..18))))",
       "Invalid mapping pattern key @6..15"},
      // Names, `as` and guards.
      {"case a.:", "(Value 5..7 (Attribute 5..7 (Name 5..6 a Load) '' Load))", "Expected an identifier @7..8"},
      {"case if:", "(As 5..7 - if)",
       "Expected an identifier, but found a keyword `if` that cannot be used here @5..7"},
      {"case 1 as 2:", "(As 5..9 (Value 5..6 (Constant 5..6)) '')", "Expected an identifier @10..11"},
      {"case x if:", "(As 5..6 - x)", "Expected an expression @9..10"},
      // Meaning is not checked: these are accepted as they stand.
      {"case [*a, *b]:", "(Sequence 5..13 (Star 6..8 a) (Star 10..12 b))", "-"},
      {"case x | y:", "(Or 5..10 (As 5..6 - x) (As 9..10 - y))", "-"},
      {"case {1: a, 1: b}:", "(Mapping 5..17 ((Constant 6..7) (As 9..10 - a)) ((Constant 12..13) (As 15..16 - b)))", "-"},
      {"case C(a=1, a=2):", "(Class 5..16 (Name 5..6 C Load) () (a=(Value 9..10 (Constant 9..10))) "
                            "(a=(Value 14..15 (Constant 14..15))))",
       "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    CaseParse parse(c.line);
    EXPECT_EQ(parse.pattern(), c.pattern);
    EXPECT_EQ(parse.first_error(), c.first_error);
  }
}

// The whole error list of a few inputs, which pins the recording order.
TEST(PatternErrors, FullErrorLists) {
  struct Case {
    std::string_view line;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"case -x:",
       {"Expected a pattern @5..6", "Expected a real number in complex literal pattern @4..4",
        "Expected an imaginary number in complex literal pattern @6..7"}},
      // The key error at the star's offset is dropped: one error per offset.
      {"case {*x: 1}:", {"Star pattern cannot be used here @6..8"}},
      {"case {**a, \"k\": 1, **b}:",
       {"Pattern cannot follow a double star pattern @11..17", "Only one double star pattern is allowed @19..22"}},
      {"case Point(_=1, 2, x=3, 4):",
       {"Expected an identifier for the keyword pattern @11..12", "Positional patterns cannot follow keyword patterns @16..17",
        "Positional patterns cannot follow keyword patterns @24..25"}},
      {"case [a b c]:", {"Expected `,`, found name @8..9", "Expected `,`, found name @10..11"}},
      {"case *a, *b | c as d:", {"Star pattern cannot be used here @9..11"}},
      {"case {x: 1} | *y:", {"Invalid mapping pattern key @6..7", "Star pattern cannot be used here @14..16"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    EXPECT_EQ(CaseParse(c.line).errors(), c.errors);
  }
}

// `case [a b]:` must not pass as valid: the missing comma is reported even
// when the closer follows the second element at once, as it is everywhere
// else in the sequence.
TEST(PatternErrors, MissingCommaBeforeTheLastElementOfABracketedSequence) {
  struct Case {
    std::string_view line;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"case [a b]:", {"Expected `,`, found name @8..9"}},
      {"case [a [b]]:", {"Expected `,`, found `[` @8..9"}},
      {"case [a 1]:", {"Expected `,`, found int @8..9"}},
      {"case [a, b c]:", {"Expected `,`, found name @11..12"}},
      // A one-element sequence may end with a comma; an empty closer needs
      // nothing.
      {"case [a,]:", {}},
      {"case [a]:", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    CaseParse parse(c.line);
    EXPECT_EQ(parse.errors(), c.errors);
    EXPECT_TRUE(parse.first_case().pattern->is<python_ast::PatternSequence>());
  }
}

TEST(PatternErrors, MatchBlocks) {
  struct Case {
    std::string_view source;
    std::size_t cases;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"match x:\n    case 1: pass\n    case 2: pass\n", 2, {}},
      {"match x:\n    pass\n", 0, {"Expected `case` block @13..17"}},
      {"match x:\ncase 1:\n    pass\n", 1, {"Expected an indented block after `match` statement @9..13"}},
      {"match x:\n    case 1:\n    pass\n", 1, {"Expected an indented block after `case` block @25..29"}},
      // The missing newline and indent are one error at `case`, which then
      // starts the case.
      {"match x: case 1: pass\n", 1, {"Expected newline, found `case` @9..13"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parse parse{std::string(c.source)};
    EXPECT_EQ(parse.match().cases.size(), c.cases);
    std::vector<std::string> errors = errors_of(parse, 0);
    if (errors.size() > c.errors.size()) errors.resize(c.errors.size());
    EXPECT_EQ(errors, c.errors);
  }
}

// ---- Nesting ----

constexpr std::size_t kSmallStack = 256 * 1024;

// Well-formed patterns nested 100 000 deep: the one nesting error and
// nothing else, on the main thread and on a thread with a small stack.
TEST(PatternNesting, DeepPatternsFailCleanlyWithOneError) {
  constexpr std::size_t kDepth = 100000;
  const std::pair<std::string_view, std::string_view> shapes[] = {
      {"[", "]"}, {"(", ")"}, {"(a, ", ")"}, {"[*a, ", "]"}, {"{1: ", "}"}, {"C(", ")"}, {"C(k=", ")"}, {"(a | ", ")"},
      {"(a as b, ", ")"},
  };
  for (const auto& [open, close] : shapes) {
    SCOPED_TRACE(std::string(open));
    std::string line = "case " + repeat(open, kDepth) + "x" + repeat(close, kDepth) + ":";
    auto check = [&] {
      CaseParse parse(line);
      ASSERT_EQ(parse.parse.parsed.errors.size(), 1u) << parse.parse.parsed.errors.front();
      EXPECT_EQ(parse.parse.parsed.errors.front().error.display(), kNestingTooDeepMessage);
    };
    check();
    run_on_thread(kSmallStack, check);
  }
}

// Chains that recurse through the tails (complex literals) and through
// repeated signs record their own errors on the way; they still end.
TEST(PatternNesting, DeepTailChainsEnd) {
  constexpr std::size_t kDepth = 100000;
  for (const std::string& line : {"case " + repeat("1 + ", kDepth) + "1j:", "case " + repeat("-", kDepth) + "1:",
                                  "case " + repeat("C()(", kDepth) + ")" + ":"}) {
    auto check = [&] {
      CaseParse parse(line);
      const std::vector<ParseError>& errors = parse.parse.parsed.errors;
      EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [](const ParseError& error) {
        return error.error.display() == kNestingTooDeepMessage;
      }));
    };
    check();
    run_on_thread(kSmallStack, check);
  }
}

TEST(PatternNesting, OrdinaryDepthParsesUnchanged) {
  constexpr std::size_t kDepth = 150;
  CaseParse parse("case " + repeat("[", kDepth) + "x" + repeat("]", kDepth) + ":");
  EXPECT_EQ(parse.first_error(), "-");
  std::size_t depth = 0;
  for (const Pattern* pattern = parse.first_case().pattern; pattern->is<python_ast::PatternSequence>();
       pattern = pattern->cast<python_ast::PatternSequence>().patterns[0]) {
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
}

// A deep pattern converted to an expression (an invalid mapping key) converts
// in constant machine stack.
TEST(PatternNesting, DeepInvalidMappingKeyConverts) {
  constexpr std::size_t kDepth = 900;
  std::string line = "case {" + repeat("C(", kDepth) + "a" + repeat(")", kDepth) + ": 1}:";
  CaseParse parse(line);
  EXPECT_EQ(parse.errors(), std::vector<std::string>{"Invalid mapping pattern key @6..2707"});
  const auto& mapping = parse.first_case().pattern->cast<python_ast::PatternMapping>();
  ASSERT_EQ(mapping.keys.size(), 1u);
  const Expr* key = mapping.keys[0];
  std::size_t depth = 0;
  while (const auto* call = key->as<python_ast::ExprCall>()) {
    ASSERT_EQ(call->arguments.args.size(), 1u);
    key = call->arguments.args[0];
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(sexpr(key, kCaseBase), "(Name 1806..1807 a Store)");
  // On a small stack the parse may stop earlier, at the nesting limit; it
  // never fails otherwise.
  run_on_thread(kSmallStack, [&] {
    CaseParse small(line);
    ASSERT_FALSE(small.parse.parsed.errors.empty());
    std::string text = small.parse.parsed.errors.front().error.display();
    EXPECT_TRUE(text == "Invalid mapping pattern key" || text == kNestingTooDeepMessage) << text;
  });
}

// ---- Robustness ----

// Random case lines over the pattern tokens: no fatal error, no hang, and
// every range of the tree and of the errors lies inside the text (the dump
// checks the tree's).
TEST(PatternRobustness, RandomTokenSoupsParse) {
  const std::string_view tokens[] = {
      "[", "]", "(", ")", "{", "}", "*", "**", "|", "as", ",", ":", "=", ".", "+", "-", "1", "2.5", "3j",
      "x", "_", "C", "\"s\"", "f\"{y}\"", "None", "True", "if", "case", "match", "\n", "\n    ", "\n        ",
      "lambda", "not", "~", "?", "\\\n", "#c\n", ";", ":=", "'",
  };
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(tokens) - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int iteration = 0; iteration < 4000; ++iteration) {
    std::string line = "case ";
    for (int i = length(random); i > 0; --i) {
      line += tokens[pick(random)];
      line += ' ';
    }
    SCOPED_TRACE(line);
    try {
      Parse parse(match_with_case(line));
      (void)python_ast::dump_json(parse.module(), parse.source);
      for (const ParseError& error : parse.parsed.errors) {
        EXPECT_LE(error.range.end().raw, parse.source.size());
      }
    } catch (const tolva::FatalError& error) {
      ADD_FAILURE() << error.message();
    }
  }
}

// ---- `match` as a soft keyword ----

std::vector<python_ast::Token> lexer_tokens(std::string_view source) {
  python_ast::Arena arena;
  Lexer lexer(source, Mode::Module, text_size::TextOffset(0), arena);
  std::vector<python_ast::Token> tokens;
  while (lexer.next_token() != TokenKind::EndOfFile) {
    tokens.push_back(python_ast::Token{lexer.current_range(), lexer.current_flags(), lexer.current_kind()});
  }
  return tokens;
}

std::vector<python_ast::Token> parsed_tokens(const Parse& parse) {
  return std::vector<python_ast::Token>(parse.parsed.tokens.begin(), parse.parsed.tokens.end());
}

// The dispatch decides by look-ahead, and speculates for `(`, `[`, `+`, `-`
// and `*`. A failed speculation leaves no trace: the tokens are the lexer's,
// and the errors are those of the same text with a plain name in place of
// `match`.
TEST(MatchSpeculation, DecisionTable) {
  struct Case {
    std::string_view source;
    python_ast::StmtKind statement;
    std::vector<std::string> errors;
  };
  using python_ast::StmtKind;
  const Case cases[] = {
      {"match x:\n    case 1: pass\n", StmtKind::Match, {}},
      {"match (a, b):\n    case 1: pass\n", StmtKind::Match, {}},
      {"match [a]:\n    case 1: pass\n", StmtKind::Match, {}},
      {"match -x:\n    case 1: pass\n", StmtKind::Match, {}},
      {"match +x:\n    case 1: pass\n", StmtKind::Match, {}},
      {"match *x:\n    case 1: pass\n", StmtKind::Match, {"Starred expression cannot be used here @6..8"}},
      {"match (x)\n    case 1: pass\n", StmtKind::Match, {"Expected `:`, found newline @9..10"}},
      {"match(x)\n", StmtKind::Expression, {}},
      {"match -x\n", StmtKind::Expression, {}},
      {"match * x\n", StmtKind::Expression, {}},
      {"match [0] = 2\n", StmtKind::Assignment, {}},
      {"match(a).b = 1\n", StmtKind::Assignment, {}},
      {"match (a, b): int\n", StmtKind::AnnotatedAssignment, {"Invalid annotated assignment target @0..12"}},
      {"match = 1\n", StmtKind::Assignment, {}},
      {"match.x\n", StmtKind::Expression, {}},
      {"match not in x\n", StmtKind::Expression, {}},
      {"match (a b) = 1\n", StmtKind::Assignment, {"Expected `,`, found name @9..10", "Invalid assignment target @0..11"}},
      {"match [a b].c\n", StmtKind::Expression, {"Expected `:`, found name @9..10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parse parse{std::string(c.source)};
    ASSERT_FALSE(parse.module().body.empty());
    EXPECT_EQ(parse.module().body.front()->kind_name(), python_ast::kind_name(c.statement));
    std::vector<std::string> errors = errors_of(parse, 0);
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(parsed_tokens(parse), lexer_tokens(c.source));
    if (c.statement != StmtKind::Match) {
      std::string plain = "hatch" + std::string(c.source.substr(5));
      EXPECT_EQ(errors, errors_of(Parse(plain), 0));
    }
  }
}

// ---- The standard libraries ----

// The match and parenthesized with statements of one interpreter's standard
// library against that interpreter's own parser.
void compare_standard_library(std::string_view version) {
  TOLVA_ORACLE_OR_SKIP(oracle, version);
  const std::string& interpreter = oracle->python;
  std::filesystem::path lib = oracle->stdlib;
  std::error_code error;
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(lib, error)) {
    if (entry.path().extension() != ".py" || !entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      std::string_view rest = std::string_view(line).substr(first);
      if (rest.starts_with("async ")) rest.remove_prefix(6);
      if ((rest.starts_with("match ") && rest.ends_with(":")) || rest.starts_with("with (")) {
        paths.push_back(entry.path().string());
        break;
      }
    }
  }
  ASSERT_FALSE(paths.empty());
  auto differences = syntax_testing::differences_from_cpython(interpreter, paths, syntax_testing::CPythonRefusal::Skip);
  ASSERT_TRUE(differences.has_value()) << interpreter << " failed";
  for (const std::string& difference : *differences) ADD_FAILURE() << difference.substr(0, 4000);
}

TEST(MatchAndWithCorpus, Python311) { compare_standard_library("3.11"); }
TEST(MatchAndWithCorpus, Python312) { compare_standard_library("3.12"); }
TEST(MatchAndWithCorpus, Python313) { compare_standard_library("3.13"); }
}  // namespace
}  // namespace python_parser
