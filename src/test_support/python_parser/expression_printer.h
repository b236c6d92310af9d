#pragma once

// The S-expressions of the expression tree tests.

#include <string>
#include <string_view>
#include <vector>

#include "python_ast/nodes.h"
#include "python_parser/parse.h"

namespace python_parser::expression_testing {

// The S-expression of an expression:
//   names `x` (with `@Store`, `@Del`, `@Invalid` for other contexts; the
//   empty name of recovery is `@Invalid`, and so is an empty attribute,
//   keyword or parameter name); literals as written;
//   `(list ...)`, `(tuple ...)` / `(ptuple ...)` (parenthesized), `(set ...)`,
//   `(dict (: k v) (** m))`, `(listcomp e CLAUSE...)`, `(setcomp e ...)`,
//   `(dictcomp k v ...)`, `(gen e ...)` / `(pgen e ...)` (parenthesized),
//   CLAUSE `(for target iter (if c...))` or `(async-for ...)`; `(* v)`,
//   `(:= t v)`, binary and boolean operators by their text `(+ a b)`,
//   `(and a b c)`, unary ones `(not a)`, `(USub a)`, `(UAdd a)`,
//   `(Invert a)`; `(cmp a < b)`, `(if body test orelse)`, `(call f args
//   (kw name v) (kw** m))`, `(. v attr)`, `([] v slice)`, `(slice lower
//   upper step)`, `(await v)`, `(yield)`, `(yield v)`, `(yield-from v)`;
//   a list, tuple, starred, attribute or subscript in another context than
//   Load carries it after its head: `(list@Store ...)`, `(.@Del v attr)`;
//   an absent operand `<null>`; any other node `<Kind>`;
//   `(lambda [PARAMS] body)`, `(lambda body)` when it has no parameter list,
//   PARAMS in declaration order as Python writes them, `a b=1 / c *args d
//   **kw` (`*` alone before keyword-only ones without `*args`), with an
//   annotation as `a:e`;
//   `(str "joined" (s FLAGS "value")...)`, `(bytes (b FLAGS "value")...)`,
//   `(fstr PART...)` with PART `(s ...)` or `(f FLAGS ELEMENT...)`,
//   `(tstr (t FLAGS ELEMENT...)...)`; ELEMENT a quoted literal or
//   `(interp e (debug "leading" "trailing") !r (spec ELEMENT...))`;
//   FLAGS the prefix and the quotes, then `+invalid` and `+unclosed`.
std::string sexpr(const python_ast::Expr& expr, std::string_view source);

// "Type start..end" of the expression and every node below it, pre-order.
std::string node_ranges(const python_ast::Expr& expr);


// One expression, parsed in expression mode, with every error of the parse
// in its display form.
struct ParsedExpression {
  Parsed<python_ast::Mod> parsed;
  const python_ast::Expr* expr = nullptr;
  std::vector<std::string> errors;

  std::string tree() const { return sexpr(*expr, parsed.tree->source()); }
  std::string ranges() const { return node_ranges(*expr); }
  std::string first_error() const { return errors.empty() ? std::string("<none>") : errors.front(); }
};

ParsedExpression parse_expression_for_test(std::string_view source);

// A text and its expected tree.
struct TreeCase {
  std::string_view source;
  std::string_view tree;
};

}  // namespace python_parser::expression_testing
