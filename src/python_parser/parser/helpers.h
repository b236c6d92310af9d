#pragma once

// Small tree rewrites that several grammar areas share.

#include "python_ast/nodes.h"

namespace python_parser::helpers {

// Turns a parsed expression into a target of context `ctx` (Store, Del or
// Load), in place: names, attributes and subscripts take `ctx`; starred
// expressions take it and pass it to their value; lists and tuples take it
// and pass it to every element; a unary operation passes it to its operand
// without a context of its own. Every other expression is left as it is:
// whether it is a valid target is for the caller to judge. Nested targets
// are rewritten with an explicit work list, so any depth is safe.
void set_expr_ctx(python_ast::Expr* expr, python_ast::ExpressionContext ctx);

}  // namespace python_parser::helpers
