// IPython escape commands: the statement and expression forms of a command
// token, and the help request after an expression.

#include "python_parser/parser/ipython.h"

#include <string>
#include <string_view>

#include "python_parser/lexer.h"
#include "python_parser/parser/parser.h"
#include "support/fatal_error.h"

namespace python_parser {

using python_ast::Expr;
using python_ast::IpyEscapeKind;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

namespace {

// Consumes the current IpyEscapeCommand token and gives its kind and text.
TokenValue::IpyEscapeCommand take_command(Parser& parser) {
  TokenValue value = parser.bump_value(TokenKind::IpyEscapeCommand);
  if (value.tag() != TokenValueTag::IpyEscapeCommand) [[unlikely]] {
    tolva::fatal("internal error: entered unreachable code");
  }
  return value.as_ipy_escape_command();
}

void check_mode(Parser& parser, TextRange range) {
  if (parser.mode() != Mode::Ipython) parser.add_error(ParseErrorType::IpythonEscapeOutsideIpythonMode, range);
}

// Appends the source form of the help target `expr` to `text`: a name; an
// attribute as its value's form, ".", and the attribute; a subscript as its
// value's form and "[" INTEGER "]". Anything else records its error and
// adds nothing of its own; a slice that is not an integer literal records
// its error and adds its source text.
//
// The chain of attributes and subscripts is walked with a work list rather
// than by recursion: `a.b.c...` may be as long as the text.
void unparse_expr(Parser& parser, const Expr* expr, std::string& text) {
  InlineStack<const Expr*, 16> chain;
  const Expr* base = expr;
  for (;;) {
    if (const auto* attribute = base->as<python_ast::ExprAttribute>()) {
      chain.push(base);
      base = attribute->value;
    } else if (const auto* subscript = base->as<python_ast::ExprSubscript>()) {
      chain.push(base);
      base = subscript->value;
    } else {
      break;
    }
  }
  if (const auto* name = base->as<python_ast::ExprName>()) {
    text += name->id.as_str();
  } else {
    parser.add_other_error("Expected name, subscript or attribute expression in help end escape command",
                           base->range);
  }
  while (std::optional<const Expr*> next = chain.pop()) {
    if (const auto* attribute = (*next)->as<python_ast::ExprAttribute>()) {
      text += '.';
      text += attribute->attribute.id.as_str();
      continue;
    }
    const auto* subscript = (*next)->as<python_ast::ExprSubscript>();
    tolva::check(subscript != nullptr, "a help target's chain holds attributes and subscripts only");
    text += '[';
    const auto* number = subscript->slice->as<python_ast::ExprNumberLiteral>();
    if (std::optional<python_ast::Int> integer = number != nullptr ? number->value.as_int() : std::nullopt) {
      text += integer->to_string();
    } else {
      parser.add_other_error("Only integer literals are allowed in subscript expressions in help end escape command",
                             subscript->slice->range);
      text += parser.src_text(*subscript->slice);
    }
    text += ']';
  }
}

}  // namespace

python_ast::StmtIpyEscapeCommand* parse_ipython_escape_command_statement(Parser& parser) {
  const TextRange range = parser.current_token_range();
  const TokenValue::IpyEscapeCommand command = take_command(parser);
  check_mode(parser, range);
  return parser.arena().make<python_ast::StmtIpyEscapeCommand>(range, command.text, command.kind);
}

python_ast::ExprIpyEscapeCommand* parse_ipython_escape_command_expression(Parser& parser) {
  const TextOffset start = parser.node_start();
  const TokenValue::IpyEscapeCommand command = take_command(parser);
  const TextRange range = parser.node_range(start);
  if (command.kind != IpyEscapeKind::Exclamation && command.kind != IpyEscapeKind::Percent) {
    // The lexer starts a command after `=` only with "!" or "%", but a
    // help-end suffix turns it into a help kind (`x = %foo?`).
    parser.add_other_error("IPython escape command expression is only allowed for % and !", range);
  }
  check_mode(parser, range);
  return parser.arena().make<python_ast::ExprIpyEscapeCommand>(range, command.text, command.kind);
}

python_ast::StmtIpyEscapeCommand* parse_ipython_help_end_escape_command_statement(Parser& parser, MarkedExpr expr) {
  const TextOffset question_start = parser.node_start();
  parser.bump(TokenKind::Question);
  const IpyEscapeKind kind = parser.eat(TokenKind::Question) ? IpyEscapeKind::DoubleQuestion : IpyEscapeKind::Question;
  if (expr.in_parentheses) {
    parser.add_other_error("Help end escape command cannot be applied on a parenthesized expression",
                           parser.node_range(question_start));
  }
  if (parser.at(TokenKind::Question)) {
    // Left in place: the statement ends before it.
    parser.add_other_error("Maximum of 2 `?` tokens are allowed in help end escape command",
                           parser.current_token_range());
  }
  std::string text;
  unparse_expr(parser, expr.expr, text);
  return parser.arena().make<python_ast::StmtIpyEscapeCommand>(parser.node_range(expr.expr->range.start()),
                                                               parser.arena().copy_text(text), kind);
}

}  // namespace python_parser
