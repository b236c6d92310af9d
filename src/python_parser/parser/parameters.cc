#include "python_parser/parser/parameters.h"

#include <cstddef>
#include <optional>
#include <string>

#include "python_parser/parser/expression.h"
#include "python_parser/parser/parser.h"
#include "support/fatal_error.h"

namespace python_parser {

namespace {

using python_ast::Expr;
using python_ast::TokenKind;
using text_size::TextOffset;
using text_size::TextRange;

// The optional expression after the `:` or `=` just consumed: an expression
// when one can start here, otherwise nothing and "Expected an expression" at
// the current token.
Expr* parse_optional_value(Parser& parser, ExpressionParseFlags flags) {
  if (can_start_expression(parser.current_token_kind())) {
    return parse_conditional_expression_or_higher_impl(parser, flags).expr;
  }
  parser.add_error(ParseErrorType::ExpectedExpression, parser.current_token_range());
  return nullptr;
}

bool at_name_or_soft_keyword(const Parser& parser) {
  TokenKind kind = parser.current_token_kind();
  return kind == TokenKind::Name || python_ast::is_soft_keyword(kind);
}

// Which list a named parameter went into.
enum class Group : std::uint8_t { Positional, KeywordOnly };

// One named parameter in source order. The three lists of Parameters are
// filled in turn, so they share one scratch list and are split at the end.
struct NamedEntry {
  Group group;
  python_ast::ParameterWithDefault parameter;
};

python_ast::Parameter* copy_to_arena(Parser& parser, const std::optional<python_ast::Parameter>& parameter) {
  return parameter ? parser.arena().make<python_ast::Parameter>(*parameter) : nullptr;
}

}  // namespace

python_ast::Parameter parse_parameter(Parser& parser, TextOffset start, ParameterListKind kind,
                                      bool star_annotation_allowed) {
  python_ast::Identifier name = parse_identifier(parser);
  Expr* annotation = nullptr;
  if (kind == ParameterListKind::Definition && parser.eat(TokenKind::Colon)) {
    // star_annotation: ':' star_expression (only after `*name`)
    annotation = parse_optional_value(
        parser, star_annotation_allowed ? ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand
                                        : ExpressionParseFlags::None);
  }
  return python_ast::Parameter(parser.node_range(start), name, annotation);
}

python_ast::Parameters* parse_parameters(Parser& parser, ParameterListKind kind) {
  TextOffset start = parser.node_start();
  if (kind == ParameterListKind::Definition) parser.expect(TokenKind::Lpar);

  auto named = parser.scratch_list<NamedEntry>();
  std::optional<python_ast::Parameter> var_positional;
  std::optional<python_ast::Parameter> var_keyword;
  bool default_seen = false;
  bool separator_seen = false;
  bool keyword_only_after_separator = false;
  bool slash_seen = false;
  bool trailing_separator = false;
  TextRange separator_range;
  // The named parameters before the first `/` are the positional-only ones.
  std::size_t positional_only_end = 0;

  // params:
  //     | slash_no_default param_no_default* param_with_default* [star_etc]
  //     | slash_with_default param_with_default* [star_etc]
  //     | param_no_default+ param_with_default* [star_etc]
  //     | param_with_default+ [star_etc]
  //     | star_etc
  // star_etc:
  //     | '*' param_no_default param_maybe_default* [kwds]
  //     | '*' param_no_default_star_annotation param_maybe_default* [kwds]
  //     | '*' ',' param_maybe_default+ [kwds]
  //     | kwds
  // kwds: '**' param_no_default
  // Every element is parsed in any order; the rules are checked as errors.
  auto element = [&](Parser& p) {
    TextOffset element_start = p.node_start();
    if (var_keyword) p.add_error(ParseErrorType::ParameterAfterVarKeyword, p.current_token_range());

    switch (p.current_token_kind()) {
      case TokenKind::Star: {
        TextRange star_range = p.current_token_range();
        p.bump(TokenKind::Star);
        if (!at_name_or_soft_keyword(p)) {
          // A bare `*`: the keyword-only separator.
          if (separator_seen) p.add_error(ParseErrorType::other("Only one '*' separator allowed"), star_range);
          if (var_positional) {
            p.add_error(ParseErrorType::other("Keyword-only parameter separator not allowed after '*' parameter"),
                        star_range);
          }
          separator_seen = true;
          trailing_separator = true;
          separator_range = star_range;
          return;
        }
        python_ast::Parameter parameter = parse_parameter(p, element_start, kind, true);
        if (p.at(TokenKind::Equal)) p.add_error(ParseErrorType::StarParameterWithDefault, p.current_token_range());
        if (var_positional || separator_seen) {
          p.add_error(ParseErrorType::other("Only one '*' parameter allowed"), p.node_range(element_start));
        }
        // Of two `*name` parameters the first is kept.
        if (!var_positional) var_positional = parameter;
        trailing_separator = false;
        return;
      }
      case TokenKind::Slash: {
        TextRange slash_range = p.current_token_range();
        p.bump(TokenKind::Slash);
        if (named.empty() && !var_positional && !var_keyword) {
          p.add_error(ParseErrorType::other("Position-only parameter separator not allowed as first parameter"),
                      slash_range);
        }
        if (slash_seen) p.add_error(ParseErrorType::other("Only one '/' separator allowed"), slash_range);
        if (var_positional || separator_seen) {
          p.add_error(ParseErrorType::other("'/' parameter must appear before '*' parameter"), slash_range);
        }
        if (!slash_seen) positional_only_end = named.size();
        slash_seen = true;
        trailing_separator = false;
        return;
      }
      case TokenKind::DoubleStar: {
        p.bump(TokenKind::DoubleStar);
        python_ast::Parameter parameter = parse_parameter(p, element_start, kind, false);
        if (var_keyword) {
          p.add_error(ParseErrorType::other("Only one '**' parameter allowed"), p.node_range(element_start));
        }
        if (p.at(TokenKind::Equal)) p.add_error(ParseErrorType::StarParameterWithDefault, p.current_token_range());
        if (separator_seen && !keyword_only_after_separator) {
          p.add_error(ParseErrorType::ExpectedKeywordParameter, parameter);
        }
        // Of two `**name` parameters the last is kept.
        var_keyword = parameter;
        trailing_separator = false;
        return;
      }
      default:
        break;
    }
    if (!at_name_or_soft_keyword(p)) {
      tolva::fatal("internal error: entered unreachable code: Expected Name, '*', '**', or '/'");
    }

    // A named parameter, with its default.
    python_ast::Parameter parameter = parse_parameter(p, element_start, kind, false);
    Expr* default_value = nullptr;
    if (p.eat(TokenKind::Equal)) default_value = parse_optional_value(p, ExpressionParseFlags::None);
    python_ast::ParameterWithDefault with_default(p.node_range(element_start), parameter, default_value);

    Group group = Group::Positional;
    if (separator_seen) {
      group = Group::KeywordOnly;
      keyword_only_after_separator = true;
    } else if (var_positional) {
      group = Group::KeywordOnly;
    } else if (default_value == nullptr && default_seen) {
      p.add_error(ParseErrorType::NonDefaultAfterDefault, parameter);
    }
    if (default_value != nullptr) default_seen = true;
    trailing_separator = false;
    named.push(NamedEntry{group, with_default});
  };

  RecoveryContextKind list_kind = kind == ParameterListKind::Definition ? RecoveryContextKind::FunctionParameters
                                                                        : RecoveryContextKind::LambdaParameters;
  parser.parse_comma_separated_list(list_kind, TrailingComma::Allowed, element);

  if (trailing_separator) parser.add_error(ParseErrorType::ExpectedKeywordParameter, separator_range);
  if (kind == ParameterListKind::Definition) parser.expect(TokenKind::Rpar);

  // Split the named parameters into their three lists.
  std::size_t counts[3] = {0, 0, 0};  // positional-only, positional, keyword-only
  auto list_of = [&](std::size_t index, const NamedEntry& entry) -> std::size_t {
    if (entry.group == Group::KeywordOnly) return 2;
    return index < positional_only_end ? 0 : 1;
  };
  for (std::size_t i = 0; i < named.size(); ++i) ++counts[list_of(i, named[i])];
  python_ast::Arena& arena = parser.arena();
  std::span<python_ast::ParameterWithDefault> lists[3] = {
      arena.make_array<python_ast::ParameterWithDefault>(counts[0]),
      arena.make_array<python_ast::ParameterWithDefault>(counts[1]),
      arena.make_array<python_ast::ParameterWithDefault>(counts[2]),
  };
  std::size_t filled[3] = {0, 0, 0};
  for (std::size_t i = 0; i < named.size(); ++i) {
    NamedEntry entry = named[i];
    std::size_t list = list_of(i, entry);
    lists[list][filled[list]++] = entry.parameter;
  }

  return arena.make<python_ast::Parameters>(parser.node_range(start), lists[0], lists[1],
                                            copy_to_arena(parser, var_positional), lists[2],
                                            copy_to_arena(parser, var_keyword));
}

python_ast::TypeParams* try_parse_type_params(Parser& parser) {
  if (!parser.at(TokenKind::Lsqb)) return nullptr;
  TextOffset start = parser.node_start();
  parser.bump(TokenKind::Lsqb);

  // type_param:
  //     | NAME [type_param_bound] [type_param_default]
  //     | '*' NAME [type_param_starred_default]
  //     | '**' NAME [type_param_default]
  auto element = [](Parser& p) -> python_ast::TypeParam* {
    TextOffset element_start = p.node_start();
    python_ast::Arena& arena = p.arena();
    if (p.eat(TokenKind::DoubleStar)) {
      python_ast::Identifier name = parse_identifier(p);
      Expr* default_value = nullptr;
      if (p.eat(TokenKind::Equal)) default_value = parse_optional_value(p, ExpressionParseFlags::None);
      return arena.make<python_ast::TypeParamDoubleStar>(p.node_range(element_start), name, default_value);
    }
    if (p.eat(TokenKind::Star)) {
      python_ast::Identifier name = parse_identifier(p);
      Expr* default_value = nullptr;
      if (p.eat(TokenKind::Equal)) {
        default_value =
            parse_optional_value(p, ExpressionParseFlags::StarredAllowed | ExpressionParseFlags::StarredAsOrOperand);
      }
      return arena.make<python_ast::TypeParamStar>(p.node_range(element_start), name, default_value);
    }
    python_ast::Identifier name = parse_identifier(p);
    Expr* bound = nullptr;
    if (p.eat(TokenKind::Colon)) bound = parse_optional_value(p, ExpressionParseFlags::None);
    Expr* default_value = nullptr;
    if (p.eat(TokenKind::Equal)) default_value = parse_optional_value(p, ExpressionParseFlags::None);
    return arena.make<python_ast::TypeParamSingle>(p.node_range(element_start), name, bound, default_value);
  };
  auto list = parser.parse_comma_separated_list(RecoveryContextKind::TypeParams, TrailingComma::Allowed, element);

  if (list.elements.empty()) {
    parser.add_error(ParseErrorType::EmptyTypeParameterList, parser.current_token_range());
  }
  parser.expect(TokenKind::Rsqb);
  return parser.arena().make<python_ast::TypeParams>(parser.node_range(start), list.elements);
}

}  // namespace python_parser
