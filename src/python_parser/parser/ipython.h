#pragma once

// IPython escape commands (Mode::Ipython): the statement of a command token
// at the start of a statement (`!ls`, `%timeit f()`, `?obj`), the expression
// of a command right after `=` (`x = !pwd`), and the help request written
// after an expression (`obj.attr?`, `obj[0]??`).
//
// The lexer makes command tokens and `?` tokens in IPython mode only; these
// parsers still record "IPython escape commands are only allowed in
// `Mode::Ipython`" should a command token reach them in another mode.

#include "python_ast/nodes.h"
#include "python_parser/parser/expression.h"

namespace python_parser {

class Parser;

// The current token is an IpyEscapeCommand at the start of a statement: the
// statement holding its kind and text, with the token's range.
python_ast::StmtIpyEscapeCommand* parse_ipython_escape_command_statement(Parser& parser);

// The current token is an IpyEscapeCommand where an operand is expected: the
// expression holding its kind and text. Only "!" and "%" commands stand
// there; a help kind (which the lexer makes of `x = %foo?`) is recorded as
// "IPython escape command expression is only allowed for % and !" at the
// command.
python_ast::ExprIpyEscapeCommand* parse_ipython_escape_command_expression(Parser& parser);

// The current token is the `?` after the expression `expr` of an expression
// statement: one `?` asks for help (kind Question), two for more help
// (DoubleQuestion). The statement's text is the source form of `expr`, which
// must be a name, an attribute or a subscript by an integer literal; it runs
// from the start of `expr` through the last `?`.
python_ast::StmtIpyEscapeCommand* parse_ipython_help_end_escape_command_statement(Parser& parser, MarkedExpr expr);

}  // namespace python_parser
