#include "python_parser/parse.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "python_parser/parser/depth_guard.h"
#include "test_support/text.h"
#include "test_support/threads.h"

namespace python_parser {
namespace {

using python_ast::TokenKind;
using text_size::TextRange;

ParseError parser_error(std::string text, TextRange range) {
  return ParseError{ParseErrorType::other(std::move(text)), range};
}
LexicalError lexical_error(std::string text, TextRange range) {
  return LexicalError{LexicalErrorType::other(std::move(text)), range};
}

std::vector<std::string> shown(const std::vector<ParseError>& errors) {
  std::vector<std::string> texts;
  for (const ParseError& error : errors) {
    texts.push_back((error.error.kind() == ParseErrorType::Lexical ? "L:" : "P:") + error.display());
  }
  return texts;
}

TEST(MergeErrors, OnePassByStartOffsetTheLexerWinningTies) {
  struct Case {
    std::string_view name;
    std::vector<ParseError> parser;
    std::vector<LexicalError> lexer;
    std::vector<std::string> merged;
  };
  const Case cases[] = {
      {"no lexical errors: the parser's list unchanged, out of order included",
       {parser_error("p5", {5, 6}), parser_error("p2", {2, 3})},
       {},
       {"P:p5 at byte range 5..6", "P:p2 at byte range 2..3"}},
      {"no parser errors", {}, {lexical_error("l1", {1, 1})}, {"L:l1 at byte range 1..1"}},
      {"interleaved by start",
       {parser_error("p1", {1, 2}), parser_error("p7", {7, 8})},
       {lexical_error("l4", {4, 9})},
       {"P:p1 at byte range 1..2", "L:l4 at byte range 4..9", "P:p7 at byte range 7..8"}},
      {"a tie keeps only the lexical error",
       {parser_error("p3", {3, 4})},
       {lexical_error("l3", {3, 7})},
       {"L:l3 at byte range 3..7"}},
      {"no sorting: a smaller lexical start goes before the parser's whole out-of-order run",
       {parser_error("p5", {5, 6}), parser_error("p2", {2, 3})},
       {lexical_error("l3", {3, 4})},
       {"L:l3 at byte range 3..4", "P:p5 at byte range 5..6", "P:p2 at byte range 2..3"}},
      {"the parser's rest comes before the lexer's rest",
       {parser_error("p1", {1, 2}), parser_error("p9", {9, 9})},
       {lexical_error("l8", {8, 8}), lexical_error("l6", {6, 6})},
       {"P:p1 at byte range 1..2", "L:l8 at byte range 8..8", "L:l6 at byte range 6..6", "P:p9 at byte range 9..9"}},
      {"ties at several offsets",
       {parser_error("p2", {2, 3}), parser_error("p4", {4, 5})},
       {lexical_error("l2", {2, 2}), lexical_error("l4", {4, 4})},
       {"L:l2 at byte range 2..2", "L:l4 at byte range 4..4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(shown(merge_errors(c.parser, c.lexer)), c.merged);
  }
}

// ---- The entry ----

using test_support::repeat;

using test_support::run_on_thread;

TEST(ParseModule, EmptyTextIsAnEmptyModule) {
  ModuleParseResult result = parse_module("");
  ASSERT_TRUE(result.has_value());
  const Parsed<python_ast::ModModule>& parsed = result.value();
  EXPECT_TRUE(parsed.syntax->body.empty());
  EXPECT_EQ(parsed.syntax->range, TextRange(0, 0));
  EXPECT_TRUE(parsed.tokens.empty());
  EXPECT_TRUE(parsed.errors.empty());
}

TEST(ParseModule, CommentsAndBlankLinesOnly) {
  ModuleParseResult result = parse_module("# a\n\n# b\n");
  ASSERT_TRUE(result.has_value());
  const Parsed<python_ast::ModModule>& parsed = result.value();
  EXPECT_TRUE(parsed.syntax->body.empty());
  EXPECT_EQ(parsed.syntax->range, TextRange(0, 9));
  std::vector<TokenKind> kinds;
  for (const python_ast::Token& token : parsed.tokens) kinds.push_back(token.kind);
  EXPECT_EQ(kinds, (std::vector<TokenKind>{TokenKind::Comment, TokenKind::NonLogicalNewline,
                                           TokenKind::NonLogicalNewline, TokenKind::Comment,
                                           TokenKind::NonLogicalNewline}));
}

TEST(ParseModule, SucceedsOnlyWithoutAnyError) {
  struct Case {
    std::string_view text;
    bool ok;
  };
  const Case cases[] = {
      {"x = 1\n", true},
      {"match x:\n    case 1:\n        pass\n", true},
      // Newer syntax is only recorded as version-gated, never an error.
      {"def f[T](): pass\n", true},
      {"x = (", false},
      {"x = $\n", false},
      {"def f(:\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    ModuleParseResult result = parse_module(c.text);
    EXPECT_EQ(result.has_value(), c.ok);
  }
}

TEST(ParseModule, FailureIsTheFirstMergedError) {
  ModuleParseResult result = parse_module("x = (");
  ASSERT_FALSE(result.has_value());
  // The lexer's unexpected end of file and the parser's missing expression
  // start at the same offset: the lexical error is the one kept.
  EXPECT_EQ(result.error().display(), "unexpected EOF while parsing at byte range 5..5");
  EXPECT_EQ(result.error().error.kind(), ParseErrorType::Lexical);
}

TEST(ParseModule, TakingTheTextAnswersTheSame) {
  for (std::string_view text : {"x = 1\n", "def f(a, *b): return a\n", "x = (", "def f(:\n"}) {
    SCOPED_TRACE(std::string(text));
    const ModuleParseResult copied = parse_module(text);
    const ModuleParseResult taken = parse_module_text(std::string(text));
    ASSERT_EQ(taken.has_value(), copied.has_value());
    if (!taken.has_value()) {
      EXPECT_EQ(taken.error().display(), copied.error().display());
      continue;
    }
    EXPECT_EQ(taken.value().tree->source(), text);
    EXPECT_EQ(taken.value().tokens.size(), copied.value().tokens.size());
    EXPECT_EQ(taken.value().tree->module().body.size(), copied.value().tree->module().body.size());
  }
}

// The checked parse stops once its first error is settled; each case reaches
// one way of settling it, or of not settling yet, and is also read with a
// long run of junk after it, which the stop must not let change the answer.
TEST(ParseModule, StopsOnlyOnceTheFirstErrorIsSettled) {
  const struct {
    std::string_view text;
    std::string_view first_error;
  } cases[] = {
      // Both lists have a first error: the lexer's wins a tie.
      {"$", "Got unexpected token $ at byte range 0..1"},
      {"x = (1 +\n$\n", "Got unexpected token $ at byte range 9..10"},
      // The parser's starts first, before any lexical error.
      {"def f(:\n  $\n", "Expected a parameter or the end of the parameter list at byte range 6..7"},
      {"a = 1 2 '\n", "Simple statements must be separated by newlines or semicolons at byte range 6..7"},
      // The parser's, where the lexer has none yet and has read past it.
      {")", "Expected a statement at byte range 0..1"},
      // The parser's error inside a bracket, after which the newline is
      // lexed again as a logical one.
      {"x = [1,\n  def\n", "Expected `]`, found newline at byte range 7..8"},
      // Errors of readings that are undone, and of readings that are kept.
      {"with (a $ b) as c:\n  pass\n", "Got unexpected token $ at byte range 8..9"},
      {"with (a, b $):\n  pass\n", "Got unexpected token $ at byte range 11..12"},
      {"with (a as b, c d):\n  pass\n", "Expected `,`, found name at byte range 16..17"},
      {"with (a as b, $", "Got unexpected token $ at byte range 14..15"},
      {"match x $:\n  case 1: pass\n", "Got unexpected token $ at byte range 8..9"},
      {"match (x:\n  case 1: pass\n", "Expected `,`, found `:` at byte range 8..9"},
      {"match x, y\n", "Expected `:`, found newline at byte range 10..11"},
      // The lexer's unclosed-string error that the format spec's re-lexing
      // drops.
      {"f'{x:{r'}'}'\n", "f-string: expecting `}` at byte range 11..12"},
      // An indentation error at the position of a later parser error.
      {"if x:\n    y\n  z $\n", "unindent does not match any outer indentation level at byte range 14..14"},
  };
  for (const auto& c : cases) {
    for (std::string text : {std::string(c.text), std::string(c.text) + std::string(20000, '$')}) {
      SCOPED_TRACE(text.substr(0, 40));
      const Parsed<python_ast::Mod> full = parse_unchecked(text, Mode::Module);
      ASSERT_FALSE(full.errors.empty());
      EXPECT_EQ(full.errors.front().display(), c.first_error);
      const ModuleParseResult checked = parse_module_text(text);
      ASSERT_FALSE(checked.has_value());
      EXPECT_EQ(checked.error(), full.errors.front());
    }
  }
}

TEST(CheckedError, IsTheFirstErrorOfTheFullParseInEveryMode) {
  const struct {
    std::string_view text;
    Mode mode;
  } cases[] = {
      {"x = 1\n", Mode::Module},
      {"x = (", Mode::Module},
      {"!ls\nx = 1\n", Mode::Ipython},
      {"def f(:\n", Mode::Ipython},
      {"a + b", Mode::Expression},
      {"a +", Mode::Expression},
      {"(a\n+ b)", Mode::ParenthesizedExpression},
      {"a b", Mode::ParenthesizedExpression},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const Parsed<python_ast::Mod> full = parse_unchecked(c.text, c.mode);
    const std::optional<ParseError> error = checked_error(c.text, c.mode);
    ASSERT_EQ(error.has_value(), !full.errors.empty());
    if (error) {
      EXPECT_EQ(*error, full.errors.front());
    }
  }
}

TEST(ParseUnchecked, ExpressionModes) {
  struct Case {
    std::string_view text;
    Mode mode;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"1 + 2", Mode::Expression, {}},
      {"1 + 2\n", Mode::Expression, {}},
      {"1 2 3", Mode::Expression, {"Unexpected token at the end of an expression at byte range 2..3"}},
      {"a,\nb", Mode::ParenthesizedExpression, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    Parsed<python_ast::Mod> parsed = parse_unchecked(c.text, c.mode);
    ASSERT_NE(parsed.syntax, nullptr);
    const auto* expression = parsed.syntax->as<python_ast::ModExpression>();
    ASSERT_NE(expression, nullptr);
    EXPECT_NE(expression->body, nullptr);
    EXPECT_EQ(expression->range.end().raw, c.text.size());
    std::vector<std::string> texts;
    for (const ParseError& error : parsed.errors) texts.push_back(error.display());
    EXPECT_EQ(texts, c.errors);
    EXPECT_FALSE(try_into_module(std::move(parsed)).has_value());
  }
}

TEST(ParseUnchecked, ModuleModeIsAModule) {
  Parsed<python_ast::Mod> parsed = parse_unchecked("a\nb\n", Mode::Module);
  std::optional<Parsed<python_ast::ModModule>> module = try_into_module(std::move(parsed));
  ASSERT_TRUE(module.has_value());
  EXPECT_EQ(module->syntax->body.size(), 2u);
  EXPECT_EQ(module->syntax->range, TextRange(0, 4));
}

// Deep nesting records one error and never crashes, on the main thread and
// on a thread with a small stack.
void expect_nesting_error(std::string_view text, Mode mode, std::size_t merged_errors) {
  Parsed<python_ast::Mod> parsed = parse_unchecked(text, mode);
  ASSERT_EQ(parsed.errors.size(), merged_errors);
  EXPECT_EQ(parsed.errors[0].error.display(), kNestingTooDeepMessage);
}

TEST(ParseUnchecked, DeepNesting) {
  struct Case {
    std::string name;
    std::string text;
    Mode mode;
    std::size_t merged_errors;  // the nesting error, and the lexer's end-of-file error for open brackets
  };
  const std::vector<Case> cases = {
      {"open brackets", repeat("(", 100'000), Mode::Expression, 2},
      {"balanced brackets", repeat("(", 100'000) + "1" + repeat(")", 100'000), Mode::Expression, 1},
      {"lists in a module", "x = " + repeat("[", 100'000) + repeat("]", 100'000) + "\n", Mode::Module, 1},
      {"unary chain", repeat("-", 100'000) + "1\n", Mode::Module, 1},
      {"not chain", repeat("not ", 100'000) + "x\n", Mode::Module, 1},
      {"power chain", repeat("2 ** ", 100'000) + "2\n", Mode::Module, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_nesting_error(c.text, c.mode, c.merged_errors);
    run_on_thread(256 * 1024, [&] { expect_nesting_error(c.text, c.mode, c.merged_errors); });
  }
}

TEST(ParseUnchecked, RealNestingParses) {
  // CPython's own limits: 200 nested brackets and 100 nested blocks.
  std::string blocks;
  for (int i = 0; i < 100; ++i) blocks += repeat(" ", i) + "if x:\n";
  blocks += repeat(" ", 100) + "pass\n";
  for (const std::string& text : {"x = " + repeat("(", 200) + "1" + repeat(")", 200) + "\n", blocks}) {
    EXPECT_TRUE(parse_module(text).has_value());
  }
}

}  // namespace
}  // namespace python_parser
