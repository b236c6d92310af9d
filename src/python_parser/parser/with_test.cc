#include "python_parser/parser/with.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python_parser/lexer.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "test_support/oracle.h"
#include "test_support/python_parser/syntax_printer.h"
#include "test_support/threads.h"

namespace python_parser {


namespace {

using python_ast::TokenKind;
using syntax_testing::sexpr;
using text_size::TextRange;

struct Parse {
  explicit Parse(std::string text) : source(std::move(text)), parsed(parse_unchecked(source, Mode::Module)) {}

  const python_ast::ModModule& module() const { return parsed.syntax->cast<python_ast::ModModule>(); }
  const python_ast::StmtWith& with() const {
    EXPECT_FALSE(module().body.empty());
    return module().body.front()->cast<python_ast::StmtWith>();
  }
  // Each item as "context as target" (target "-" when absent).
  std::vector<std::string> items() const {
    std::vector<std::string> out;
    for (const python_ast::WithItem& item : with().items) {
      out.push_back(sexpr(item.context_expression, 0) + " as " + sexpr(item.target, 0));
    }
    return out;
  }
  // Every error as "text @start..end", offsets shifted back by `shift`.
  std::vector<std::string> errors(std::uint32_t shift = 0) const {
    std::vector<std::string> out;
    for (const ParseError& error : parsed.errors) {
      out.push_back(error.error.display() + " @" + std::to_string(error.range.start().raw - shift) + ".." +
                    std::to_string(error.range.end().raw - shift));
    }
    return out;
  }
  std::vector<python_ast::Token> tokens() const {
    return std::vector<python_ast::Token>(parsed.tokens.begin(), parsed.tokens.end());
  }

  std::string source;
  Parsed<python_ast::Mod> parsed;
};

// A with statement with a one-line body.
std::string with_statement(std::string_view header) { return std::string(header) + "\n    pass\n"; }

std::vector<python_ast::Token> lexer_tokens(std::string_view source) {
  python_ast::Arena arena;
  Lexer lexer(source, Mode::Module, text_size::TextOffset(0), arena);
  std::vector<python_ast::Token> tokens;
  while (lexer.next_token() != TokenKind::EndOfFile) {
    tokens.push_back(python_ast::Token{lexer.current_range(), lexer.current_flags(), lexer.current_kind()});
  }
  return tokens;
}

struct Case {
  std::string_view header;
  std::vector<std::string> items;
  std::vector<std::string> errors;
};

void check(const Case& c) {
  SCOPED_TRACE(std::string(c.header));
  std::string source = with_statement(c.header);
  Parse parse(source);
  EXPECT_EQ(parse.items(), c.items);
  EXPECT_EQ(parse.errors(), c.errors);
  // Whichever reading won, the token list is the lexer's: nothing of a
  // rewound reading stays, nothing is recorded twice.
  EXPECT_EQ(parse.tokens(), lexer_tokens(source));
}

// The parentheses after `with`: an item list, or the start of the first
// context expression.
TEST(WithStatement, ParenthesizedDecisionTable) {
  const Case cases[] = {
      {"with (a, b):", {"(Name 6..7 a Load) as -", "(Name 9..10 b Load) as -"}, {}},
      {"with (a as x, b as y):", {"(Name 6..7 a Load) as (Name 11..12 x Store)", "(Name 14..15 b Load) as (Name 19..20 y Store)"}, {}},
      {"with (a, b,):", {"(Name 6..7 a Load) as -", "(Name 9..10 b Load) as -"}, {}},
      {"with (a):", {"(Name 6..7 a Load) as -"}, {}},
      {"with (a) as t:", {"(Name 6..7 a Load) as (Name 12..13 t Store)"}, {}},
      {"with (a, b) as t:", {"(Tuple 5..11 (Name 6..7 a Load) (Name 9..10 b Load) Load) as (Name 15..16 t Store)"}, {}},
      {"with (a := b):", {"(NamedExpr 6..12 (Name 6..7 a Store) (Name 11..12 b Load)) as -"}, {}},
      {"with (yield x):", {"(Yield 6..13 (Name 12..13 x Load)) as -"}, {}},
      {"with (a, *b):", {"(Tuple 5..12 (Name 6..7 a Load) (Starred 9..11 (Name 10..11 b Load) Load) Load) as -"}, {}},
      {"with ():", {"(Tuple 5..7 Load) as -"}, {}},
      {"with (a := b as c):",
       {"(NamedExpr 6..12 (Name 6..7 a Store) (Name 11..12 b Load)) as (Name 16..17 c Store)"},
       {"Unparenthesized named expression cannot be used here @6..12"}},
  };
  for (const Case& c : cases) check(c);
}

TEST(WithStatement, ItemsAndTheirErrors) {
  const Case cases[] = {
      {"with a as b, c as d:", {"(Name 5..6 a Load) as (Name 10..11 b Store)", "(Name 13..14 c Load) as (Name 18..19 d Store)"}, {}},
      {"with a, b,:", {"(Name 5..6 a Load) as -", "(Name 8..9 b Load) as -"}, {"Trailing comma not allowed @9..10"}},
      {"with:", {}, {"Expected the start of an expression after `with` keyword @4..5"}},
      // The comma belongs to the tuple.
      {"with (a,) as t:", {"(Tuple 5..9 (Name 6..7 a Load) Load) as (Name 13..14 t Store)"}, {}},
      {"with (open(p) as f, open(q) as g,):",
       {"(Call 6..13 (Name 6..10 open Load) ( (Name 11..12 p Load))) as (Name 17..18 f Store)",
        "(Call 20..27 (Name 20..24 open Load) ( (Name 25..26 q Load))) as (Name 31..32 g Store)"},
       {}},
      // A newline after the `)` counts as `:`; a comment before it is
      // looked past.
      {"with (a, b)", {"(Name 6..7 a Load) as -", "(Name 9..10 b Load) as -"}, {"Expected `:`, found newline @11..12"}},
      {"with (a, b)  # note", {"(Name 6..7 a Load) as -", "(Name 9..10 b Load) as -"},
       {"Expected `:`, found newline @19..20"}},
      // A group inside the list is a context expression of its own.
      {"with ((yield x)):", {"(Yield 7..14 (Name 13..14 x Load)) as -"}, {}},
      {"with ((a := 1) as b):", {"(NamedExpr 7..13 (Name 7..8 a Store) (Constant 12..13)) as (Name 18..19 b Store)"}, {}},
      // With targets the list is kept; what needs its own parentheses is
      // reported.
      {"with (yield x as y):", {"(Yield 6..13 (Name 12..13 x Load)) as (Name 17..18 y Store)"},
       {"Yield expression cannot be used here @6..13"}},
      {"with (yield from x as y, z):",
       {"(YieldFrom 6..18 (Name 17..18 x Load)) as (Name 22..23 y Store)", "(Name 25..26 z Load) as -"},
       {"Yield expression cannot be used here @6..18"}},
      {"with (*a as b, c):", {"(Starred 6..8 (Name 7..8 a Load) Load) as (Name 12..13 b Store)", "(Name 15..16 c Load) as -"},
       {"Starred expression cannot be used here @6..8"}},
      // Anything after the `)` but `:` or a newline makes the `(` the start
      // of an expression.
      {"with (a, b) as (c, d):",
       {"(Tuple 5..11 (Name 6..7 a Load) (Name 9..10 b Load) Load) as (Tuple 15..21 (Name 16..17 c Store) (Name 19..20 d "
        "Store) Store)"},
       {}},
      {"with (a, b).c as d:", {"(Attribute 5..13 (Tuple 5..11 (Name 6..7 a Load) (Name 9..10 b Load) Load) c Load) as (Name 17..18 d Store)"}, {}},
      {"with (a)(b):", {"(Call 5..11 (Name 6..7 a Load) ( (Name 9..10 b Load))) as -"}, {}},
      {"with (a, b), c:", {"(Tuple 5..11 (Name 6..7 a Load) (Name 9..10 b Load) Load) as -", "(Name 13..14 c Load) as -"}, {}},
      {"with (a for a in b):", {"(GeneratorExp 5..19) as -"}, {}},
      {"with (a) if b else c:", {"(IfExp 5..20) as -"}, {}},
      {"with (a, b), (c):", {"(Tuple 5..11 (Name 6..7 a Load) (Name 9..10 b Load) Load) as -", "(Name 14..15 c Load) as -"}, {}},
      {"with (a, b,), c,:", {"(Tuple 5..12 (Name 6..7 a Load) (Name 9..10 b Load) Load) as -", "(Name 14..15 c Load) as -"},
       {"Trailing comma not allowed @15..16"}},
      // Targets are checked and stored.
      {"with a as 1:", {"(Name 5..6 a Load) as (Constant 10..11)"}, {"Invalid assignment target @10..11"}},
      {"with a as (b, *c):", {"(Name 5..6 a Load) as (Tuple 10..17 (Name 11..12 b Store) (Starred 14..16 (Name 15..16 c Store) Store) Store)"}, {}},
      {"with a as b.c, d as e[0]:",
       {"(Name 5..6 a Load) as (Attribute 10..13 (Name 10..11 b Load) c Store)",
        "(Name 15..16 d Load) as (Subscript 20..24)"},
       {}},
      {"with (\n    a as b,\n    c,\n):", {"(Name 11..12 a Load) as (Name 16..17 b Store)", "(Name 23..24 c Load) as -"}, {}},
  };
  for (const Case& c : cases) check(c);
}

TEST(WithStatement, StatementRecord) {
  Parse parse("async with a as b, c:\n    pass\n    pass\nx\n");
  ASSERT_TRUE(parse.parsed.errors.empty()) << parse.parsed.errors.front();
  const python_ast::StmtWith& with = parse.with();
  EXPECT_TRUE(with.is_async);
  // From `async` to the end of the body.
  EXPECT_EQ(with.range, TextRange(0, 39));
  EXPECT_EQ(with.body.size(), 2u);
  ASSERT_EQ(with.items.size(), 2u);
  EXPECT_EQ(with.items[0].range, TextRange(11, 17));
  EXPECT_EQ(with.items[1].range, TextRange(19, 20));

  // An item of the rewound reading starts at the `(`.
  Parse rewound("with (a) as t: pass\n");
  ASSERT_EQ(rewound.with().items.size(), 1u);
  EXPECT_EQ(rewound.with().items[0].range, TextRange(5, 13));
  EXPECT_FALSE(rewound.with().is_async);
}

// A reading that is rewound leaves no trace: the errors are those of the
// same items read without any speculation (after an unparenthesized first
// item, where the `(` cannot open an item list), shifted by that item.
TEST(WithStatement, RewoundReadingLeavesNoTrace) {
  const std::string_view items[] = {
      "(a, b c) + 1", "(a, b) as 1", "(a, *b) as t.c", "(a, b,, c).d", "(yield x, y) as t", "(a := 1, b) as t",
      "(print.class).x", "(lambda: (yield)) as f", "(a for a in b) as c", "(*a) as b", "(a, b), c,",
  };
  for (std::string_view item : items) {
    SCOPED_TRACE(std::string(item));
    Parse speculative(with_statement("with " + std::string(item) + ":"));
    Parse plain(with_statement("with y, " + std::string(item) + ":"));
    ASSERT_GE(plain.with().items.size(), 1u);
    EXPECT_EQ(speculative.with().items.size() + 1, plain.with().items.size());
    EXPECT_EQ(speculative.errors(), plain.errors(3));
    EXPECT_EQ(speculative.tokens(), lexer_tokens(speculative.source));
  }
}

// Parentheses nested far too deep after `with`: both readings stop at the
// nesting limit, and the rewind between them keeps the one error.
TEST(WithStatement, DeepParenthesesEndWithOneError) {
  constexpr std::size_t kDepth = 100000;
  for (std::string_view tail : {":", " as t:", ".x:"}) {
    std::string header = "with " + std::string(kDepth, '(') + "a" + std::string(kDepth, ')') + std::string(tail);
    SCOPED_TRACE(std::string(tail));
    auto check = [&] {
      Parse parse(with_statement(header));
      ASSERT_EQ(parse.parsed.errors.size(), 1u);
      EXPECT_EQ(parse.parsed.errors.front().error.display(), kNestingTooDeepMessage);
    };
    check();
    test_support::run_on_thread(256 * 1024, check);
  }
}

// The valid forms against CPython's own parser, ranges included.
TEST(WithStatement, AgreesWithCPython) {
  const std::string_view headers[] = {
      "with a:", "with a as b:", "with a as b, c as d:", "with (a, b):", "with (a as x, b as y):", "with (a, b,):",
      "with (a):", "with (a) as t:", "with (a, b) as t:", "with (a := b):", "with (yield x):", "with (a, *b):",
      "with ():", "with (a,) as t:", "with (open(p) as f, open(q) as g,):", "with ((yield x)):",
      "with ((a := 1) as b):", "with (a, b) as (c, d):", "with (a, b).c as d:", "with (a)(b):",
      "with (a, b), c:", "with (a for a in b):", "with (a) if b else c:", "with (a, b), (c):",
      "with a as (b, *c):", "with a as [b, c]:", "with a as b.c, d as e[0]:", "with (\n    a as b,\n    c,\n):",
      "with f(x) as (a, b), g() as c:", "with (a if b else c) as d:",
      "with (await a) as b:", "with a, (b, c):", "with (a,):", "with (yield):", "with (yield from x) as y:",
  };
  std::vector<std::string> sources;
  for (std::string_view header : headers) sources.push_back(with_statement(header));
  sources.push_back("async def f():\n    async with a as b, (c) as d:\n        pass\n");
  TOLVA_TEST_PYTHON_OR_SKIP(python);
  auto differences = syntax_testing::snippet_differences_from_cpython(*python, sources);
  ASSERT_TRUE(differences.has_value()) << *python << " cannot be run";
  for (const std::string& difference : *differences) ADD_FAILURE() << difference;
}

}  // namespace
}  // namespace python_parser
