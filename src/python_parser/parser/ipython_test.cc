// IPython cells through the parse entries: escape command statements, command
// expressions after `=`, help requests, every error text of the three forms,
// and the same cells as modules.

#include "python_parser/parser/ipython.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "test_support/threads.h"

namespace python_parser {
namespace {

using python_ast::Stmt;
using text_size::TextRange;

// A cell's statements, one per line: a command as Cmd[KIND:TEXT]@RANGE; an
// assignment as its targets' source text, " = " and its value (a command
// value printed as a command); an `if` as If[...] around its body; any other
// statement as its node type and source text.
class Printer {
 public:
  explicit Printer(std::string_view source) : source_(source) {}

  std::string body(std::span<Stmt* const> statements) {
    std::string out;
    for (const Stmt* stmt : statements) {
      if (!out.empty()) out += '\n';
      out += statement(*stmt);
    }
    return out;
  }

 private:
  std::string text(TextRange range) const { return std::string(source_.substr(range.start().raw, range.length())); }

  static std::string command(python_ast::IpyEscapeKind kind, std::string_view value, TextRange range) {
    return "Cmd[" + std::string(python_ast::enum_name(kind)) + ":" + std::string(value) + "]@" + range.debug();
  }

  std::string statement(const Stmt& stmt) {
    if (const auto* cmd = stmt.as<python_ast::StmtIpyEscapeCommand>()) return command(cmd->kind, cmd->value, cmd->range);
    if (const auto* assign = stmt.as<python_ast::StmtAssignment>()) {
      std::string out;
      for (const python_ast::Expr* target : assign->targets) out += text(target->range) + " = ";
      if (const auto* value = assign->value->as<python_ast::ExprIpyEscapeCommand>()) {
        return out + command(value->kind, value->value, value->range);
      }
      return out + text(assign->value->range);
    }
    if (const auto* if_stmt = stmt.as<python_ast::StmtIf>()) {
      return "If[" + Printer(source_).body(if_stmt->body) + "]";
    }
    return std::string(python_ast::AnyNodeRef(stmt).type_name()) + "(" + text(stmt.range) + ")";
  }

  std::string_view source_;
};

std::string errors_of(const std::vector<ParseError>& errors) {
  std::string out;
  for (const ParseError& error : errors) {
    if (!out.empty()) out += "; ";
    out += error.display();
  }
  return out;
}

struct Cell {
  std::string_view source;
  // Mode::Ipython: the statements and every error.
  std::string_view statements;
  std::string_view errors;
  // Mode::Module: parse_module's answer, "ok" or the first error.
  std::string_view module;
};

void expect_cells(const std::vector<Cell>& cells) {
  for (const Cell& cell : cells) {
    SCOPED_TRACE(std::string(cell.source));
    Parsed<python_ast::Mod> parsed = parse_unchecked(cell.source, Mode::Ipython);
    const auto* module = parsed.syntax->as<python_ast::ModModule>();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(Printer(parsed.tree->source()).body(module->body), cell.statements);
    EXPECT_EQ(errors_of(parsed.errors), cell.errors);

    ModuleParseResult as_module = parse_module(cell.source);
    EXPECT_EQ(as_module.has_value() ? std::string("ok") : as_module.error().display(), cell.module);
  }
}

TEST(IpythonCells, CommandStatementsByPrefixAndPosition) {
  expect_cells({
      {"!ls -l\n", "Cmd[Exclamation:ls -l]@0..6", "", "Expected a statement at byte range 0..1"},
      {"!!ls", "Cmd[DoubleExclamation:ls]@0..4", "", "Expected a statement at byte range 0..1"},
      {"%%timeit x\n", "Cmd[DoublePercent:timeit x]@0..10", "", "Expected a statement at byte range 0..1"},
      {"??obj", "Cmd[DoubleQuestion:obj]@0..5", "", "Got unexpected token ? at byte range 0..1"},
      {",f a", "Cmd[Comma:f a]@0..4", "", "Expected a statement at byte range 0..1"},
      {";f a", "Cmd[Semi:f a]@0..4", "", "Expected a statement at byte range 0..1"},
      {"/f a", "Cmd[Slash:f a]@0..4", "", "Expected a statement at byte range 0..1"},
      {"%timeit?", "Cmd[Question:%timeit]@0..8", "", "Expected a statement at byte range 0..1"},
      {"%%time??", "Cmd[DoubleQuestion:%%time]@0..8", "", "Expected a statement at byte range 0..1"},
      {"!ls?", "Cmd[Question:ls]@0..4", "", "Expected a statement at byte range 0..1"},
      {"%foo ?", "Cmd[Percent:foo ?]@0..6", "", "Expected a statement at byte range 0..1"},
      {"%foo?" "??", "Cmd[Percent:foo???]@0..7", "", "Expected a statement at byte range 0..1"},
      {"!ls \\\n  -l\n", "Cmd[Exclamation:ls   -l]@0..10", "", "Expected a statement at byte range 0..1"},
      // In a block, and among other statements.
      {"if x:\n    !ls\n    y = 1\n", "If[Cmd[Exclamation:ls]@10..13\ny = 1]", "",
       "Expected a statement at byte range 10..11"},
      {"x = 1\n%pwd\n", "x = 1\nCmd[Percent:pwd]@6..10", "", "Expected a statement at byte range 6..7"},
  });
}

TEST(IpythonCells, CommandExpressionsAfterAssign) {
  expect_cells({
      {"x = !pwd\n", "x = Cmd[Exclamation:pwd]@4..8", "", "Expected an expression at byte range 4..5"},
      {"x = y = %env HOME", "x = y = Cmd[Percent:env HOME]@8..17", "", "Expected an expression at byte range 8..9"},
      {"x = !!ls", "x = Cmd[Exclamation:!ls]@4..8", "", "Expected an expression at byte range 4..5"},
      // A help kind cannot stand as a value.
      {"x = %foo?", "x = Cmd[Question:%foo]@4..9",
       "IPython escape command expression is only allowed for % and ! at byte range 4..9",
       "Expected an expression at byte range 4..5"},
      // Not right after `=`: no command.
      {"x = y !z", "x = y\nStmtExpression(z)", "Expected a statement at byte range 6..7",
       "Expected a statement at byte range 6..7"},
  });
}

TEST(IpythonCells, HelpRequests) {
  expect_cells({
      {"foo?", "Cmd[Question:foo]@0..4", "", "Got unexpected token ? at byte range 3..4"},
      {"a.b[0]?", "Cmd[Question:a.b[0]]@0..7", "", "Got unexpected token ? at byte range 6..7"},
      {"a.b[0x10]??\n", "Cmd[DoubleQuestion:a.b[16]]@0..11", "", "Got unexpected token ? at byte range 9..10"},
      {"a.match.type?", "Cmd[Question:a.match.type]@0..13", "", "Got unexpected token ? at byte range 12..13"},
      // The statement begins at the expression, inside the parentheses.
      {"(a)?", "Cmd[Question:a]@1..4",
       "Help end escape command cannot be applied on a parenthesized expression at byte range 3..4",
       "Got unexpected token ? at byte range 3..4"},
      // The third `?` is left to the statement list, which skips it.
      {"a?" "??", "Cmd[DoubleQuestion:a]@0..3",
       "Maximum of 2 `?` tokens are allowed in help end escape command at byte range 3..4; "
       "Expected a statement at byte range 4..4",
       "Got unexpected token ? at byte range 1..2"},
      {"a[b]?", "Cmd[Question:a[b]]@0..5",
       "Only integer literals are allowed in subscript expressions in help end escape command at byte range 2..3",
       "Got unexpected token ? at byte range 4..5"},
      {"a[-1][2][c:d]?", "Cmd[Question:a[-1][2][c:d]]@0..14",
       "Only integer literals are allowed in subscript expressions in help end escape command at byte range 2..4; "
       "Only integer literals are allowed in subscript expressions in help end escape command at byte range 9..12",
       "Got unexpected token ? at byte range 13..14"},
      {"f()?", "Cmd[Question:]@0..4",
       "Expected name, subscript or attribute expression in help end escape command at byte range 0..3",
       "Got unexpected token ? at byte range 3..4"},
      {"1?", "Cmd[Question:]@0..2",
       "Expected name, subscript or attribute expression in help end escape command at byte range 0..1",
       "Got unexpected token ? at byte range 1..2"},
      // The chain is kept after a target that has no source form.
      {"f().x[1]?", "Cmd[Question:.x[1]]@0..9",
       "Expected name, subscript or attribute expression in help end escape command at byte range 0..3",
       "Got unexpected token ? at byte range 8..9"},
      // `?` after anything but an expression statement is no help request.
      {"x = a?", "x = a", "Expected a statement at byte range 5..6; Expected a statement at byte range 6..6",
       "Got unexpected token ? at byte range 5..6"},
  });
}

TEST(ParseEntry, TakesTheMode) {
  struct Case {
    std::string_view source;
    Mode mode;
    std::string answer;
  };
  const Case cases[] = {
      {"!ls\nx = %pwd\nobj?\n", Mode::Ipython, "ok"},
      {"x = 1\n", Mode::Module, "ok"},
      {"!ls\n", Mode::Module, "Expected a statement at byte range 0..1"},
      {"(a)?\n", Mode::Ipython,
       "Help end escape command cannot be applied on a parenthesized expression at byte range 3..4"},
      {"1 + 2", Mode::Expression, "ok"},
      {"1 2", Mode::Expression, "Unexpected token at the end of an expression at byte range 2..3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    ParseResult<python_ast::Mod> result = parse(c.source, c.mode);
    EXPECT_EQ(result.has_value() ? std::string("ok") : result.error().display(), c.answer);
    if (!result.has_value()) continue;
    const bool statements = c.mode == Mode::Module || c.mode == Mode::Ipython;
    EXPECT_EQ(result.value().syntax->as<python_ast::ModModule>() != nullptr, statements);
  }
}

TEST(IpythonCells, LongHelpTargetsNeedNoStack) {
  // A help target of a million attributes and subscripts, unparsed on a
  // thread with a small stack.
  std::string source = "a";
  std::string expected = "a";
  for (int i = 0; i < 500'000; ++i) {
    source += ".b[1]";
    expected += ".b[1]";
  }
  source += "?";
  test_support::run_on_thread(256 * 1024, [&] {
    ParseResult<python_ast::Mod> result = parse(source, Mode::Ipython);
    ASSERT_TRUE(result.has_value()) << result.error().display();
    const auto& body = result.value().syntax->as<python_ast::ModModule>()->body;
    ASSERT_EQ(body.size(), 1u);
    const auto* help = body[0]->as<python_ast::StmtIpyEscapeCommand>();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->value, expected);
  });
}

}  // namespace
}  // namespace python_parser
