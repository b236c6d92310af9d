#include "python_parser/parser/statement.h"

#include <optional>
#include <string>
#include <utility>

#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/expression.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/parameters.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/pattern.h"
#include "python_parser/parser/with.h"
#include "support/fatal_error.h"

namespace python_parser {

using python_ast::Decorator;
using python_ast::ElifElseClause;
using python_ast::ExceptHandler;
using python_ast::Expr;
using python_ast::ExpressionContext;
using python_ast::Identifier;
using python_ast::Stmt;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

constexpr ExpressionParseFlags kNoFlags = ExpressionParseFlags::None;

// Tokens that start a simple statement: an expression (soft keywords
// included) or a simple statement's keyword.
constexpr TokenSet kSimpleStatementStart =
    token_sets::kExpressionStart | TokenSet{TokenKind::Assert, TokenKind::Break,    TokenKind::Continue,
                                            TokenKind::Del,    TokenKind::From,     TokenKind::Global,
                                            TokenKind::Import, TokenKind::Nonlocal, TokenKind::Pass,
                                            TokenKind::Raise,  TokenKind::Return};
constexpr const TokenSet& kCompoundStart = token_sets::kCompoundStart;

// The statement that stands in for one the nesting limit did not let the
// parser read: an expression statement of the empty, invalid name.
Stmt* empty_statement(Parser& parser, TextOffset start) {
  TextRange range = parser.node_range(start);
  Expr* name = parser.arena().make<python_ast::ExprName>(range, python_ast::Name(), ExpressionContext::Invalid);
  return parser.arena().make<python_ast::StmtExpression>(range, name);
}

bool is_unparenthesized_tuple(const Expr* expr) {
  const auto* tuple = expr->as<python_ast::ExprTuple>();
  return tuple != nullptr && !tuple->parenthesized;
}

// The match statement after its subject: `:`, then the case block.
Stmt* finish_match_statement(Parser& parser, Expr* subject, TextOffset start) {
  std::span<python_ast::MatchCase> cases = parse_match_body(parser);
  return parser.arena().make<python_ast::StmtMatch>(parser.node_range(start), subject, cases);
}

// How the tokens after a statement-initial `match` read.
enum class MatchReading : std::uint8_t {
  Statement,   // a match statement, certainly
  Ambiguous,   // `match(`, `match[`, `match -`, ...: only a trial parse tells
  Expression,  // `match` is a name
};

MatchReading read_match(Parser& parser) {
  auto [first, second] = parser.peek2();
  switch (first) {
    case TokenKind::Name:
    case TokenKind::Int:
    case TokenKind::Float:
    case TokenKind::Complex:
    case TokenKind::String:
    case TokenKind::FStringStart:
    case TokenKind::TStringStart:
    case TokenKind::Lbrace:
    case TokenKind::Tilde:
    case TokenKind::Ellipsis:
    case TokenKind::Await:
    case TokenKind::Lambda:
    case TokenKind::Yield:
    case TokenKind::Case:
    case TokenKind::Match:
    case TokenKind::Type:
    case TokenKind::False:
    case TokenKind::None:
    case TokenKind::True:
      return MatchReading::Statement;
    case TokenKind::Not:
      // `match not in x` compares the name `match`.
      return second == TokenKind::In ? MatchReading::Expression : MatchReading::Statement;
    case TokenKind::Lpar:
    case TokenKind::Lsqb:
    case TokenKind::Plus:
    case TokenKind::Minus:
    case TokenKind::Star:
      return MatchReading::Ambiguous;
    default:
      return MatchReading::Expression;
  }
}

// The trial parse of an ambiguous `match`: after the subject, either `:` and
// a newline, or a newline directly followed by an indented `case` (the `:`
// forgotten) make it a match statement.
bool subject_ends_match_header(Parser& parser) {
  if (parser.at(TokenKind::Colon)) return parser.peek() == TokenKind::Newline;
  if (parser.at(TokenKind::Newline)) {
    auto [first, second] = parser.peek2();
    return first == TokenKind::Indent && second == TokenKind::Case;
  }
  return false;
}

// match_stmt:
//     | "match" subject_expr ':' NEWLINE INDENT case_block+ DEDENT
// The match statement that starts at the current `match`, or nullptr (with
// the parser as it was) when `match` is a name here.
Stmt* try_parse_match_statement(Parser& parser, TextOffset start) {
  switch (read_match(parser)) {
    case MatchReading::Expression:
      return nullptr;
    case MatchReading::Statement: {
      parser.bump(TokenKind::Match);
      Expr* subject = parse_match_subject_expression(parser);
      parser.expect(TokenKind::Colon);
      return finish_match_statement(parser, subject, start);
    }
    case MatchReading::Ambiguous:
      break;
  }
  std::optional<SpeculativeReading> reading(std::in_place, parser);
  parser.bump(TokenKind::Match);
  Expr* subject = parse_match_subject_expression(parser);
  if (subject_ends_match_header(parser)) {
    // The reading stands: the rest of the statement is read for good.
    reading.reset();
    if (!parser.eat(TokenKind::Colon)) {
      // The `:` is missing before an indented case block.
      parser.add_error(ParseErrorType::expected_token(TokenKind::Colon, TokenKind::Newline),
                       parser.current_token_range());
    }
    return finish_match_statement(parser, subject, start);
  }
  reading->rewind();
  return nullptr;
}

// Whether the current `match` starts a match statement (a trial parse, undone
// in every case, where the tokens after it are ambiguous).
bool match_starts_match_statement(Parser& parser) {
  switch (read_match(parser)) {
    case MatchReading::Statement:
      return true;
    case MatchReading::Expression:
      return false;
    case MatchReading::Ambiguous:
      break;
  }
  SpeculativeReading reading(parser);
  parser.bump(TokenKind::Match);
  parse_match_subject_expression(parser);
  bool is_statement = subject_ends_match_header(parser);
  reading.rewind();
  return is_statement;
}

// simple_stmts:
//     | simple_stmt !';' NEWLINE
//     | ';'.simple_stmt+ [';'] NEWLINE
// One simple statement of a statement list and the separator after it. A
// further simple statement after `;` is the list's next element.
// `entry` is the number of tokens consumed when the statement began.
Stmt* parse_simple_statement_and_end(Parser& parser, std::uint32_t entry) {
  Stmt* statement = parse_simple_statement(parser);
  // A token that starts a statement but that no statement can use (the
  // expression parser reports it without consuming it) is skipped here, so
  // that the statement list always moves on.
  if (parser.current_token_id() == entry && !parser.at(TokenKind::EndOfFile)) parser.bump_any();

  if (parser.eat(TokenKind::Newline)) return statement;
  if (parser.eat(TokenKind::Semi)) {
    if (parser.eat(TokenKind::Newline)) return statement;
    // `x; match = 1` is two simple statements: `match` starts a compound
    // statement only where it reads as a match statement.
    if (parser.at_set(kCompoundStart) &&
        (!parser.at(TokenKind::Match) || match_starts_match_statement(parser))) {
      parser.add_error(ParseErrorType::CompoundAfterSimpleStatement, parser.current_token_range());
    }
    return statement;
  }
  if (parser.at_set(kSimpleStatementStart)) {
    parser.add_error(ParseErrorType::SimpleStatementsNotSeparated, parser.current_token_range());
  } else if (parser.at_set(kCompoundStart)) {
    parser.add_error(ParseErrorType::CompoundAfterSimpleStatement, parser.current_token_range());
  }
  return statement;
}

// decorators: ('@' named_expression NEWLINE)+
// then the definition they decorate.
Stmt* parse_decorated_definition(Parser& parser, TextOffset start) {
  python_ast::Arena& arena = parser.arena();
  ScratchList<Decorator> list = parser.scratch_list<Decorator>();
  ProgressGuard progress;
  while (parser.at(TokenKind::At)) {
    progress.check(parser);
    TextOffset decorator_start = parser.node_start();
    parser.bump(TokenKind::At);
    Expr* expression;
    if (parser.at(TokenKind::Def) || parser.at(TokenKind::Class)) {
      Identifier missing = parse_missing_identifier(parser);
      expression = arena.make<python_ast::ExprName>(missing.range, missing.id, ExpressionContext::Invalid);
    } else {
      expression = parse_named_expression_or_higher(parser, kNoFlags).expr;
    }
    list.push(Decorator(parser.node_range(decorator_start), expression));
    parser.expect(TokenKind::Newline);
  }
  std::span<Decorator> decorators = list.finish();

  switch (parser.current_token_kind()) {
    case TokenKind::Def:
      return parse_function_definition(parser, decorators, start);
    case TokenKind::Class:
      return parse_class_definition(parser, decorators, start);
    case TokenKind::Async:
      if (parser.peek() == TokenKind::Def) {
        parser.bump(TokenKind::Async);
        python_ast::StmtFunctionDefinition* function = parse_function_definition(parser, decorators, start);
        function->is_async = true;
        return function;
      }
      break;
    default:
      break;
  }
  parser.add_error(
      ParseErrorType::other("Expected class, function definition or async function definition after decorator"),
      parser.current_token_range());
  // A definition without name, parameters or body, holding the decorators;
  // the current token starts the next statement.
  TextRange empty(decorators.back().range.end(), decorators.back().range.end());
  auto* parameters = arena.make<python_ast::Parameters>(empty, std::span<python_ast::ParameterWithDefault>(),
                                                        std::span<python_ast::ParameterWithDefault>(), nullptr,
                                                        std::span<python_ast::ParameterWithDefault>(), nullptr);
  return arena.make<python_ast::StmtFunctionDefinition>(parser.node_range(start), decorators,
                                                        Identifier(python_ast::Name(), empty), nullptr, parameters,
                                                        nullptr, std::span<Stmt*>(), false);
}

// if_stmt:
//     | 'if' named_expression ':' block elif_stmt
//     | 'if' named_expression ':' block [else_block]
Stmt* parse_if_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::If);
  Expr* test = parse_named_expression_or_higher(parser, kNoFlags).expr;
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::If);

  ScratchList<ElifElseClause> clauses = parser.scratch_list<ElifElseClause>();
  RecoveryContextSet saved = parser.recovery_context();
  RecoveryContextSet with_elif = saved;
  with_elif.insert(RecoveryContextKind::Elif);
  parser.set_recovery_context(with_elif);
  ProgressGuard progress;
  while (parser.at(TokenKind::Elif)) {
    progress.check(parser);
    clauses.push(parse_elif_or_else_clause(parser, ElifOrElse::Elif));
  }
  parser.set_recovery_context(saved);
  if (parser.at(TokenKind::Else)) clauses.push(parse_elif_or_else_clause(parser, ElifOrElse::Else));
  std::span<ElifElseClause> elif_else_clauses = clauses.finish();
  return parser.arena().make<python_ast::StmtIf>(parser.node_range(start), test, body, elif_else_clauses);
}

// The `else: block` of a loop: empty when no `else` follows.
std::span<Stmt*> parse_loop_else(Parser& parser) {
  if (!parser.eat(TokenKind::Else)) return {};
  parser.expect(TokenKind::Colon);
  return parse_body(parser, Clause::Else);
}

// while_stmt:
//     | 'while' named_expression ':' block [else_block]
Stmt* parse_while_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::While);
  Expr* test = parse_named_expression_or_higher(parser, kNoFlags).expr;
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::While);
  std::span<Stmt*> else_body = parse_loop_else(parser);
  return parser.arena().make<python_ast::StmtWhile>(parser.node_range(start), test, body, else_body);
}

// One handler and whether it is an `except*` one.
struct ParsedHandler {
  ExceptHandler* handler;
  bool is_star;
};

// except_block:
//     | 'except' expression ['as' NAME] ':' block
//     | 'except' ':' block
// except_star_block:
//     | 'except' '*' expression ['as' NAME] ':' block
ParsedHandler parse_except_clause(Parser& parser) {
  TextOffset start = parser.node_start();
  parser.bump(TokenKind::Except);
  bool is_star = parser.eat(TokenKind::Star);

  Expr* type = nullptr;
  if (can_start_expression(parser.current_token_kind())) {
    type = parse_expression_list(parser, kNoFlags).expr;
    if (is_unparenthesized_tuple(type) && parser.at(TokenKind::As)) {
      parser.add_error(ParseErrorType::other("Multiple exception types must be parenthesized when using `as`"),
                       *type);
    }
  } else if (is_star || parser.at(TokenKind::As)) {
    parser.add_error(ParseErrorType::other("Expected one or more exception types"), parser.current_token_range());
  }

  std::optional<Identifier> name;
  if (parser.eat(TokenKind::As)) {
    if (parser.at(TokenKind::Name) || python_ast::is_soft_keyword(parser.current_token_kind())) {
      name = parse_identifier(parser);
    } else {
      parser.add_error(ParseErrorType::other("Expected name after `as`"), parser.current_token_range());
    }
  }
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::Except);
  ExceptHandler* handler =
      parser.arena().make<python_ast::ExceptHandlerExceptHandler>(parser.node_range(start), type, name, body);
  return ParsedHandler{handler, is_star};
}

// try_stmt:
//     | 'try' ':' block finally_block
//     | 'try' ':' block except_block+ [else_block] [finally_block]
//     | 'try' ':' block except_star_block+ [else_block] [finally_block]
Stmt* parse_try_statement(Parser& parser, TextOffset start) {
  python_ast::Arena& arena = parser.arena();
  parser.bump(TokenKind::Try);
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::Try);
  bool has_handlers = parser.at(TokenKind::Except);

  ScratchList<ParsedHandler> parsed = parser.scratch_list<ParsedHandler>();
  RecoveryContextSet saved = parser.recovery_context();
  RecoveryContextSet with_except = saved;
  with_except.insert(RecoveryContextKind::Except);
  parser.set_recovery_context(with_except);
  ProgressGuard progress;
  while (parser.at(TokenKind::Except)) {
    progress.check(parser);
    parsed.push(parse_except_clause(parser));
  }
  parser.set_recovery_context(saved);

  // The first handler decides between `except` and `except*`; each handler
  // of the other sort is reported, in order.
  bool is_star = !parsed.empty() && parsed[0].is_star;
  std::span<ExceptHandler*> handlers = arena.make_array<ExceptHandler*>(parsed.size());
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    ParsedHandler handler = parsed[i];
    handlers[i] = handler.handler;
    if (handler.is_star != is_star) {
      parser.add_error(ParseErrorType::other("Cannot have both 'except' and 'except*' on the same 'try'"),
                       handler.handler->range);
    }
  }

  std::span<Stmt*> else_body;
  if (parser.eat(TokenKind::Else)) {
    parser.expect(TokenKind::Colon);
    else_body = parse_body(parser, Clause::Else);
  }
  std::span<Stmt*> finally_body;
  if (parser.eat(TokenKind::Finally)) {
    parser.expect(TokenKind::Colon);
    finally_body = parse_body(parser, Clause::Finally);
    if (parser.at(TokenKind::Else)) {
      parser.add_error(ParseErrorType::other("`else` block must come before `finally` block"),
                       parser.current_token_range());
    }
  } else if (!has_handlers) {
    parser.add_error(ParseErrorType::other("Expected `except` or `finally` after `try` block"),
                     parser.current_token_range());
  }
  return arena.make<python_ast::StmtTry>(parser.node_range(start), body, handlers, else_body, finally_body, is_star);
}

}  // namespace

// statement: compound_stmt | simple_stmts
// compound_stmt:
//     | function_def | if_stmt | class_def | with_stmt | for_stmt
//     | try_stmt | while_stmt | match_stmt
Stmt* parse_statement(Parser& parser) {
  DepthGuard depth(parser);
  if (depth.exceeded()) return empty_statement(parser, parser.node_start());

  // `async` not followed by `def`, `with` or `for` is reported and skipped;
  // the token after it starts the statement.
  std::uint32_t entry = parser.current_token_id();
  for (;;) {
    TextOffset start = parser.node_start();
    switch (parser.current_token_kind()) {
      case TokenKind::At:
        return parse_decorated_definition(parser, start);
      case TokenKind::Class:
        return parse_class_definition(parser, {}, start);
      case TokenKind::Def:
        return parse_function_definition(parser, {}, start);
      case TokenKind::For:
        return parse_for_statement(parser, start);
      case TokenKind::If:
        return parse_if_statement(parser, start);
      case TokenKind::Try:
        return parse_try_statement(parser, start);
      case TokenKind::While:
        return parse_while_statement(parser, start);
      case TokenKind::With:
        return parse_with_statement(parser, start);
      case TokenKind::Match:
        if (Stmt* match = try_parse_match_statement(parser, start)) return match;
        return parse_simple_statement_and_end(parser, entry);
      case TokenKind::Async: {
        parser.bump(TokenKind::Async);
        switch (parser.current_token_kind()) {
          case TokenKind::With: {
            python_ast::StmtWith* with = parse_with_statement(parser, start);
            with->is_async = true;
            return with;
          }
          case TokenKind::For: {
            python_ast::StmtFor* loop = parse_for_statement(parser, start);
            loop->is_async = true;
            return loop;
          }
          case TokenKind::Def: {
            python_ast::StmtFunctionDefinition* function = parse_function_definition(parser, {}, start);
            function->is_async = true;
            return function;
          }
          default:
            parser.add_error(ParseErrorType::unexpected_token_after_async(parser.current_token_kind()),
                             parser.current_token_range());
            continue;
        }
      }
      default:
        return parse_simple_statement_and_end(parser, entry);
    }
  }
}

// block: NEWLINE INDENT statements DEDENT | simple_stmts
std::span<Stmt*> parse_body(Parser& parser, Clause clause) {
  if (parser.at(TokenKind::Newline)) {
    TextRange newline = parser.current_token_range();
    parser.bump(TokenKind::Newline);
    if (parser.at(TokenKind::Indent)) {
      parser.bump(TokenKind::Indent);
      std::span<Stmt*> body = parser.parse_list(RecoveryContextKind::BlockStatements, parse_statement);
      parser.expect(TokenKind::Dedent);
      return body;
    }
    TextRange current = parser.current_token_range();
    parser.add_error(ParseErrorType::other("Expected an indented block after " + std::string(display(clause))),
                     current.is_empty() ? newline : current);
    return {};
  }

  if (parser.at_set(kSimpleStatementStart)) {
    // Simple statements on the clause's own line.
    ScratchList<Stmt*> list = parser.scratch_list<Stmt*>();
    ProgressGuard progress;
    for (;;) {
      progress.check(parser);
      std::uint32_t before = parser.current_token_id();
      list.push(parse_simple_statement(parser));
      // As in a statement list: a statement that could not use its first
      // token does not stall the line.
      if (parser.current_token_id() == before && !parser.at(TokenKind::EndOfFile)) parser.bump_any();
      if (parser.eat(TokenKind::Semi)) {
        if (parser.at_set(kSimpleStatementStart)) continue;
        break;
      }
      if (parser.at_set(kSimpleStatementStart)) {
        parser.add_error(ParseErrorType::SimpleStatementsNotSeparated, parser.current_token_range());
        continue;
      }
      break;
    }
    if (!parser.eat(TokenKind::Newline)) {
      if (parser.at_set(kCompoundStart)) {
        parser.add_error(ParseErrorType::CompoundAfterSimpleStatement, parser.current_token_range());
      } else {
        parser.add_error(ParseErrorType::expected_token(TokenKind::Newline, parser.current_token_kind()),
                         parser.current_token_range());
      }
    }
    return list.finish();
  }

  parser.add_error(ParseErrorType::other("Expected a simple statement"), parser.current_token_range());
  return {};
}

// function_def_raw:
//     | ['async'] 'def' NAME [type_params] '(' [params] ')' ['->' expression] ':' block
python_ast::StmtFunctionDefinition* parse_function_definition(Parser& parser, std::span<Decorator> decorators,
                                                              TextOffset start) {
  parser.bump(TokenKind::Def);
  Identifier name = parse_identifier(parser);
  python_ast::TypeParams* type_params = try_parse_type_params(parser);
  python_ast::Parameters* parameters = parse_parameters(parser, ParameterListKind::Definition);

  Expr* returns = nullptr;
  if (parser.eat(TokenKind::Rarrow)) {
    if (can_start_expression(parser.current_token_kind())) {
      returns = parse_expression_list(parser, kNoFlags).expr;
      if (is_unparenthesized_tuple(returns)) {
        parser.add_error(ParseErrorType::other("Multiple return types must be parenthesized"), *returns);
      }
    } else {
      parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
    }
  }
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::FunctionDef);
  return parser.arena().make<python_ast::StmtFunctionDefinition>(parser.node_range(start), decorators, name,
                                                                 type_params, parameters, returns, body, false);
}

// class_def_raw:
//     | 'class' NAME [type_params] ['(' [arguments] ')'] ':' block
python_ast::StmtClassDefinition* parse_class_definition(Parser& parser, std::span<Decorator> decorators,
                                                        TextOffset start) {
  parser.bump(TokenKind::Class);
  Identifier name = parse_identifier(parser);
  python_ast::TypeParams* type_params = try_parse_type_params(parser);
  python_ast::Arguments* arguments = nullptr;
  if (parser.at(TokenKind::Lpar)) arguments = parser.arena().make<python_ast::Arguments>(parse_arguments(parser));
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::Class);
  return parser.arena().make<python_ast::StmtClassDefinition>(parser.node_range(start), decorators, name,
                                                              type_params, arguments, body);
}

// for_stmt:
//     | ['async'] 'for' star_targets 'in' star_expressions ':' block [else_block]
python_ast::StmtFor* parse_for_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::For);
  Expr* target =
      parse_expression_list(parser, ExpressionParseFlags::StopAtIn | ExpressionParseFlags::StarredAllowed).expr;
  helpers::set_expr_ctx(target, ExpressionContext::Store);
  validate_assignment_target(parser, target);
  parser.expect(TokenKind::In);
  Expr* iter =
      parse_expression_list(parser, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand)
          .expr;
  check_tuple_unpacking(parser, iter, TupleUnpackingKind::ForIterable);
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, Clause::For);
  std::span<Stmt*> else_body = parse_loop_else(parser);
  return parser.arena().make<python_ast::StmtFor>(parser.node_range(start), target, iter, body, else_body, false);
}

// elif_stmt: 'elif' named_expression ':' block (elif_stmt | [else_block])
// else_block: 'else' ':' block
ElifElseClause parse_elif_or_else_clause(Parser& parser, ElifOrElse clause) {
  TextOffset start = parser.node_start();
  Expr* test = nullptr;
  if (clause == ElifOrElse::Elif) {
    parser.bump(TokenKind::Elif);
    test = parse_named_expression_or_higher(parser, kNoFlags).expr;
  } else {
    parser.bump(TokenKind::Else);
  }
  parser.expect(TokenKind::Colon);
  std::span<Stmt*> body = parse_body(parser, clause == ElifOrElse::Elif ? Clause::Elif : Clause::Else);
  return ElifElseClause(parser.node_range(start), test, body);
}

}  // namespace python_parser
