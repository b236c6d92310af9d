#include "tolva_ast/statement_visitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "python_parser/parse.h"

namespace tolva_ast::statement_visitor {
namespace {

// The head of each statement the walk offers: its text up to the first ":"
// or line break.
std::vector<std::string> heads(std::string_view source) {
  python_parser::ModuleParseResult parsed = python_parser::parse_module(source);
  EXPECT_TRUE(parsed.has_value()) << parsed.error().display();
  const std::string_view text = parsed.value().tree->source();
  std::vector<std::string> out;
  walk_body_with(parsed.value().syntax->body, [&](const python_ast::Stmt& stmt) {
    std::string_view head = text.substr(stmt.range.start().raw, stmt.range.length());
    head = head.substr(0, head.find_first_of(":\n"));
    out.emplace_back(head);
  });
  return out;
}

TEST(StatementWalk, EveryNestedListInOrderBeforeTheNextStatement) {
  const char* source = R"(def f():
    a
    class C:
        b
    c
for x in y:
    d
else:
    e
while w:
    g
else:
    h
if i:
    j
elif k:
    l
else:
    m
with n:
    o
match p:
    case 1:
        q
    case _:
        r
try:
    s
except T:
    t
except U:
    u
else:
    v
finally:
    z
after
)";
  const std::vector<std::string> expected = {
      "def f()", "a", "class C", "b", "c", "for x in y", "d", "e", "while w", "g", "h", "if i", "j", "l", "m",
      "with n",  "o", "match p", "q", "r", "try",        "s", "t", "u",       "v", "z", "after"};
  EXPECT_EQ(heads(source), expected);
}

TEST(StatementWalk, ExpressionsAreNotEntered) {
  // The lambda and the comprehension hold no statements for the walk.
  EXPECT_EQ(heads("x = lambda: [y for y in z]\nasync def g(): return 1\n"),
            (std::vector<std::string>{"x = lambda", "async def g()", "return 1"}));
}

TEST(StatementWalk, WalkStmtOffersTheStatementFirst) {
  python_parser::ModuleParseResult parsed = python_parser::parse_module("if a:\n    b\n    if c:\n        d\ne\n");
  ASSERT_TRUE(parsed.has_value());
  const auto& body = parsed.value().syntax->body;
  std::vector<python_ast::StmtKind> kinds;
  struct Visitor final : StatementVisitor {
    std::vector<python_ast::StmtKind>* kinds;
    void visit_stmt(const python_ast::Stmt& stmt) override { kinds->push_back(stmt.kind()); }
  } visitor;
  visitor.kinds = &kinds;
  walk_stmt(*body[0], visitor);
  using K = python_ast::StmtKind;
  EXPECT_EQ(kinds, (std::vector<K>{K::If, K::Expression, K::If, K::Expression}));
}

TEST(StatementWalk, DeepNestingRunsInConstantStack) {
  // Deep, though within what the parser takes: each level one more `if`.
  std::string source;
  constexpr int kDepth = 500;
  for (int i = 0; i < kDepth; ++i) source += std::string(static_cast<std::size_t>(i), ' ') + "if x:\n";
  source += std::string(kDepth, ' ') + "pass\n";
  EXPECT_EQ(heads(source).size(), static_cast<std::size_t>(kDepth + 1));
}

}  // namespace
}  // namespace tolva_ast::statement_visitor
