#include "python_parser/parser/with.h"

#include <optional>

#include "python_parser/parser/expression.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/parser.h"
#include "python_parser/parser/statement.h"

namespace python_parser {

using python_ast::Expr;
using python_ast::TokenKind;
using python_ast::WithItem;
using text_size::TextOffset;

namespace {

// The forms that a context expression may take only inside its own
// parentheses once the parentheses after `with` are read as an item list.
bool needs_own_parentheses(const Expr* expr) {
  return expr->is<python_ast::ExprAssignment>() || expr->is<python_ast::ExprYield>() ||
         expr->is<python_ast::ExprYieldFrom>() || expr->is<python_ast::ExprStarred>();
}

// The items of `with ( ... )` read the second way: the `(` begins the first
// item's context expression.
std::span<WithItem> parse_items_as_expressions(Parser& parser) {
  return parser
      .parse_comma_separated_list(RecoveryContextKind::WithItemsParenthesizedExpression, TrailingComma::NotAllowed,
                                  [](Parser& p) { return parse_with_item(p, false).item; })
      .elements;
}

// with_stmt: 'with' '(' ','.with_item+ ','? ')' ':' block
// The current token is the `(` after `with`. The item-list reading is tried
// first; it is kept when some item has a target, or when it is a plain list
// of items closed by `)` and followed by `:` or the end of the line. Anything
// else (`with (a) as t:`, `with (a, b).f():`, `with ():`, `with (yield x):`)
// is read again from the `(` as expressions.
std::span<WithItem> parse_parenthesized_with_items(Parser& parser) {
  std::optional<SpeculativeReading> reading(std::in_place, parser);
  parser.bump(TokenKind::Lpar);

  bool accepted;
  std::span<WithItem> items;
  {
    ScratchList<ParsedWithItem> parsed = parser.scratch_list<ParsedWithItem>();
    bool any_target = false;
    parser.parse_comma_separated_list(RecoveryContextKind::WithItemsParenthesized, TrailingComma::Allowed,
                                      [&](Parser& p) {
                                        ParsedWithItem item = parse_with_item(p, true);
                                        if (item.item.target != nullptr && !any_target) {
                                          // A target settles it: the reading is
                                          // kept whatever follows.
                                          any_target = true;
                                          reading.reset();
                                        }
                                        parsed.push(item);
                                      });

    if (any_target) {
      // Targets settle it: this is an item list, and the forms that need
      // their own parentheses are reported.
      accepted = true;
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        ParsedWithItem item = parsed[i];
        if (item.is_parenthesized) continue;
        const Expr* context = item.item.context_expression;
        if (context->is<python_ast::ExprYield>() || context->is<python_ast::ExprYieldFrom>()) {
          parser.add_error(ParseErrorType::YieldNotAllowedHere, *context);
        } else if (context->is<python_ast::ExprAssignment>()) {
          parser.add_error(ParseErrorType::UnparenthesizedNamedExpression, *context);
        } else if (context->is<python_ast::ExprStarred>()) {
          parser.add_error(ParseErrorType::StarredNotAllowedHere, *context);
        }
      }
    } else {
      accepted = parser.at(TokenKind::Rpar) && !parsed.empty();
      if (accepted) {
        // The look past the `)` lexes one significant token and rewinds the
        // lexer; the token list is untouched.
        TokenKind after = parser.peek();
        accepted = after == TokenKind::Colon || after == TokenKind::Newline;
      }
      for (std::size_t i = 0; accepted && i < parsed.size(); ++i) {
        ParsedWithItem item = parsed[i];
        if (!item.is_parenthesized && needs_own_parentheses(item.item.context_expression)) accepted = false;
      }
    }

    if (accepted) {
      items = parser.arena().make_array<WithItem>(parsed.size());
      for (std::size_t i = 0; i < parsed.size(); ++i) items[i] = parsed[i].item;
    }
  }

  if (!accepted) {
    // No trace of the first reading stays: its tokens, errors and records
    // are dropped with the rewind.
    reading->rewind();
    reading.reset();
    return parse_items_as_expressions(parser);
  }
  reading.reset();
  parser.expect(TokenKind::Rpar);
  return items;
}

}  // namespace

ParsedWithItem parse_with_item(Parser& parser, bool in_item_list) {
  TextOffset start = parser.node_start();
  MarkedExpr context =
      in_item_list ? parse_named_expression_or_higher(parser, ExpressionParseFlags::StarredAllowed |
                                                                  ExpressionParseFlags::StarredAsOrOperand |
                                                                  ExpressionParseFlags::YieldAllowed)
                   : parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::None);

  Expr* target = nullptr;
  if (parser.eat(TokenKind::As)) {
    target = parse_conditional_expression_or_higher_impl(parser, ExpressionParseFlags::StarredAllowed).expr;
    validate_assignment_target(parser, target);
    helpers::set_expr_ctx(target, python_ast::ExpressionContext::Store);
  }
  return ParsedWithItem{WithItem(parser.node_range(start), context.expr, target), context.in_parentheses};
}

python_ast::StmtWith* parse_with_statement(Parser& parser, TextOffset start) {
  parser.bump(TokenKind::With);

  std::span<WithItem> items;
  if (!can_start_expression(parser.current_token_kind())) {
    parser.add_error(ParseErrorType::other("Expected the start of an expression after `with` keyword"),
                     parser.current_token_range());
  } else if (parser.at(TokenKind::Lpar)) {
    items = parse_parenthesized_with_items(parser);
  } else {
    items = parser
                .parse_comma_separated_list(RecoveryContextKind::WithItemsUnparenthesized, TrailingComma::NotAllowed,
                                            [](Parser& p) { return parse_with_item(p, false).item; })
                .elements;
  }

  parser.expect(TokenKind::Colon);
  std::span<python_ast::Stmt*> body = parse_body(parser, Clause::With);
  return parser.arena().make<python_ast::StmtWith>(parser.node_range(start), items, body, false);
}

}  // namespace python_parser
