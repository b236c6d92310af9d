#pragma once

// `with` statements.
//
// The hard part is a `with` followed by `(`: the parenthesis may enclose a
// list of with items, `with (a as x, b as y):`, or may begin an ordinary
// parenthesized context expression, `with (a, b) as t:`, `with (yield v):`.
// The item-list reading is tried first from a checkpoint; when its result
// does not fit, the parser rewinds (dropping every token, error and record of
// the first reading) and reads the parenthesis as the start of the first
// item's context expression instead.

#include "python_ast/nodes.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// One parsed item and whether its context expression was itself a
// parenthesized group, as in `with ((yield x)):`.
struct ParsedWithItem {
  python_ast::WithItem item;
  bool is_parenthesized = false;
};

// with_stmt:
//     | 'with' '(' ','.with_item+ ','? ')' ':' block
//     | 'with' ','.with_item+ ':' block
// The current token must be `with`; `start` is the statement's start (the
// `async` of `async with`, for which the caller sets `is_async`). The
// statement comes back with `is_async` false.
python_ast::StmtWith* parse_with_statement(Parser& parser, text_size::TextOffset start);

// with_item:
//     | expression 'as' star_target
//     | expression
// `in_item_list`: the item stands inside the parentheses of a with-item
// list, where `a := b`, `*a` and `yield a` are parsed as context
// expressions (and judged by the caller).
ParsedWithItem parse_with_item(Parser& parser, bool in_item_list);

}  // namespace python_parser
