#pragma once

// Statements: the dispatch on a statement's first token, the end of a
// statement, clause bodies, the compound statements (`if`, `while`, `for`,
// `try`, `def`, `class`, their decorators and `async` forms, and the
// decision whether `match` starts a match statement), and every simple
// statement with its target validators, import aliases and dotted names.
//
// `with` statements and the inside of `match` statements are parsed in
// with.h and pattern.h, which call parse_body for their clause bodies.
//
// Every function here runs inside the parser core (parser.h), records each
// problem through Parser::add_error and returns a best-effort node; none
// stops at an error. Nodes, lists and texts go into the parser's arena.

#include <cstdint>
#include <span>

#include "python_ast/nodes.h"
#include "python_parser/error.h"
#include "text_size/text_size.h"

namespace python_parser {

class Parser;

// ---- Statements and bodies ----

// One statement. Called only when the current token starts a statement; the
// element parser of the module's and every block's statement list.
python_ast::Stmt* parse_statement(Parser& parser);

// The body of a clause whose `:` the caller has consumed (or expected): an
// indented block after a newline, or simple statements on the header's line.
// A missing block records "Expected an indented block after {clause}" and
// gives an empty body.
std::span<python_ast::Stmt*> parse_body(Parser& parser, Clause clause);

// One simple statement (expression, assignment, `return`, `import`, ...).
// The separator that follows it (newline or `;`) is left to the caller.
python_ast::Stmt* parse_simple_statement(Parser& parser);

// ---- Compound statements entered from elsewhere ----

// `def name[type params](parameters) -> returns: body`, not async; the
// current token must be `def`. `start` is the statement's start (its first
// decorator's `@`, its `async`, or the `def`).
python_ast::StmtFunctionDefinition* parse_function_definition(Parser& parser,
                                                              std::span<python_ast::Decorator> decorators,
                                                              text_size::TextOffset start);

// `class name[type params](arguments): body`; the current token must be
// `class`. `start` as for parse_function_definition.
python_ast::StmtClassDefinition* parse_class_definition(Parser& parser, std::span<python_ast::Decorator> decorators,
                                                        text_size::TextOffset start);

// `for target in iter: body else: body`, not async; the current token must be
// `for`. `start` is the `for`'s start, or the `async`'s.
python_ast::StmtFor* parse_for_statement(Parser& parser, text_size::TextOffset start);

// Which clause parse_elif_or_else_clause parses.
enum class ElifOrElse : std::uint8_t { Elif, Else };

// One `elif test: body` or `else: body` clause of an `if`; the current token
// must be `elif` or `else` accordingly.
python_ast::ElifElseClause parse_elif_or_else_clause(Parser& parser, ElifOrElse clause);

// ---- Targets ----

// Records "Invalid assignment target" at every part of `target` that cannot
// be assigned to: names, attributes and subscripts can; starred expressions,
// lists and tuples can when their parts can. Changes nothing. Also used for
// `for`, comprehension and `with` targets.
void validate_assignment_target(Parser& parser, const python_ast::Expr* target);

// Records "Invalid delete target" at every part of `target` that cannot be
// deleted: names, attributes and subscripts can; lists and tuples can when
// their parts can; starred expressions cannot. Changes nothing.
void validate_delete_target(Parser& parser, const python_ast::Expr* target);

// Where a starred element of an unparenthesized tuple stands, for the
// version-gated check below.
enum class TupleUnpackingKind : std::uint8_t {
  Return,       // `return *a, b`
  Yield,        // `yield *a, b`
  ForIterable,  // `for x in *a, b:`
};

// The check for starred elements of an unparenthesized tuple in positions
// that older Pythons refuse. This program never records version-gated
// syntax, so the check does nothing; it stays as the one place callers
// name these positions.
void check_tuple_unpacking(Parser& parser, const python_ast::Expr* expr, TupleUnpackingKind kind);

// ---- Imports ----

// How an alias's name is written: one identifier (`from m import name`) or a
// dotted module name (`import a.b.c`).
enum class ImportStyle : std::uint8_t { Identifier, Dotted };

// `name`, `name as other`, or `*`.
python_ast::Alias parse_alias(Parser& parser, ImportStyle style);

// `a.b.c` as one identifier whose text is the parts joined by "." (built from
// the identifiers, so blanks, comments and line continuations between the
// parts vanish); its range covers the whole name.
python_ast::Identifier parse_dotted_name(Parser& parser);

}  // namespace python_parser
