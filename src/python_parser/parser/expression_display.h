#pragma once

// Displays and comprehensions: list, set and dict displays, list, set and
// dict comprehensions, generator expressions, and the `for ... in ... if ...`
// clauses they share.
//
// A braced display is one grammar entry for four node kinds. The parser
// never backtracks to tell them apart: it parses the first entry with the
// most general element grammar and decides by the single token after it
// (`:` a dict, `for`/`async` a comprehension, anything else a set).
//
// Every function here records its errors with Parser::add_error and returns
// a complete node; none stops at the first error. The displays and the
// clause list each count one level of the parser's nesting limit
// (depth_guard.h); past it they return an empty display or no clauses.

#include <span>

#include "python_ast/nodes.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// list_display: '[' [star_named_expressions] ']'
// listcomp:     '[' named_expression for_if_clauses ']'
//
// An ExprList or an ExprListComprehension. The current token must be `[`.
python_ast::Expr* parse_list_like_expression(Parser& parser);

// dict:     '{' [double_starred_kvpairs] '}'
// set:      '{' star_named_expressions '}'
// dictcomp: '{' kvpair for_if_clauses '}'
// setcomp:  '{' named_expression for_if_clauses '}'
//
// An ExprDict, ExprSet, ExprDictComprehension or ExprSetComprehension; `{}`
// is an empty dict. The current token must be `{`.
python_ast::Expr* parse_set_or_dict_like_expression(Parser& parser);

// for_if_clauses: for_if_clause+
// for_if_clause:  ['async'] 'for' star_targets 'in' disjunction ('if' disjunction)*
//
// The clauses that start at the current token, in order; empty when it is
// neither `async` nor `for`.
std::span<python_ast::Comprehension> parse_generators(Parser& parser);

// genexp: '(' ( assignment_expression | expression !':=') for_if_clauses ')'
//
// The generator whose `element` has been parsed, the current token being
// its first `for` or `async`. With `parenthesized` the generator owns its
// parentheses: the caller consumed the `(` at `start`, and this function
// consumes the `)`, so the range ends after it. Without, the generator is
// the sole argument of a call whose parentheses belong to the call.
python_ast::ExprGenerator* parse_generator_expression(Parser& parser, python_ast::Expr* element,
                                                      text_size::TextOffset start, bool parenthesized);

}  // namespace python_parser
