#pragma once

// Statements, the records only statements use, and the root of a parse.
//
// Meanings the parser guarantees: `is_async` is true when the statement
// began with `async`; an absent `else` or `finally` clause is an empty list;
// `StmtIf::elif_else_clauses` holds the `elif` clauses and then at most one
// `else` clause (test nullptr), last; `StmtTry::is_star` is true when the
// first handler is `except*`; a name recovery had to invent is an empty
// Identifier with an empty range.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "python_ast/identifier.h"
#include "python_ast/nodes_expr.h"
#include "python_ast/nodes_family.h"
#include "python_ast/nodes_parameters.h"
#include "python_ast/nodes_pattern.h"

namespace python_ast {

// The base of every statement.
struct Stmt {
  TOLVA_NODE_FAMILY_BASE(Stmt, StmtKind)
};

static_assert(sizeof(Stmt) == 16, "the statement header is index, range and kind");

// `@expression`, from "@" to the end of the expression.
struct Decorator {
  TOLVA_NODE_RECORD(Decorator)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Expr* expression = nullptr;

  Decorator() = default;
  Decorator(text_size::TextRange range, Expr* expression) : range(range), expression(expression) {}
};

// One `elif` clause (with a test) or the `else` clause (test nullptr) of an
// `if`, from the keyword to the end of its body.
struct ElifElseClause {
  TOLVA_NODE_RECORD(ElifElseClause)

  AtomicNodeIndex node_index;
  text_size::TextRange range;
  Expr* test = nullptr;
  std::span<Stmt*> body;

  ElifElseClause() = default;
  ElifElseClause(text_size::TextRange range, Expr* test, std::span<Stmt*> body)
      : range(range), test(test), body(body) {}
};

// The family of `except` clauses; it has one variant.
struct ExceptHandler {
  TOLVA_NODE_FAMILY_BASE(ExceptHandler, ExceptHandlerKind)
};

// One `except` or `except*` clause, from `except` to the end of its body.
struct ExceptHandlerExceptHandler final : ExceptHandler {
  TOLVA_NODE_VARIANT(ExceptHandlerKind, ExceptHandler)
  Expr* type;  // optional
  std::optional<Identifier> name;
  std::span<Stmt*> body;
  ExceptHandlerExceptHandler(text_size::TextRange range, Expr* type, std::optional<Identifier> name,
                             std::span<Stmt*> body)
      : ExceptHandler(kKind, range), type(type), name(name), body(body) {}
};

// ---------------------------------------------------------------------------
// The 25 variants, in table order.

// `def`, `async def`.
struct StmtFunctionDefinition final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, FunctionDefinition)
  std::span<Decorator> decorators;
  Identifier name;
  TypeParams* type_params;  // optional
  Parameters* parameters;
  Expr* returns;  // optional: the annotation after `->`
  std::span<Stmt*> body;
  bool is_async;
  StmtFunctionDefinition(text_size::TextRange range, std::span<Decorator> decorators, Identifier name,
                         TypeParams* type_params, Parameters* parameters, Expr* returns, std::span<Stmt*> body,
                         bool is_async)
      : Stmt(kKind, range),
        decorators(decorators),
        name(name),
        type_params(type_params),
        parameters(parameters),
        returns(returns),
        body(body),
        is_async(is_async) {}
};

// `class`; `arguments` is nullptr without parentheses.
struct StmtClassDefinition final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, ClassDefinition)
  std::span<Decorator> decorators;
  Identifier name;
  TypeParams* type_params;  // optional
  Arguments* arguments;     // optional
  std::span<Stmt*> body;
  StmtClassDefinition(text_size::TextRange range, std::span<Decorator> decorators, Identifier name,
                      TypeParams* type_params, Arguments* arguments, std::span<Stmt*> body)
      : Stmt(kKind, range),
        decorators(decorators),
        name(name),
        type_params(type_params),
        arguments(arguments),
        body(body) {}
};

struct StmtReturn final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Return)
  Expr* value;  // optional
  StmtReturn(text_size::TextRange range, Expr* value) : Stmt(kKind, range), value(value) {}
};

struct StmtDelete final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Delete)
  std::span<Expr*> targets;
  StmtDelete(text_size::TextRange range, std::span<Expr*> targets) : Stmt(kKind, range), targets(targets) {}
};

// `type X[T] = value`.
struct StmtTypeAlias final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, TypeAlias)
  Expr* name;
  TypeParams* type_params;  // optional
  Expr* value;
  StmtTypeAlias(text_size::TextRange range, Expr* name, TypeParams* type_params, Expr* value)
      : Stmt(kKind, range), name(name), type_params(type_params), value(value) {}
};

// `a = b = value`: targets left to right.
struct StmtAssignment final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Assignment)
  std::span<Expr*> targets;
  Expr* value;
  StmtAssignment(text_size::TextRange range, std::span<Expr*> targets, Expr* value)
      : Stmt(kKind, range), targets(targets), value(value) {}
};

// `target op= value`.
struct StmtAugmentedAssignment final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, AugmentedAssignment)
  Expr* target;
  Expr* value;
  BinaryOperator op;
  StmtAugmentedAssignment(text_size::TextRange range, Expr* target, Expr* value, BinaryOperator op)
      : Stmt(kKind, range), target(target), value(value), op(op) {}
};

// `target: annotation = value`; `simple` for a name target outside
// parentheses.
struct StmtAnnotatedAssignment final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, AnnotatedAssignment)
  Expr* target;
  Expr* annotation;
  Expr* value;  // optional
  bool simple;
  StmtAnnotatedAssignment(text_size::TextRange range, Expr* target, Expr* annotation, Expr* value, bool simple)
      : Stmt(kKind, range), target(target), annotation(annotation), value(value), simple(simple) {}
};

// `for`, `async for`.
struct StmtFor final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, For)
  Expr* target;
  Expr* iter;
  std::span<Stmt*> body;
  std::span<Stmt*> else_body;
  bool is_async;
  StmtFor(text_size::TextRange range, Expr* target, Expr* iter, std::span<Stmt*> body, std::span<Stmt*> else_body,
          bool is_async)
      : Stmt(kKind, range), target(target), iter(iter), body(body), else_body(else_body), is_async(is_async) {}
};

struct StmtWhile final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, While)
  Expr* test;
  std::span<Stmt*> body;
  std::span<Stmt*> else_body;
  StmtWhile(text_size::TextRange range, Expr* test, std::span<Stmt*> body, std::span<Stmt*> else_body)
      : Stmt(kKind, range), test(test), body(body), else_body(else_body) {}
};

struct StmtIf final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, If)
  Expr* test;
  std::span<Stmt*> body;
  std::span<ElifElseClause> elif_else_clauses;
  StmtIf(text_size::TextRange range, Expr* test, std::span<Stmt*> body, std::span<ElifElseClause> elif_else_clauses)
      : Stmt(kKind, range), test(test), body(body), elif_else_clauses(elif_else_clauses) {}
};

// `with`, `async with`.
struct StmtWith final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, With)
  std::span<WithItem> items;
  std::span<Stmt*> body;
  bool is_async;
  StmtWith(text_size::TextRange range, std::span<WithItem> items, std::span<Stmt*> body, bool is_async)
      : Stmt(kKind, range), items(items), body(body), is_async(is_async) {}
};

struct StmtMatch final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Match)
  Expr* subject;
  std::span<MatchCase> cases;
  StmtMatch(text_size::TextRange range, Expr* subject, std::span<MatchCase> cases)
      : Stmt(kKind, range), subject(subject), cases(cases) {}
};

// `raise exception from cause`.
struct StmtRaise final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Raise)
  Expr* exception;  // optional
  Expr* cause;      // optional
  StmtRaise(text_size::TextRange range, Expr* exception, Expr* cause)
      : Stmt(kKind, range), exception(exception), cause(cause) {}
};

struct StmtTry final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Try)
  std::span<Stmt*> body;
  std::span<ExceptHandler*> handlers;
  std::span<Stmt*> else_body;
  std::span<Stmt*> finally_body;
  bool is_star;
  StmtTry(text_size::TextRange range, std::span<Stmt*> body, std::span<ExceptHandler*> handlers,
          std::span<Stmt*> else_body, std::span<Stmt*> finally_body, bool is_star)
      : Stmt(kKind, range),
        body(body),
        handlers(handlers),
        else_body(else_body),
        finally_body(finally_body),
        is_star(is_star) {}
};

struct StmtAssert final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Assert)
  Expr* test;
  Expr* message;  // optional
  StmtAssert(text_size::TextRange range, Expr* test, Expr* message)
      : Stmt(kKind, range), test(test), message(message) {}
};

struct StmtImport final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Import)
  std::span<Alias> names;
  StmtImport(text_size::TextRange range, std::span<Alias> names) : Stmt(kKind, range), names(names) {}
};

// `from module import names`: the dotted module name as one identifier,
// absent for `from . import x`; `level` counts the leading dots.
struct StmtFromImport final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, FromImport)
  std::optional<Identifier> module;
  std::span<Alias> names;
  std::uint32_t level;
  StmtFromImport(text_size::TextRange range, std::optional<Identifier> module, std::span<Alias> names,
                 std::uint32_t level)
      : Stmt(kKind, range), module(module), names(names), level(level) {}
};

struct StmtGlobal final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Global)
  std::span<Identifier> names;
  StmtGlobal(text_size::TextRange range, std::span<Identifier> names) : Stmt(kKind, range), names(names) {}
};

struct StmtNonlocal final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Nonlocal)
  std::span<Identifier> names;
  StmtNonlocal(text_size::TextRange range, std::span<Identifier> names) : Stmt(kKind, range), names(names) {}
};

// An expression used as a statement.
struct StmtExpression final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Expression)
  Expr* value;
  StmtExpression(text_size::TextRange range, Expr* value) : Stmt(kKind, range), value(value) {}
};

struct StmtPass final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Pass)
  explicit StmtPass(text_size::TextRange range) : Stmt(kKind, range) {}
};

struct StmtBreak final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Break)
  explicit StmtBreak(text_size::TextRange range) : Stmt(kKind, range) {}
};

struct StmtContinue final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, Continue)
  explicit StmtContinue(text_size::TextRange range) : Stmt(kKind, range) {}
};

// An IPython escape command statement (IPython mode only). Its field `kind`
// hides the family's `kind()`; reach that one as `Stmt::kind()`.
struct StmtIpyEscapeCommand final : Stmt {
  TOLVA_NODE_VARIANT(StmtKind, IpyEscapeCommand)
  std::string_view value;
  IpyEscapeKind kind;
  StmtIpyEscapeCommand(text_size::TextRange range, std::string_view value, IpyEscapeKind kind)
      : Stmt(kKind, range), value(value), kind(kind) {}
};

// ---------------------------------------------------------------------------
// The root of a parse.

struct Mod {
  TOLVA_NODE_FAMILY_BASE(Mod, ModKind)
};

// A module: its top-level statements, range 0 to the end of the text.
struct ModModule final : Mod {
  TOLVA_NODE_VARIANT(ModKind, Module)
  std::span<Stmt*> body;
  ModModule(text_size::TextRange range, std::span<Stmt*> body) : Mod(kKind, range), body(body) {}
};

// One expression, from the expression modes of the parser.
struct ModExpression final : Mod {
  TOLVA_NODE_VARIANT(ModKind, Expression)
  Expr* body;
  ModExpression(text_size::TextRange range, Expr* body) : Mod(kKind, range), body(body) {}
};

}  // namespace python_ast
