#include "tolva_ast/statement_visitor.h"

#include <vector>

namespace tolva_ast::statement_visitor {

namespace {

using python_ast::Stmt;
using StmtList = std::span<Stmt* const>;

// Pushes the statement lists of `stmt` onto `stack` so that the first list
// is on top (walked first).
void push_nested_lists(const Stmt& stmt, std::vector<StmtList>& stack) {
  using namespace python_ast;
  switch (stmt.kind()) {
    case StmtKind::FunctionDefinition:
      stack.push_back(stmt.cast<StmtFunctionDefinition>().body);
      return;
    case StmtKind::ClassDefinition:
      stack.push_back(stmt.cast<StmtClassDefinition>().body);
      return;
    case StmtKind::For: {
      const auto& node = stmt.cast<StmtFor>();
      stack.push_back(node.else_body);
      stack.push_back(node.body);
      return;
    }
    case StmtKind::While: {
      const auto& node = stmt.cast<StmtWhile>();
      stack.push_back(node.else_body);
      stack.push_back(node.body);
      return;
    }
    case StmtKind::If: {
      const auto& node = stmt.cast<StmtIf>();
      for (auto it = node.elif_else_clauses.rbegin(); it != node.elif_else_clauses.rend(); ++it) {
        stack.push_back(it->body);
      }
      stack.push_back(node.body);
      return;
    }
    case StmtKind::With:
      stack.push_back(stmt.cast<StmtWith>().body);
      return;
    case StmtKind::Match: {
      const auto& node = stmt.cast<StmtMatch>();
      for (auto it = node.cases.rbegin(); it != node.cases.rend(); ++it) stack.push_back(it->body);
      return;
    }
    case StmtKind::Try: {
      const auto& node = stmt.cast<StmtTry>();
      stack.push_back(node.finally_body);
      stack.push_back(node.else_body);
      for (auto it = node.handlers.rbegin(); it != node.handlers.rend(); ++it) {
        stack.push_back((*it)->cast<ExceptHandlerExceptHandler>().body);
      }
      stack.push_back(node.body);
      return;
    }
    default:
      return;
  }
}

// The walk proper: `stack` holds the unvisited rest of every open list.
void run(std::vector<StmtList>& stack, StatementVisitor& visitor) {
  while (!stack.empty()) {
    StmtList& top = stack.back();
    if (top.empty()) {
      stack.pop_back();
      continue;
    }
    const Stmt& stmt = *top.front();
    top = top.subspan(1);  // before the push: `top` may move
    // The next sibling is read soon; its node is rarely in cache yet.
    if (!top.empty()) __builtin_prefetch(top.front());
    visitor.visit_stmt(stmt);
    push_nested_lists(stmt, stack);
  }
}

}  // namespace

void walk_body(std::span<Stmt* const> body, StatementVisitor& visitor) {
  std::vector<StmtList> stack;
  stack.reserve(16);
  stack.push_back(body);
  run(stack, visitor);
}

void walk_stmt(const Stmt& stmt, StatementVisitor& visitor) {
  visitor.visit_stmt(stmt);
  std::vector<StmtList> stack;
  stack.reserve(16);
  push_nested_lists(stmt, stack);
  run(stack, visitor);
}

}  // namespace tolva_ast::statement_visitor
