#include "python_parser/parser/helpers.h"

#include <cstddef>
#include <vector>

namespace python_parser::helpers {

namespace {

using python_ast::Expr;
using python_ast::ExpressionContext;

// Sets the context of a node that has one and nothing below it to rewrite;
// false for every other node.
bool set_leaf_ctx(Expr* expr, ExpressionContext ctx) {
  if (auto* name = expr->as<python_ast::ExprName>()) {
    name->ctx = ctx;
    return true;
  }
  if (auto* attribute = expr->as<python_ast::ExprAttribute>()) {
    attribute->ctx = ctx;
    return true;
  }
  if (auto* subscript = expr->as<python_ast::ExprSubscript>()) {
    subscript->ctx = ctx;
    return true;
  }
  return false;
}

// The nested targets still to rewrite: a few inline, the rest on the heap
// (only nested lists, tuples, starred and unary targets are ever pushed).
class WorkList {
 public:
  void push(Expr* expr) {
    if (size_ < kInline) {
      inline_[size_++] = expr;
    } else {
      spill_.push_back(expr);
    }
  }
  Expr* pop() {
    if (!spill_.empty()) {
      Expr* expr = spill_.back();
      spill_.pop_back();
      return expr;
    }
    return size_ == 0 ? nullptr : inline_[--size_];
  }

 private:
  static constexpr std::size_t kInline = 32;
  Expr* inline_[kInline] = {};
  std::size_t size_ = 0;
  std::vector<Expr*> spill_;
};

}  // namespace

void set_expr_ctx(Expr* expr, ExpressionContext ctx) {
  if (expr == nullptr || set_leaf_ctx(expr, ctx)) return;
  WorkList work;
  work.push(expr);
  while (Expr* current = work.pop()) {
    switch (current->kind()) {
      case python_ast::ExprKind::Starred: {
        auto& starred = current->cast<python_ast::ExprStarred>();
        starred.ctx = ctx;
        if (!set_leaf_ctx(starred.value, ctx)) work.push(starred.value);
        break;
      }
      case python_ast::ExprKind::List: {
        auto& list = current->cast<python_ast::ExprList>();
        list.ctx = ctx;
        for (Expr* element : list.elements) {
          if (!set_leaf_ctx(element, ctx)) work.push(element);
        }
        break;
      }
      case python_ast::ExprKind::Tuple: {
        auto& tuple = current->cast<python_ast::ExprTuple>();
        tuple.ctx = ctx;
        for (Expr* element : tuple.elements) {
          if (!set_leaf_ctx(element, ctx)) work.push(element);
        }
        break;
      }
      case python_ast::ExprKind::UnaryOp: {
        // `-a` as a target: the operand takes the context, the operation has
        // none of its own.
        Expr* operand = current->cast<python_ast::ExprUnaryOp>().operand;
        if (!set_leaf_ctx(operand, ctx)) work.push(operand);
        break;
      }
      default:
        // Names, attributes and subscripts were handled before they were
        // pushed; everything else has no context.
        set_leaf_ctx(current, ctx);
        break;
    }
  }
}

}  // namespace python_parser::helpers
