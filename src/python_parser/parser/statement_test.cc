#include "python_parser/parser/statement.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "python_parser/parse.h"
#include "python_ast/walk.h"
#include "python_parser/parser/depth_guard.h"
#include "test_support/text.h"
#include "test_support/threads.h"

// The tree tests print a module's statements as compact S-expressions:
//
//   statements   one per line
//   blocks       [s1; s2]
//   expressions  names as their text, targets with their context
//                (`x@Store`, `y@Del`, the invented name `<>@Invalid`);
//                tuples, lists, starred expressions, attributes and
//                subscripts as (tuple ...), (ptuple ...) when parenthesized,
//                (list ...), (* e), (. e attr), ([] e slice), each with its
//                context; any other expression as its source text in
//                backquotes.
//
// The statement forms are those of `Printer::stmt` below.

namespace python_parser {
namespace {

using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::Stmt;
using python_ast::StmtKind;
using text_size::TextRange;

std::string_view ctx_suffix(ExpressionContext ctx) {
  switch (ctx) {
    case ExpressionContext::Load:
      return "";
    case ExpressionContext::Store:
      return "@Store";
    case ExpressionContext::Del:
      return "@Del";
    case ExpressionContext::Invalid:
      return "@Invalid";
  }
  return "@?";
}

class Printer {
 public:
  explicit Printer(std::string_view source) : source_(source) {}

  std::string module(const python_ast::ModModule& module) {
    for (std::size_t i = 0; i < module.body.size(); ++i) {
      if (i != 0) out_ += '\n';
      stmt(module.body[i]);
    }
    return out_;
  }

 private:
  std::string_view text(TextRange range) const { return source_.substr(range.start().raw, range.length()); }

  void expr(const Expr* e) {
    if (e == nullptr) {
      out_ += "<null>";
      return;
    }
    switch (e->kind()) {
      case python_ast::ExprKind::Name: {
        const auto& name = e->cast<python_ast::ExprName>();
        out_ += name.id.empty() ? std::string_view("<>") : name.id.as_str();
        out_ += ctx_suffix(name.ctx);
        return;
      }
      case python_ast::ExprKind::Tuple: {
        const auto& tuple = e->cast<python_ast::ExprTuple>();
        out_ += tuple.parenthesized ? "(ptuple" : "(tuple";
        exprs(tuple.elements);
        out_ += ')';
        out_ += ctx_suffix(tuple.ctx);
        return;
      }
      case python_ast::ExprKind::List: {
        const auto& list = e->cast<python_ast::ExprList>();
        out_ += "(list";
        exprs(list.elements);
        out_ += ')';
        out_ += ctx_suffix(list.ctx);
        return;
      }
      case python_ast::ExprKind::Starred: {
        const auto& starred = e->cast<python_ast::ExprStarred>();
        out_ += "(* ";
        expr(starred.value);
        out_ += ')';
        out_ += ctx_suffix(starred.ctx);
        return;
      }
      case python_ast::ExprKind::Attribute: {
        const auto& attribute = e->cast<python_ast::ExprAttribute>();
        out_ += "(. ";
        expr(attribute.value);
        out_ += ' ';
        out_ += attribute.attribute.id.as_str();
        out_ += ')';
        out_ += ctx_suffix(attribute.ctx);
        return;
      }
      case python_ast::ExprKind::Subscript: {
        const auto& subscript = e->cast<python_ast::ExprSubscript>();
        out_ += "([] ";
        expr(subscript.value);
        out_ += ' ';
        expr(subscript.slice);
        out_ += ')';
        out_ += ctx_suffix(subscript.ctx);
        return;
      }
      default:
        out_ += '`';
        out_ += text(e->range);
        out_ += '`';
        return;
    }
  }

  void exprs(std::span<Expr* const> list) {
    for (const Expr* e : list) {
      out_ += ' ';
      expr(e);
    }
  }

  void body(std::span<Stmt* const> statements) {
    out_ += '[';
    for (std::size_t i = 0; i < statements.size(); ++i) {
      if (i != 0) out_ += "; ";
      stmt(statements[i]);
    }
    out_ += ']';
  }

  void identifier(const python_ast::Identifier& id) {
    out_ += id.id.empty() ? std::string_view("<>") : id.as_str();
  }

  void aliases(std::span<const python_ast::Alias> names) {
    for (const python_ast::Alias& alias : names) {
      out_ += ' ';
      identifier(alias.name);
      if (alias.as_name) {
        out_ += " as ";
        identifier(*alias.as_name);
      }
    }
  }

  void decorators(std::span<const python_ast::Decorator> list) {
    for (const python_ast::Decorator& decorator : list) {
      out_ += "(@ ";
      expr(decorator.expression);
      out_ += ") ";
    }
  }

  void stmt(const Stmt* s) {
    switch (s->kind()) {
      case StmtKind::Expression:
        out_ += "(expr ";
        expr(s->cast<python_ast::StmtExpression>().value);
        out_ += ')';
        return;
      case StmtKind::Assignment: {
        const auto& n = s->cast<python_ast::StmtAssignment>();
        out_ += "(assign";
        exprs(n.targets);
        out_ += " = ";
        expr(n.value);
        out_ += ')';
        return;
      }
      case StmtKind::AugmentedAssignment: {
        const auto& n = s->cast<python_ast::StmtAugmentedAssignment>();
        out_ += "(augassign ";
        out_ += python_ast::as_str(n.op);
        out_ += ' ';
        expr(n.target);
        out_ += ' ';
        expr(n.value);
        out_ += ')';
        return;
      }
      case StmtKind::AnnotatedAssignment: {
        const auto& n = s->cast<python_ast::StmtAnnotatedAssignment>();
        out_ += "(annassign ";
        expr(n.target);
        out_ += ' ';
        expr(n.annotation);
        if (n.value != nullptr) {
          out_ += " = ";
          expr(n.value);
        }
        out_ += n.simple ? " simple)" : ")";
        return;
      }
      case StmtKind::Return: {
        const auto& n = s->cast<python_ast::StmtReturn>();
        out_ += "(return";
        if (n.value != nullptr) {
          out_ += ' ';
          expr(n.value);
        }
        out_ += ')';
        return;
      }
      case StmtKind::Raise: {
        const auto& n = s->cast<python_ast::StmtRaise>();
        out_ += "(raise";
        if (n.exception != nullptr) {
          out_ += ' ';
          expr(n.exception);
        }
        if (n.cause != nullptr) {
          out_ += " from ";
          expr(n.cause);
        }
        out_ += ')';
        return;
      }
      case StmtKind::Delete:
        out_ += "(del";
        exprs(s->cast<python_ast::StmtDelete>().targets);
        out_ += ')';
        return;
      case StmtKind::Pass:
        out_ += "pass";
        return;
      case StmtKind::Break:
        out_ += "break";
        return;
      case StmtKind::Continue:
        out_ += "continue";
        return;
      case StmtKind::Import:
        out_ += "(import";
        aliases(s->cast<python_ast::StmtImport>().names);
        out_ += ')';
        return;
      case StmtKind::FromImport: {
        const auto& n = s->cast<python_ast::StmtFromImport>();
        out_ += "(from ";
        out_ += std::to_string(n.level);
        out_ += ' ';
        if (n.module) {
          identifier(*n.module);
        } else {
          out_ += "<none>";
        }
        out_ += " import";
        aliases(n.names);
        out_ += ')';
        return;
      }
      case StmtKind::Global:
      case StmtKind::Nonlocal: {
        bool global = s->kind() == StmtKind::Global;
        std::span<const python_ast::Identifier> names =
            global ? s->cast<python_ast::StmtGlobal>().names : s->cast<python_ast::StmtNonlocal>().names;
        out_ += global ? "(global" : "(nonlocal";
        for (const python_ast::Identifier& name : names) {
          out_ += ' ';
          identifier(name);
        }
        out_ += ')';
        return;
      }
      case StmtKind::Assert: {
        const auto& n = s->cast<python_ast::StmtAssert>();
        out_ += "(assert ";
        expr(n.test);
        if (n.message != nullptr) {
          out_ += ", ";
          expr(n.message);
        }
        out_ += ')';
        return;
      }
      case StmtKind::TypeAlias: {
        const auto& n = s->cast<python_ast::StmtTypeAlias>();
        out_ += "(type ";
        expr(n.name);
        if (n.type_params != nullptr) {
          out_ += ' ';
          out_ += text(n.type_params->range);
        }
        out_ += " = ";
        expr(n.value);
        out_ += ')';
        return;
      }
      case StmtKind::If: {
        const auto& n = s->cast<python_ast::StmtIf>();
        out_ += "(if ";
        expr(n.test);
        out_ += ' ';
        body(n.body);
        for (const python_ast::ElifElseClause& clause : n.elif_else_clauses) {
          if (clause.test != nullptr) {
            out_ += " (elif ";
            expr(clause.test);
            out_ += ' ';
          } else {
            out_ += " (else ";
          }
          body(clause.body);
          out_ += ')';
        }
        out_ += ')';
        return;
      }
      case StmtKind::While: {
        const auto& n = s->cast<python_ast::StmtWhile>();
        out_ += "(while ";
        expr(n.test);
        out_ += ' ';
        body(n.body);
        if (!n.else_body.empty()) {
          out_ += " else ";
          body(n.else_body);
        }
        out_ += ')';
        return;
      }
      case StmtKind::For: {
        const auto& n = s->cast<python_ast::StmtFor>();
        out_ += n.is_async ? "(async-for " : "(for ";
        expr(n.target);
        out_ += " in ";
        expr(n.iter);
        out_ += ' ';
        body(n.body);
        if (!n.else_body.empty()) {
          out_ += " else ";
          body(n.else_body);
        }
        out_ += ')';
        return;
      }
      case StmtKind::Try: {
        const auto& n = s->cast<python_ast::StmtTry>();
        out_ += n.is_star ? "(try* " : "(try ";
        body(n.body);
        for (const python_ast::ExceptHandler* handler : n.handlers) {
          const auto& h = handler->cast<python_ast::ExceptHandlerExceptHandler>();
          out_ += " (except";
          if (h.type != nullptr) {
            out_ += ' ';
            expr(h.type);
          }
          if (h.name) {
            out_ += " as ";
            identifier(*h.name);
          }
          out_ += ' ';
          body(h.body);
          out_ += ')';
        }
        if (!n.else_body.empty()) {
          out_ += " else ";
          body(n.else_body);
        }
        if (!n.finally_body.empty()) {
          out_ += " finally ";
          body(n.finally_body);
        }
        out_ += ')';
        return;
      }
      case StmtKind::FunctionDefinition: {
        const auto& n = s->cast<python_ast::StmtFunctionDefinition>();
        out_ += n.is_async ? "(async-def " : "(def ";
        decorators(n.decorators);
        identifier(n.name);
        if (n.type_params != nullptr) out_ += text(n.type_params->range);
        out_ += text(n.parameters->range);
        if (n.returns != nullptr) {
          out_ += " -> ";
          expr(n.returns);
        }
        out_ += ' ';
        body(n.body);
        out_ += ')';
        return;
      }
      case StmtKind::ClassDefinition: {
        const auto& n = s->cast<python_ast::StmtClassDefinition>();
        out_ += "(class ";
        decorators(n.decorators);
        identifier(n.name);
        if (n.type_params != nullptr) out_ += text(n.type_params->range);
        if (n.arguments != nullptr) out_ += text(n.arguments->range);
        out_ += ' ';
        body(n.body);
        out_ += ')';
        return;
      }
      case StmtKind::With: {
        const auto& n = s->cast<python_ast::StmtWith>();
        out_ += n.is_async ? "(async-with" : "(with";
        for (const python_ast::WithItem& item : n.items) {
          out_ += ' ';
          expr(item.context_expression);
          if (item.target != nullptr) {
            out_ += " as ";
            expr(item.target);
          }
        }
        out_ += ' ';
        body(n.body);
        out_ += ')';
        return;
      }
      case StmtKind::Match: {
        const auto& n = s->cast<python_ast::StmtMatch>();
        out_ += "(match ";
        expr(n.subject);
        for (const python_ast::MatchCase& match_case : n.cases) {
          out_ += " (case ";
          out_ += text(match_case.pattern->range);
          out_ += ' ';
          body(match_case.body);
          out_ += ')';
        }
        out_ += ')';
        return;
      }
      case StmtKind::IpyEscapeCommand:
        out_ += "(escape)";
        return;
    }
  }

  std::string_view source_;
  std::string out_;
};

Parsed<python_ast::ModModule> parse(std::string_view source) {
  std::optional<Parsed<python_ast::ModModule>> parsed = try_into_module(parse_unchecked(source, Mode::Module));
  if (!parsed) throw std::logic_error("a module parse gives a module");
  return std::move(*parsed);
}

std::string tree_of(const Parsed<python_ast::ModModule>& parsed) {
  return Printer(parsed.tree->source()).module(*parsed.syntax);
}

std::vector<std::string> errors_of(const Parsed<python_ast::ModModule>& parsed) {
  std::vector<std::string> texts;
  for (const ParseError& error : parsed.errors) texts.push_back(error.display());
  return texts;
}

// A source, the tree it gives and every error of the merged list, in order.
struct TreeCase {
  std::string_view source;
  std::string_view tree;
  std::vector<std::string> errors;
};

void expect_trees(std::span<const TreeCase> cases) {
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parsed<python_ast::ModModule> parsed = parse(c.source);
    EXPECT_EQ(tree_of(parsed), c.tree);
    EXPECT_EQ(errors_of(parsed), c.errors);
  }
}

// A source and the first error of the merged list (its display text), or ""
// when the parse is clean.
struct FirstErrorCase {
  std::string_view source;
  std::string_view first_error;
};

void expect_first_errors(std::span<const FirstErrorCase> cases) {
  for (const FirstErrorCase& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parsed<python_ast::ModModule> parsed = parse(c.source);
    std::string first = parsed.errors.empty() ? std::string() : parsed.errors.front().display();
    EXPECT_EQ(first, c.first_error);
  }
}

using test_support::repeat;

// ---- Statement ends ----

TEST(Statement, SeparatorsBetweenSimpleStatements) {
  const TreeCase cases[] = {
      {"x = 1\ny = 2\n", "(assign x@Store = `1`)\n(assign y@Store = `2`)", {}},
      {"x = 1; y = 2;\n", "(assign x@Store = `1`)\n(assign y@Store = `2`)", {}},
      {"x = 1 y = 2\n",
       "(assign x@Store = `1`)\n(assign y@Store = `2`)",
       {"Simple statements must be separated by newlines or semicolons at byte range 6..7"}},
      {"pass return\n", "pass\n(return)",
       {"Simple statements must be separated by newlines or semicolons at byte range 5..11"}},
      {"x = 1; if y: pass\n",
       "(assign x@Store = `1`)\n(if y [pass])",
       {"Compound statements are not allowed on the same line as simple statements at byte range 7..9"}},
      {"pass class C: pass\n", "pass\n(class C [pass])",
       {"Compound statements are not allowed on the same line as simple statements at byte range 5..10"}},
      // The last line needs no line break.
      {"x", "(expr x)", {}},
      {"x;", "(expr x)", {}},
      // A `;` with no statement after it: the statement list reports it and
      // then the newline it leaves behind.
      {"x;;\n", "(expr x)", {"Expected a statement at byte range 2..3", "Expected a statement at byte range 3..4"}},
  };
  expect_trees(cases);
}

TEST(Statement, MatchAfterSemicolonIsAStatementOnlyWhenItReadsAsOne) {
  const TreeCase cases[] = {
      // `match` is a soft keyword: these are valid simple statements.
      {"x; match = 1\n", "(expr x)\n(assign match@Store = `1`)", {}},
      {"x; match.y\n", "(expr x)\n(expr (. match y))", {}},
      {"x; match(a)\n", "(expr x)\n(expr `match(a)`)", {}},
      {"x; match[a] = 1\n", "(expr x)\n(assign ([] match a)@Store = `1`)", {}},
      // A match statement cannot follow a simple statement on its line.
      {"x; match y:\n    case 1: pass\n",
       "(expr x)\n(match y (case 1 [pass]))",
       {"Compound statements are not allowed on the same line as simple statements at byte range 3..8"}},
      {"x; match (y):\n    case 1: pass\n",
       "(expr x)\n(match y (case 1 [pass]))",
       {"Compound statements are not allowed on the same line as simple statements at byte range 3..8"}},
  };
  expect_trees(cases);
}

TEST(Statement, ATokenNoStatementCanUseIsSkipped) {
  // `**` starts an expression but no operand: the statement list and a
  // clause's line must move past it, not stall.
  for (std::string_view source : {"**x\n", "if y: **x\n", "if y: pass; **x\n", "**\n**\n"}) {
    SCOPED_TRACE(std::string(source));
    Parsed<python_ast::ModModule> parsed = parse(source);
    ASSERT_FALSE(parsed.errors.empty());
    EXPECT_EQ(parsed.errors.front().error.display(), "Expected an expression");
  }
}

// ---- `match` as a soft keyword ----

TEST(Statement, MatchIsAStatementOrAName) {
  const TreeCase cases[] = {
      {"match = 1\n", "(assign match@Store = `1`)", {}},
      {"match.x\n", "(expr (. match x))", {}},
      {"match[0] = 2\n", "(assign ([] match `0`)@Store = `2`)", {}},
      {"match(a)\n", "(expr `match(a)`)", {}},
      {"match(a).b = 1\n", "(assign (. `match(a)` b)@Store = `1`)", {}},
      {"match, x = 1, 2\n", "(assign (tuple match@Store x@Store)@Store = (tuple `1` `2`))", {}},
      {"match not in x\n", "(expr `match not in x`)", {}},
      {"match -x\n", "(expr `match -x`)", {}},
      {"match * x\n", "(expr `match * x`)", {}},
      {"match: int = 1\n", "(annassign match@Store int = `1` simple)", {}},
      {"match\n", "(expr match)", {}},
      {"match x:\n    case 1:\n        pass\n", "(match x (case 1 [pass]))", {}},
      {"match not x:\n    case 1: pass\n", "(match `not x` (case 1 [pass]))", {}},
      {"match (a, b):\n    case 1: pass\n", "(match (ptuple a b) (case 1 [pass]))", {}},
      {"match [a]:\n    case 1: pass\n", "(match (list a) (case 1 [pass]))", {}},
      {"match -x:\n    case 1: pass\n", "(match `-x` (case 1 [pass]))", {}},
      {"match *a, b:\n    case 1: pass\n", "(match (tuple (* a) b) (case 1 [pass]))", {}},
      {"match match:\n    case case: pass\n", "(match match (case case [pass]))", {}},
      // The `:` forgotten before an indented case block.
      {"match (x)\n    case 1: pass\n", "(match x (case 1 [pass]))",
       {"Expected `:`, found newline at byte range 9..10"}},
      // Without a case block after it, `match(x)` is a call.
      {"match (x)\n", "(expr `match (x)`)", {}},
      {"match(x)\nif y: pass\n", "(expr `match(x)`)\n(if y [pass])", {}},
  };
  expect_trees(cases);
}

TEST(Statement, AFailedMatchTrialLeavesNoTrace) {
  // The trial parse of `match [a b]` as a subject records the missing comma
  // of a list; after the rewind the statement is a subscript, whose slice
  // reports the missing `:` instead, and only that error remains.
  Parsed<python_ast::ModModule> parsed = parse("match [a b]\n");
  EXPECT_EQ(tree_of(parsed), "(expr ([] match `a b`))");
  EXPECT_EQ(errors_of(parsed), (std::vector<std::string>{"Expected `:`, found name at byte range 9..10"}));
}

// ---- async and decorators ----

TEST(Statement, AsyncForms) {
  const TreeCase cases[] = {
      {"async def f(): pass\n", "(async-def f() [pass])", {}},
      {"async for x in y: pass\n", "(async-for x@Store in y [pass])", {}},
      {"async with a as b: pass\n", "(async-with a as b@Store [pass])", {}},
      {"async x = 1\n",
       "(assign x@Store = `1`)",
       {"Expected `def`, `with` or `for` to follow `async`, found name at byte range 6..7"}},
      {"async if x: pass\n",
       "(if x [pass])",
       {"Expected `def`, `with` or `for` to follow `async`, found `if` at byte range 6..8"}},
      {"async async def f(): pass\n",
       "(async-def f() [pass])",
       {"Expected `def`, `with` or `for` to follow `async`, found `async` at byte range 6..11"}},
      {"async\n", "(expr <>@Invalid)",
       {"Expected `def`, `with` or `for` to follow `async`, found newline at byte range 5..6"}},
  };
  expect_trees(cases);

  // The statement after a stray `async` starts at its own first token.
  Parsed<python_ast::ModModule> parsed = parse("async x = 1\n");
  ASSERT_EQ(parsed.syntax->body.size(), 1u);
  EXPECT_EQ(parsed.syntax->body[0]->range, TextRange(6, 11));
  // An async statement starts at `async`.
  parsed = parse("async  def f(): pass\n");
  EXPECT_EQ(parsed.syntax->body[0]->range, TextRange(0, 20));
}

TEST(Statement, Decorators) {
  const TreeCase cases[] = {
      {"@dec\ndef f(): pass\n", "(def (@ dec) f() [pass])", {}},
      {"@a.b(1)\n@c\nclass C: pass\n", "(class (@ `a.b(1)`) (@ c) C [pass])", {}},
      {"@d\nasync def f(): pass\n", "(async-def (@ d) f() [pass])", {}},
      {"@x := y\ndef f(): pass\n", "(def (@ `x := y`) f() [pass])", {}},
      // Anything else after the decorators: a definition without a name.
      {"@dec\nx = 1\n",
       "(def (@ dec) <> [])\n(assign x@Store = `1`)",
       {"Expected class, function definition or async function definition after decorator at byte range 5..6"}},
      {"@dec\nasync for x in y: pass\n",
       "(def (@ dec) <> [])\n(async-for x@Store in y [pass])",
       {"Expected class, function definition or async function definition after decorator at byte range 5..10"}},
      // No expression before the definition: its place is an invented name;
      // the missing newline at `def` starts where that error does.
      {"@def f(): pass\n", "(def (@ <>@Invalid) f() [pass])", {"Expected an identifier at byte range 1..4"}},
      {"@\ndef f(): pass\n", "(def (@ <>@Invalid) f() [pass])", {"Expected an expression at byte range 1..2"}},
  };
  expect_trees(cases);

  // A decorated definition starts at its first `@`; the nameless one made by
  // recovery ends with its last decorator, where its name and parameters are.
  Parsed<python_ast::ModModule> parsed = parse("@a\n@b\ndef f(): pass\n");
  EXPECT_EQ(parsed.syntax->body[0]->range, TextRange(0, 19));
  parsed = parse("@a\n@bc\nx\n");
  const auto& nameless = parsed.syntax->body[0]->cast<python_ast::StmtFunctionDefinition>();
  EXPECT_EQ(nameless.range, TextRange(0, 6));
  EXPECT_EQ(nameless.name.range, TextRange(6, 6));
  EXPECT_EQ(nameless.parameters->range, TextRange(6, 6));
  EXPECT_EQ(nameless.decorators[1].range, TextRange(3, 6));
}

// ---- Blocks ----

TEST(Statement, Bodies) {
  const TreeCase cases[] = {
      {"while x: pass\n", "(while x [pass])", {}},
      {"while x: pass; y = 1\n", "(while x [pass; (assign y@Store = `1`)])", {}},
      {"while x: pass;\n", "(while x [pass])", {}},
      {"if x:\n    a\n    b\nc\n", "(if x [(expr a); (expr b)])\n(expr c)", {}},
      {"if x:\n    if y:\n        a\n    b\n", "(if x [(if y [(expr a)]); (expr b)])", {}},
      // Missing blocks: the next line is a sibling.
      {"if x:\ny = 1\n", "(if x [])\n(assign y@Store = `1`)",
       {"Expected an indented block after `if` statement at byte range 6..7"}},
      // At the end of the file the error sits on the newline.
      {"if x:\n", "(if x [])", {"Expected an indented block after `if` statement at byte range 5..6"}},
      {"if x: pass pass\n", "(if x [pass; pass])",
       {"Simple statements must be separated by newlines or semicolons at byte range 11..15"}},
      {"if x: pass if y: pass\n", "(if x [pass])\n(if y [pass])",
       {"Compound statements are not allowed on the same line as simple statements at byte range 11..13"}},
      {"if x: pass )\n", "(if x [pass])", {"Expected newline, found `)` at byte range 11..12",
                                            "Expected a statement at byte range 12..13"}},
      {"if x: )\n", "(if x [])",
       {"Expected a simple statement at byte range 6..7", "Expected a statement at byte range 7..8"}},
      {"if x: if y: pass\n", "(if x [])\n(if y [pass])", {"Expected a simple statement at byte range 6..8"}},
      // A clause line may hold the soft keywords as names.
      {"if x: match = 1; type = 2\n", "(if x [(assign match@Store = `1`); (assign type@Store = `2`)])", {}},
      // The missing `:` of a header is reported at the newline, and the block
      // is still the body.
      {"if x\n    pass\n", "(if x [pass])", {"Expected `:`, found newline at byte range 4..5"}},
  };
  expect_trees(cases);
}

TEST(Statement, EveryClauseNamesItselfWhenItsBlockIsMissing) {
  const FirstErrorCase cases[] = {
      {"if x:\n", "Expected an indented block after `if` statement at byte range 5..6"},
      {"if x:\n    pass\nelif y:\n", "Expected an indented block after `elif` clause at byte range 22..23"},
      {"if x:\n    pass\nelse:\n", "Expected an indented block after `else` clause at byte range 20..21"},
      {"while x:\n", "Expected an indented block after `while` statement at byte range 8..9"},
      {"while x:\n    pass\nelse:\n", "Expected an indented block after `else` clause at byte range 23..24"},
      {"for x in y:\n", "Expected an indented block after `for` statement at byte range 11..12"},
      {"with a:\n", "Expected an indented block after `with` statement at byte range 7..8"},
      {"class C:\n", "Expected an indented block after `class` definition at byte range 8..9"},
      {"def f():\n", "Expected an indented block after function definition at byte range 8..9"},
      {"try:\n", "Expected an indented block after `try` statement at byte range 4..5"},
      {"try:\n    pass\nexcept:\n", "Expected an indented block after `except` clause at byte range 21..22"},
      {"try:\n    pass\nfinally:\n", "Expected an indented block after `finally` clause at byte range 22..23"},
      {"match x:\n    case 1:\n", "Expected an indented block after `case` block at byte range 20..21"},
      // Not at the end of the file: the error is at the next line's token.
      {"def f():\nreturn\n", "Expected an indented block after function definition at byte range 9..15"},
  };
  expect_first_errors(cases);
}

// ---- Compound statements ----

TEST(Statement, IfWhileFor) {
  const TreeCase cases[] = {
      {"if x:\n    pass\nelif y:\n    z = 1\nelse: w\n",
       "(if x [pass] (elif y [(assign z@Store = `1`)]) (else [(expr w)]))", {}},
      {"if (n := 1): pass\n", "(if `n := 1` [pass])", {}},
      {"if x: pass\nelse: pass\nelse: pass\n", "(if x [pass] (else [pass]))\npass",
       {"Expected a statement at byte range 22..26", "Expected a statement at byte range 26..27"}},
      {"while x: pass\nelse: y\n", "(while x [pass] else [(expr y)])", {}},
      {"for x in y: pass\nelse: pass\n", "(for x@Store in y [pass] else [pass])", {}},
      {"for x, *y in z: pass\n", "(for (tuple x@Store (* y@Store)@Store)@Store in z [pass])", {}},
      {"for [a, (b, c)] in z: pass\n", "(for (list a@Store (ptuple b@Store c@Store)@Store)@Store in z [pass])", {}},
      {"for x in *a, b: pass\n", "(for x@Store in (tuple (* a) b) [pass])", {}},
      {"for x in a if b else c: pass\n", "(for x@Store in `a if b else c` [pass])", {}},
      {"for x.y in z: pass\n", "(for (. x y)@Store in z [pass])", {}},
      {"for f() in y: pass\n", "(for `f()` in y [pass])", {"Invalid assignment target at byte range 4..7"}},
      {"for x, 1 in y: pass\n", "(for (tuple x@Store `1`)@Store in y [pass])",
       {"Invalid assignment target at byte range 7..8"}},
      {"for x y: pass\n", "(for x@Store in y [pass])", {"Expected `in`, found name at byte range 6..7"}},
  };
  expect_trees(cases);
}

TEST(Statement, Try) {
  const TreeCase cases[] = {
      {"try:\n    pass\nexcept ValueError as e:\n    pass\nelse:\n    pass\nfinally:\n    pass\n",
       "(try [pass] (except ValueError as e [pass]) else [pass] finally [pass])", {}},
      {"try: pass\nexcept: pass\n", "(try [pass] (except [pass]))", {}},
      {"try: pass\nfinally: pass\n", "(try [pass] finally [pass])", {}},
      {"try: pass\nexcept (A, B) as e: pass\n", "(try [pass] (except (ptuple A B) as e [pass]))", {}},
      {"try: pass\nexcept A, B: pass\n", "(try [pass] (except (tuple A B) [pass]))", {}},
      {"try: pass\nexcept A as match: pass\n", "(try [pass] (except A as match [pass]))", {}},
      {"try: pass\nexcept* A: pass\nexcept* B: pass\n", "(try* [pass] (except A [pass]) (except B [pass]))", {}},
      {"try: pass\nexcept A, B as e: pass\n", "(try [pass] (except (tuple A B) as e [pass]))",
       {"Multiple exception types must be parenthesized when using `as` at byte range 17..21"}},
      {"try: pass\nexcept* : pass\n", "(try* [pass] (except [pass]))",
       {"Expected one or more exception types at byte range 18..19"}},
      {"try: pass\nexcept as e: pass\n", "(try [pass] (except as e [pass]))",
       {"Expected one or more exception types at byte range 17..19"}},
      {"try: pass\nexcept A as: pass\n", "(try [pass] (except A [pass]))",
       {"Expected name after `as` at byte range 21..22"}},
      // The first handler decides; each handler of the other sort is reported.
      {"try: pass\nexcept A: pass\nexcept* B: pass\nexcept C: pass\nexcept* D: pass\n",
       "(try [pass] (except A [pass]) (except B [pass]) (except C [pass]) (except D [pass]))",
       {"Cannot have both 'except' and 'except*' on the same 'try' at byte range 25..40",
        "Cannot have both 'except' and 'except*' on the same 'try' at byte range 56..71"}},
      {"try: pass\nexcept* A: pass\nexcept B: pass\n", "(try* [pass] (except A [pass]) (except B [pass]))",
       {"Cannot have both 'except' and 'except*' on the same 'try' at byte range 26..40"}},
      {"try: pass\nx = 1\n", "(try [pass])\n(assign x@Store = `1`)",
       {"Expected `except` or `finally` after `try` block at byte range 10..11"}},
      {"try: pass\nelse: pass\n", "(try [pass] else [pass])",
       {"Expected `except` or `finally` after `try` block at byte range 21..21"}},
      {"try: pass\nfinally: pass\nelse: pass\n", "(try [pass] finally [pass])\npass",
       {"`else` block must come before `finally` block at byte range 24..28",
        "Expected a statement at byte range 28..29"}},
  };
  expect_trees(cases);
}

TEST(Statement, FunctionAndClassDefinitions) {
  const TreeCase cases[] = {
      {"def f(a, b=1, *c, d, **e) -> int: pass\n", "(def f(a, b=1, *c, d, **e) -> int [pass])", {}},
      {"def f[T](x: T) -> T:\n    return x\n", "(def f[T](x: T) -> T [(return x)])", {}},
      {"def f() -> (a, b): pass\n", "(def f() -> (ptuple a b) [pass])", {}},
      {"def f() -> a, b: pass\n", "(def f() -> (tuple a b) [pass])",
       {"Multiple return types must be parenthesized at byte range 11..15"}},
      {"def f() -> : pass\n", "(def f() [pass])", {"Expected an expression at byte range 11..12"}},
      {"def match(): pass\n", "(def match() [pass])", {}},
      {"def (): pass\n", "(def <>() [pass])", {"Expected an identifier at byte range 4..5"}},
      {"class C: pass\n", "(class C [pass])", {}},
      {"class C(): pass\n", "(class C() [pass])", {}},
      {"class C(A, metaclass=M): pass\n", "(class C(A, metaclass=M) [pass])", {}},
      {"class C[T: int](Base[T]):\n    x: T\n", "(class C[T: int](Base[T]) [(annassign x@Store T simple)])", {}},
      // A trailing comma after the one type parameter is valid Python.
      {"class C[T,]: pass\n", "(class C[T,] [pass])", {}},
      // Without its `:` the header's line is read as the body.
      {"class C(A) B = 1\n", "(class C(A) [(assign B@Store = `1`)])",
       {"Expected `:`, found name at byte range 11..12"}},
  };
  expect_trees(cases);
}

TEST(Statement, RangesEndAtTheLastToken) {
  // No statement takes in the newline or `;` that ends it, nor a block's
  // Dedent; a compound statement ends with its last body statement.
  Parsed<python_ast::ModModule> parsed = parse("x = 1 ;\nif a:\n    b\n\n# c\nd\n");
  ASSERT_EQ(parsed.syntax->body.size(), 3u);
  EXPECT_EQ(parsed.syntax->body[0]->range, TextRange(0, 5));
  EXPECT_EQ(parsed.syntax->body[1]->range, TextRange(8, 19));
  EXPECT_EQ(parsed.syntax->body[2]->range, TextRange(25, 26));

  parsed = parse("if a:\n    b\nelif c:\n    d\nelse:\n    e\n");
  const auto& chain = parsed.syntax->body[0]->cast<python_ast::StmtIf>();
  EXPECT_EQ(chain.range, TextRange(0, 37));
  ASSERT_EQ(chain.elif_else_clauses.size(), 2u);
  EXPECT_EQ(chain.elif_else_clauses[0].range, TextRange(12, 25));
  EXPECT_EQ(chain.elif_else_clauses[1].range, TextRange(26, 37));

  parsed = parse("try:\n    a\nexcept E as e:\n    b\n");
  const auto& handler =
      parsed.syntax->body[0]->cast<python_ast::StmtTry>().handlers[0]->cast<python_ast::ExceptHandlerExceptHandler>();
  EXPECT_EQ(handler.range, TextRange(11, 31));
  ASSERT_TRUE(handler.name.has_value());
  EXPECT_EQ(handler.name->range, TextRange(23, 24));
}

// ---- Nesting ----

using test_support::run_on_thread;

std::string nested_blocks(std::size_t depth, std::string_view header) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) {
    text += repeat(" ", i);
    text += header;
    text += '\n';
  }
  text += repeat(" ", depth);
  text += "pass\n";
  return text;
}

TEST(Statement, HundredNestedBlocksParse) {
  for (std::string_view header : {"if x:", "while x:", "for x in y:", "def f():", "class C:", "try:", "with a:"}) {
    SCOPED_TRACE(std::string(header));
    std::string text = nested_blocks(100, header);
    if (header == "try:") {
      // Every `try` needs a `finally`, at its own indentation.
      text = "";
      for (int i = 0; i < 100; ++i) text += repeat(" ", i) + "try:\n";
      text += repeat(" ", 100) + "pass\n";
      for (int i = 99; i >= 0; --i) text += repeat(" ", i) + "finally: pass\n";
    }
    Parsed<python_ast::ModModule> parsed = parse(text);
    EXPECT_EQ(errors_of(parsed), std::vector<std::string>());
    // 100 levels, then the `pass`.
    const Stmt* statement = parsed.syntax->body[0];
    int depth = 0;
    for (;;) {
      std::span<Stmt* const> body;
      if (const auto* n = statement->as<python_ast::StmtIf>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtWhile>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtFor>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtFunctionDefinition>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtClassDefinition>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtTry>()) body = n->body;
      if (const auto* n = statement->as<python_ast::StmtWith>()) body = n->body;
      if (body.empty()) break;
      statement = body[0];
      ++depth;
    }
    EXPECT_EQ(depth, 100);
    EXPECT_TRUE(statement->is<python_ast::StmtPass>());
  }
}

void expect_only_the_nesting_error(const std::string& text) {
  Parsed<python_ast::ModModule> parsed = parse(text);
  ASSERT_EQ(parsed.errors.size(), 1u) << parsed.errors[1].display();
  EXPECT_EQ(parsed.errors[0].error.display(), kNestingTooDeepMessage);
}

TEST(Statement, TooDeepNestingFailsCleanly) {
  const std::string cases[] = {
      nested_blocks(10'000, "if x:"),
      nested_blocks(2'000, "def f():"),
      // Blocks on one line each: `if x: if x: ...` is an error at once, so
      // the nesting comes from bodies of simple statements holding deep
      // expressions here.
      "if x:\n    y = " + repeat("[", 100'000) + repeat("]", 100'000) + "\n",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    expect_only_the_nesting_error(text);
    run_on_thread(256 * 1024, [&] { expect_only_the_nesting_error(text); });
  }
}

TEST(Statement, LongChainsAreLoops) {
  // 10^4 elif clauses, decorators, handlers and statements per line are
  // loops, not nesting.
  std::string elifs = "if x:\n    pass\n";
  for (int i = 0; i < 10'000; ++i) elifs += "elif x:\n    pass\n";
  elifs += "else:\n    pass\n";
  std::string decorators = repeat("@d\n", 10'000) + "def f(): pass\n";
  std::string handlers = "try:\n    pass\n" + repeat("except E:\n    pass\n", 10'000);
  std::string line = "if x: " + repeat("pass; ", 10'000) + "pass\n";
  for (const std::string& text : {elifs, decorators, handlers, line}) {
    SCOPED_TRACE(text.substr(0, 20));
    Parsed<python_ast::ModModule> parsed = parse(text);
    EXPECT_EQ(errors_of(parsed), std::vector<std::string>());
    run_on_thread(256 * 1024, [&] { EXPECT_TRUE(parse_module(text).has_value()); });
  }
  Parsed<python_ast::ModModule> parsed = parse(elifs);
  EXPECT_EQ(parsed.syntax->body[0]->cast<python_ast::StmtIf>().elif_else_clauses.size(), 10'001u);

  // A run of stray `async` is a loop too: one error at each `async` after
  // the first, and the definition at the end.
  parsed = parse(repeat("async ", 100'000) + "def f(): pass\n");
  EXPECT_EQ(parsed.errors.size(), 99'999u);
  ASSERT_EQ(parsed.syntax->body.size(), 1u);
  EXPECT_TRUE(parsed.syntax->body[0]->cast<python_ast::StmtFunctionDefinition>().is_async);
}

// ---- Simple statements ----

TEST(SimpleStatement, Assignments) {
  const TreeCase cases[] = {
      {"a = b = c = 1\n", "(assign a@Store b@Store c@Store = `1`)", {}},
      {"a, *b = c\n", "(assign (tuple a@Store (* b@Store)@Store)@Store = c)", {}},
      {"*a = b\n", "(assign (* a@Store)@Store = b)", {}},
      {"[a, (b, c)] = x\n", "(assign (list a@Store (ptuple b@Store c@Store)@Store)@Store = x)", {}},
      {"a.b = c[0] = 1\n", "(assign (. a b)@Store ([] c `0`)@Store = `1`)", {}},
      {"x = yield y\n", "(assign x@Store = `yield y`)", {}},
      {"x = 1, 2\n", "(assign x@Store = (tuple `1` `2`))", {}},
      {"x = 1,\n", "(assign x@Store = (tuple `1`))", {}},
      {"(x) = 1\n", "(assign x@Store = `1`)", {}},
      // Every invalid part is reported, in order; valid parts are not.
      {"f() = 1\n", "(assign `f()` = `1`)", {"Invalid assignment target at byte range 0..3"}},
      {"[a, f()] = x\n", "(assign (list a@Store `f()`)@Store = x)", {"Invalid assignment target at byte range 4..7"}},
      {"(a, [b, 1], 2) = x\n", "(assign (ptuple a@Store (list b@Store `1`)@Store `2`)@Store = x)",
       {"Invalid assignment target at byte range 8..9", "Invalid assignment target at byte range 12..13"}},
      {"a = f() = 1\n", "(assign a@Store `f()` = `1`)", {"Invalid assignment target at byte range 4..7"}},
      {"a + b = c\n", "(assign `a + b` = c)", {"Invalid assignment target at byte range 0..5"}},
      {"*f() = x\n", "(assign (* `f()`)@Store = x)", {"Invalid assignment target at byte range 1..4"}},
      {"1 = 2 = 3\n", "(assign `1` `2` = `3`)",
       {"Invalid assignment target at byte range 0..1", "Invalid assignment target at byte range 4..5"}},
      {"x = \n", "(assign x@Store = <>@Invalid)", {"Expected an expression at byte range 4..5"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, AugmentedAssignments) {
  const std::pair<std::string_view, std::string_view> operators[] = {
      {"+=", "+"},  {"-=", "-"},  {"*=", "*"},   {"@=", "@"},   {"/=", "/"},  {"%=", "%"},   {"**=", "**"},
      {"<<=", "<<"}, {">>=", ">>"}, {"|=", "|"}, {"^=", "^"}, {"&=", "&"}, {"//=", "//"},
  };
  for (auto [token, op] : operators) {
    std::string source = "x " + std::string(token) + " 1\n";
    SCOPED_TRACE(source);
    Parsed<python_ast::ModModule> parsed = parse(source);
    EXPECT_EQ(tree_of(parsed), "(augassign " + std::string(op) + " x@Store `1`)");
    EXPECT_TRUE(parsed.errors.empty());
  }

  const TreeCase cases[] = {
      {"x += 1, 2\n", "(augassign + x@Store (tuple `1` `2`))", {}},
      {"a.b += 1\n", "(augassign + (. a b)@Store `1`)", {}},
      {"a[0] *= yield\n", "(augassign * ([] a `0`)@Store `yield`)", {}},
      {"(a, b) += 1\n", "(augassign + (ptuple a@Store b@Store)@Store `1`)",
       {"Invalid augmented assignment target at byte range 0..6"}},
      {"[a] += 1\n", "(augassign + (list a@Store)@Store `1`)",
       {"Invalid augmented assignment target at byte range 0..3"}},
      {"*a += 1\n", "(augassign + (* a@Store)@Store `1`)", {"Invalid augmented assignment target at byte range 0..2"}},
      {"f() += 1\n", "(augassign + `f()` `1`)", {"Invalid augmented assignment target at byte range 0..3"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, AnnotatedAssignments) {
  const TreeCase cases[] = {
      {"x: int\n", "(annassign x@Store int simple)", {}},
      {"x: int = 1\n", "(annassign x@Store int = `1` simple)", {}},
      {"(x): int\n", "(annassign x@Store int)", {}},
      {"a.b: int\n", "(annassign (. a b)@Store int)", {}},
      {"a[0]: int = 1\n", "(annassign ([] a `0`)@Store int = `1`)", {}},
      {"x: int = 1, 2\n", "(annassign x@Store int = (tuple `1` `2`) simple)", {}},
      {"x: int = yield\n", "(annassign x@Store int = `yield` simple)", {}},
      {"x: int =\n", "(annassign x@Store int simple)", {"Expected an expression at byte range 8..9"}},
      {"[a, b]: int\n", "(annassign (list a@Store b@Store)@Store int)",
       {"Only single target (not list) can be annotated at byte range 0..6"}},
      {"a, b: int\n", "(annassign (tuple a@Store b@Store)@Store int)",
       {"Only single target (not tuple) can be annotated at byte range 0..4"}},
      {"(a, b): int\n", "(annassign (ptuple a@Store b@Store)@Store int)",
       {"Only single target (not tuple) can be annotated at byte range 0..6"}},
      {"f(): int\n", "(annassign `f()` int)", {"Invalid annotated assignment target at byte range 0..3"}},
      {"*a: int\n", "(annassign (* a@Store)@Store int)", {"Invalid annotated assignment target at byte range 0..2"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, ExpressionStatements) {
  const TreeCase cases[] = {
      {"f(x)\n", "(expr `f(x)`)", {}},
      {"yield x\n", "(expr `yield x`)", {}},
      {"await x\n", "(expr `await x`)", {}},
      {"x, y\n", "(expr (tuple x y))", {}},
      {"*a, b\n", "(expr (tuple (* a) b))", {}},
      {"...\n", "(expr `...`)", {}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, KeywordStatements) {
  const TreeCase cases[] = {
      {"pass\nbreak\ncontinue\n", "pass\nbreak\ncontinue", {}},
      {"return\n", "(return)", {}},
      {"return;\n", "(return)", {}},
      {"return 1, *a\n", "(return (tuple `1` (* a)))", {}},
      {"return *a, b\n", "(return (tuple (* a) b))", {}},
      {"assert x\n", "(assert x)", {}},
      {"assert x, 'm'\n", "(assert x, `'m'`)", {}},
      {"assert x,\n", "(assert x)", {"Expected an expression at byte range 9..10"}},
      {"global a, b\n", "(global a b)", {}},
      {"nonlocal match, type\n", "(nonlocal match type)", {}},
      {"global\n", "(global)", {"Global statement must have at least one name at byte range 6..7"}},
      {"nonlocal\n", "(nonlocal)", {"Nonlocal statement must have at least one name at byte range 8..9"}},
      {"global a, b,\n", "(global a b)", {"Trailing comma not allowed at byte range 11..12"}},
      {"global a b\n", "(global a b)", {"Expected `,`, found name at byte range 9..10"}},
      {"global , a\n", "(global a)", {"Expected an identifier at byte range 7..8"}},
  };
  expect_trees(cases);

  // `pass`, `break` and `continue` are their keyword.
  Parsed<python_ast::ModModule> parsed = parse("if x: pass ; break\n");
  const auto& body = parsed.syntax->body[0]->cast<python_ast::StmtIf>().body;
  EXPECT_EQ(body[0]->range, TextRange(6, 10));
  EXPECT_EQ(body[1]->range, TextRange(13, 18));
}

TEST(SimpleStatement, Raise) {
  const TreeCase cases[] = {
      {"raise\n", "(raise)", {}},
      {"raise", "(raise)", {}},
      // The bare form also ends at `;`, as Python reads it.
      {"raise; x\n", "(raise)\n(expr x)", {}},
      {"if x: raise; y\n", "(if x [(raise); (expr y)])", {}},
      {"try: pass\nexcept: raise;\n", "(try [pass] (except [(raise)]))", {}},
      {"raise X\n", "(raise X)", {}},
      {"raise X from Y\n", "(raise X from Y)", {}},
      {"raise X from None\n", "(raise X from `None`)", {}},
      {"raise from e\n", "(raise from e)", {"Exception missing in `raise` statement with cause at byte range 6..10"}},
      {"raise a, b\n", "(raise (tuple a b))", {"Unparenthesized tuple expression cannot be used here at byte range 6..10"}},
      {"raise (a, b)\n", "(raise (ptuple a b))", {}},
      {"raise x from a, b\n", "(raise x from (tuple a b))",
       {"Unparenthesized tuple expression cannot be used here at byte range 13..17"}},
      {"raise x from\n", "(raise x from <>@Invalid)", {"Expected an expression at byte range 12..13"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, Delete) {
  const TreeCase cases[] = {
      {"del a\n", "(del a@Del)", {}},
      {"del a, b.c, d[0]\n", "(del a@Del (. b c)@Del ([] d `0`)@Del)", {}},
      // A trailing comma is valid Python.
      {"del a,\n", "(del a@Del)", {}},
      {"del a, b,\n", "(del a@Del b@Del)", {}},
      {"del (a, [b]), (c)\n", "(del (ptuple a@Del (list b@Del)@Del)@Del c@Del)", {}},
      {"del\n", "(del)", {"Delete statement must have at least one target at byte range 3..4"}},
      {"del *a\n", "(del (* a@Del)@Del)", {"Invalid delete target at byte range 4..6"}},
      {"del (a, *b)\n", "(del (ptuple a@Del (* b@Del)@Del)@Del)", {"Invalid delete target at byte range 8..10"}},
      {"del f(), [a, 1]\n", "(del `f()` (list a@Del `1`)@Del)",
       {"Invalid delete target at byte range 4..7", "Invalid delete target at byte range 13..14"}},
      {"del ,\n", "(del)", {"Expected a delete target at byte range 4..5",
                            "Delete statement must have at least one target at byte range 5..6"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, Imports) {
  const TreeCase cases[] = {
      {"import a\n", "(import a)", {}},
      {"import a.b.c as d, e\n", "(import a.b.c as d e)", {}},
      {"import match.case as type\n", "(import match.case as type)", {}},
      {"import a,\n", "(import a)", {"Trailing comma not allowed at byte range 8..9"}},
      {"import\n", "(import)", {"Expected one or more symbol names after import at byte range 6..7"}},
      // The token after `as` is left for the next statement; the missing
      // separator there starts where the `as` error does.
      {"import a as 1\n", "(import a)\n(expr `1`)", {"Expected symbol after `as` at byte range 12..13"}},
      {"import a as\n", "(import a)", {"Expected symbol after `as` at byte range 11..12"}},
      {"import a.\n", "(import a.)", {"Expected an identifier at byte range 9..10"}},
      // `*` can start a statement, so the name list stops before it.
      {"import *\n", "(import)\n(expr (* <>@Invalid))",
       {"Expected one or more symbol names after import at byte range 7..8",
        "Expected an expression at byte range 8..9"}},
      {"from . import x\n", "(from 1 <none> import x)", {}},
      {"from .... import x\n", "(from 4 <none> import x)", {}},
      {"from .a.b import c\n", "(from 1 a.b import c)", {}},
      {"from m import a as b, c\n", "(from 0 m import a as b c)", {}},
      {"from m import *\n", "(from 0 m import *)", {}},
      {"from m import (*)\n", "(from 0 m import *)", {}},
      {"from m import (a,\n    b,)\n", "(from 0 m import a b)", {}},
      {"from match import case\n", "(from 0 match import case)", {}},
      {"from import x\n", "(from 0 <none> import x)", {"Expected a module name at byte range 5..11"}},
      {"from m import a, b,\n", "(from 0 m import a b)", {"Trailing comma not allowed at byte range 18..19"}},
      {"from m import *, a\n", "(from 0 m import * a)", {"Star import must be the only import at byte range 14..18"}},
      {"from m import (a, *)\n", "(from 0 m import a *)", {"Star import must be the only import at byte range 14..19"}},
      {"from m import\n", "(from 0 m import)", {"Expected one or more symbol names after import at byte range 13..14"}},
      {"from m import ()\n", "(from 0 m import)", {"Expected one or more symbol names after import at byte range 15..16"}},
      {"from m import a as\n", "(from 0 m import a)", {"Expected symbol after `as` at byte range 18..19"}},
      {"from m x\n", "(from 0 m import x)", {"Expected `import`, found name at byte range 7..8"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, DottedNamesAreBuiltFromTheirParts) {
  // Blanks, comments and line continuations between the parts vanish; the
  // range covers the whole name.
  const struct {
    std::string_view source;
    std::string_view text;
    TextRange range;
  } cases[] = {
      {"import a\n", "a", TextRange(7, 8)},
      {"import a . b\n", "a.b", TextRange(7, 12)},
      {"import a.\\\n  b.c\n", "a.b.c", TextRange(7, 16)},
      {"from a . b import (c)\n", "a.b", TextRange(5, 10)},
      {"from ( import a\n", "", TextRange(0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    Parsed<python_ast::ModModule> parsed = parse(c.source);
    const Stmt* statement = parsed.syntax->body[0];
    const python_ast::Identifier* name = nullptr;
    if (const auto* import = statement->as<python_ast::StmtImport>()) name = &import->names[0].name;
    if (const auto* from = statement->as<python_ast::StmtFromImport>()) {
      if (from->module) name = &*from->module;
    }
    if (c.text.empty()) {
      EXPECT_EQ(name, nullptr);
      continue;
    }
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->as_str(), c.text);
    EXPECT_EQ(name->range, c.range);
  }
}

TEST(SimpleStatement, TypeAliases) {
  const TreeCase cases[] = {
      {"type X = int\n", "(type X@Store = int)", {}},
      {"type X[T] = list[T]\n", "(type X@Store [T] = ([] list T))", {}},
      {"type match = int\n", "(type match@Store = int)", {}},
      // Otherwise `type` is a name.
      {"type = 1\n", "(assign type@Store = `1`)", {}},
      {"type(x)\n", "(expr `type(x)`)", {}},
      {"type.x = 1\n", "(assign (. type x)@Store = `1`)", {}},
      {"type x: int\n", "(expr type)\n(annassign x@Store int simple)",
       {"Simple statements must be separated by newlines or semicolons at byte range 5..6"}},
      {"type X int\n", "(expr type)\n(expr X)\n(expr int)",
       {"Simple statements must be separated by newlines or semicolons at byte range 5..6",
        "Simple statements must be separated by newlines or semicolons at byte range 7..10"}},
      {"type X[T] int\n", "(type X@Store [T] = int)", {"Expected `=`, found name at byte range 10..13"}},
  };
  expect_trees(cases);
}

TEST(SimpleStatement, ErrorsAreRecordedInSourceOrder) {
  // Full lists pin the order and the same-offset rule.
  const TreeCase cases[] = {
      {"del f(), *a; import a,; global\n", "(del `f()` (* a@Del)@Del)\n(import a)\n(global)",
       {"Invalid delete target at byte range 4..7", "Invalid delete target at byte range 9..11",
        "Trailing comma not allowed at byte range 21..22",
        "Global statement must have at least one name at byte range 30..31"}},
      {"for 1 in x: (a, 1) = f() = 2\n", "(for `1` in x [(assign (ptuple a@Store `1`)@Store `f()` = `2`)])",
       {"Invalid assignment target at byte range 4..5", "Invalid assignment target at byte range 16..17",
        "Invalid assignment target at byte range 21..24"}},
  };
  expect_trees(cases);
}

// ---- Damaged input ----

// Every statement form, for the damage test below; CPython parses it.
constexpr std::string_view kEveryStatement = R"PY(import a.b as c, d
from .. m import (x as y, z,)
from . import *
global g; nonlocal n
type Alias[T] = list[T]
x = y = 1, *z
x += 1; x: int = 2; (p): q
del a, b[0], c.d,
assert x, "message"
@decorator(arg)
@other
async def f[T](a, /, b: int = 1, *args, c, **kwargs) -> T:
    """doc"""
    return await g(*args, **kwargs)
class C(Base, metaclass=M):
    def method(self): raise ValueError("x") from None
for i, *rest in items:
    if i: continue
    elif rest: break
    else: pass
else:
    pass
while (n := next(it)):
    yield n
try:
    pass
except (A, B) as e:
    raise
except C:
    raise;
else:
    pass
finally:
    pass
try:
    pass
except* E:
    pass
with open(p) as f, (g := h()):
    async with a as (b, c): pass
match command.split():
    case [action, *args] if args:
        pass
    case {"k": v, **rest} | Point(x=0):
        pass
    case _:
        pass
match = case = type = 1
)PY";

TEST(Statement, DamagedInputNeverFails) {
  // Every prefix, every one-byte deletion and the insertion of a few tokens
  // at every offset: each parses to a tree without a fatal error, and every
  // node's range lies inside the text in order.
  ASSERT_TRUE(parse_module(kEveryStatement).has_value()) << parse_module(kEveryStatement).error().display();
  std::vector<std::string> texts;
  std::string source(kEveryStatement);
  for (std::size_t i = 0; i <= source.size(); ++i) {
    texts.push_back(source.substr(0, i));
    if (i < source.size()) texts.push_back(source.substr(0, i) + source.substr(i + 1));
    for (std::string_view insertion : {":", "(", "\n", "\n    ", "\t", "async ", "match ", ";", "@", "else"}) {
      texts.push_back(source.substr(0, i) + std::string(insertion) + source.substr(i));
    }
  }
  for (const std::string& text : texts) {
    Parsed<python_ast::Mod> parsed = [&] {
      try {
        return parse_unchecked(text, Mode::Module);
      } catch (const std::exception& error) {
        ADD_FAILURE() << error.what() << "\nfor:\n" << text;
        throw;
      }
    }();
    python_ast::walk_preorder(*parsed.syntax, [&](python_ast::AnyNodeRef node) {
      TextRange range = node.range();
      ASSERT_LE(range.end().raw, text.size()) << node.type_name() << " " << range.debug() << " in:\n" << text;
    });
  }
}

// ---- The module entry ----

TEST(Statement, ModuleEntrySucceedsOnlyWithoutErrors) {
  const FirstErrorCase cases[] = {
      {"import os\nfrom . import x\n\n@dataclass\nclass C:\n    a: int = 1\n\n    def f(self):\n"
       "        return self.a\n",
       ""},
      {"raise\n", ""},
      {"raise;\n", ""},
      {"if x: raise; y\n", ""},
      {"del a,\n", ""},
      {"x; match = 1\n", ""},
      {"async def f():\n    async for x in y:\n        await x\n    async with a: pass\n", ""},
      {"try:\n    pass\nexcept* E:\n    pass\n", ""},
      {"type X[T] = list[T]\n", ""},
      {"x = 1 y = 2\n", "Simple statements must be separated by newlines or semicolons at byte range 6..7"},
      {"if x:\npass\n", "Expected an indented block after `if` statement at byte range 6..10"},
      {"  x = 1\n", "Unexpected indentation at byte range 0..2"},
      {"del\n", "Delete statement must have at least one target at byte range 3..4"},
  };
  for (const FirstErrorCase& c : cases) {
    SCOPED_TRACE(std::string(c.source));
    ModuleParseResult result = parse_module(c.source);
    if (c.first_error.empty()) {
      EXPECT_TRUE(result.has_value()) << result.error().display();
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().display(), c.first_error);
    }
  }
}

}  // namespace
}  // namespace python_parser
