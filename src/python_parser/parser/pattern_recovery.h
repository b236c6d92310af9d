#pragma once

// Turning a match pattern into the expression that reads the same way.
//
// The pattern parser calls it where a pattern was parsed but an expression
// is needed, each time after it has recorded the syntax error: a mapping key
// that is neither a value nor a singleton, the class of a class pattern that
// is neither a capture nor a dotted name, an operand of a complex literal
// that is not a value. The tree then stays well formed. The conversion
// records nothing and cannot fail on a pattern that the parser builds.

#include "python_ast/arena.h"
#include "python_ast/nodes.h"

namespace python_parser {

// The expression of `pattern`, built in `arena`. Sub-expressions the
// pattern holds (values, keys, the class) are reused, not copied; each new
// node takes the range and node index of the pattern node it comes from:
//   value            -> its expression
//   None/True/False  -> the literal
//   [p, ...]         -> a list (store)           {k: p, **r} -> a dict
//   C(p, k=p)        -> a call                   *x, *_      -> starred name (store)
//   x, _             -> a name (store)           p as x      -> an empty invalid name
//   p | q | r        -> `|` operations nested to the left
// An or-pattern of fewer than two alternatives is fatal.
python_ast::Expr* pattern_to_expr(python_ast::Arena& arena, python_ast::Pattern* pattern);

}  // namespace python_parser
