#pragma once

// The statement walk that every visitor of the analysis shares.
//
// A visitor is offered each statement of a list in order; right after a
// statement has been offered, the walk descends into the statement lists it
// holds and offers their statements the same way, before it goes on with the
// next statement of the outer list: a depth-first, pre-order walk of every
// statement at any depth. The lists of a statement, in order:
//
//   def, class            the body
//   for, while            the body, then the else body
//   if                    the body, then each elif and else clause's body
//   with                  the body
//   match                 each case's body
//   try                   the body, each except handler's body, the else
//                         body, the finally body
//   any other statement   none
//
// Expressions are never entered. The walk keeps its own stack on the heap,
// so however deeply statements nest it runs in constant machine stack.

#include <span>

#include "python_ast/nodes.h"

namespace tolva_ast::statement_visitor {

class StatementVisitor {
 public:
  virtual ~StatementVisitor() = default;
  // Called once for every statement of the walk, before its nested lists.
  virtual void visit_stmt(const python_ast::Stmt& stmt) = 0;
};

// Walks every statement of `body` and everything below them.
void walk_body(std::span<python_ast::Stmt* const> body, StatementVisitor& visitor);

// Offers `stmt` itself, then walks its nested lists.
void walk_stmt(const python_ast::Stmt& stmt, StatementVisitor& visitor);

// walk_body with a callable `visit(const Stmt&)` in place of a visitor.
template <class Visit>
void walk_body_with(std::span<python_ast::Stmt* const> body, Visit&& visit) {
  struct Adapter final : StatementVisitor {
    explicit Adapter(Visit& function) : function_(function) {}
    void visit_stmt(const python_ast::Stmt& stmt) override { function_(stmt); }
    Visit& function_;
  };
  Adapter adapter(visit);
  walk_body(body, adapter);
}

}  // namespace tolva_ast::statement_visitor
