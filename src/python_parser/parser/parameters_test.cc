#include "python_parser/parser/parameters.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "python_parser/parser/expression.h"
#include "python_parser/parser/parser.h"
#include "test_support/python_parser/shown_error.h"

namespace python_parser {
namespace {

using namespace python_ast;  // NOLINT: the node types, in a test
using text_size::TextRange;

using parser_testing::ShownError;
using parser_testing::shown;

// The groups of a parameter list in one line:
//   "po[a b=1] p[c] *args kw[d e=3] **kw"
// (empty groups left out; a parameter as `name`, `name:annotation`,
// `name=default` with the source text of each expression; `<missing>` for
// an empty name).
struct Summary {
  const Parser& parser;
  std::ostringstream out;

  void parameter(const Parameter& p) {
    out << (p.name.is_valid() ? p.name.as_str() : "<missing>");
    if (p.annotation != nullptr) out << ':' << parser.src_text(*p.annotation);
  }
  void group(std::string_view label, std::span<const ParameterWithDefault> list) {
    if (list.empty()) return;
    out << (out.tellp() > 0 ? " " : "") << label << '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i != 0) out << ' ';
      parameter(list[i].parameter);
      if (list[i].default_value != nullptr) out << '=' << parser.src_text(*list[i].default_value);
    }
    out << ']';
  }
  void variadic(std::string_view star, const Parameter* p) {
    if (p == nullptr) return;
    out << (out.tellp() > 0 ? " " : "") << star;
    parameter(*p);
  }
  std::string of(const Parameters& parameters) {
    group("po", parameters.positional_only);
    group("p", parameters.positional);
    variadic("*", parameters.var_positional);
    group("kw", parameters.keyword_only);
    variadic("**", parameters.var_keyword);
    return out.str();
  }
};

// A definition's parameter list: the text starts at its `(`.
struct DefinitionParse {
  explicit DefinitionParse(std::string_view text) : parser(text, Mode::Module, arena) {
    parameters = parse_parameters(parser, ParameterListKind::Definition);
    summary = Summary{parser, {}}.of(*parameters);
    errors = shown(parser.errors());
  }
  python_ast::Arena arena;
  Parser parser;
  Parameters* parameters = nullptr;
  std::string summary;
  std::vector<ShownError> errors;
};

struct Case {
  std::string_view source;
  std::string_view summary;
  std::vector<ShownError> errors;
};

void expect_definitions(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    DefinitionParse parse(c.source);
    EXPECT_EQ(parse.summary, c.summary) << c.source;
    EXPECT_EQ(parse.errors, c.errors) << c.source;
  }
}

TEST(Parameters, Groups) {
  expect_definitions({
      {"()", "", {}},
      {"(a, b=1, /, c=2, *args, d, e=3, **kw)", "po[a b=1] p[c=2] *args kw[d e=3] **kw", {}},
      {"(a, /)", "po[a]", {}},
      {"(a, /, b)", "po[a] p[b]", {}},
      {"(a,)", "p[a]", {}},
      {"(*, a, **kw)", "kw[a] **kw", {}},
      {"(a=1, *, b)", "p[a=1] kw[b]", {}},
      {"(a=1, *args, b)", "p[a=1] *args kw[b]", {}},
      {"(a: int, *b: *Ts, c: str = '', **d: dict)", "p[a:int] *b:*Ts kw[c:str=''] **d:dict", {}},
      {"(match, case=type)", "p[match case=type]", {}},
      {"(**kw,)", "**kw", {}},
      {"(a=lambda: 0, b=x if y else z)", "p[a=lambda: 0 b=x if y else z]", {}},
  });
}

TEST(Parameters, OrderingErrors) {
  expect_definitions({
      {"(a=1, b)",
       "p[a=1 b]",
       {{"Parameter without a default cannot follow a parameter with a default", 6, 7}}},
      {"(*)", "", {{"Expected one or more keyword parameter after `*` separator", 1, 2}}},
      {"(a, *,)", "p[a]", {{"Expected one or more keyword parameter after `*` separator", 4, 5}}},
      {"(*, **kw)", "**kw", {{"Expected one or more keyword parameter after `*` separator", 4, 8}}},
      {"(/)", "", {{"Position-only parameter separator not allowed as first parameter", 1, 2}}},
      {"(a, /, /)", "po[a]", {{"Only one '/' separator allowed", 7, 8}}},
      {"(*a, /)", "*a", {{"'/' parameter must appear before '*' parameter", 5, 6}}},
      {"(*, a, /)", "kw[a]", {{"'/' parameter must appear before '*' parameter", 7, 8}}},
      {"(*a, *b)", "*a", {{"Only one '*' parameter allowed", 5, 7}}},
      {"(*, *a)", "*a", {{"Only one '*' parameter allowed", 4, 6}}},
      {"(*, *, a)", "kw[a]", {{"Only one '*' separator allowed", 4, 5}}},
      {"(*a, *, b)", "*a kw[b]", {{"Keyword-only parameter separator not allowed after '*' parameter", 5, 6}}},
      {"(**a, **b)", "**b", {{"Parameter cannot follow var-keyword parameter", 6, 8}}},
      {"(**kw, a)", "p[a] **kw", {{"Parameter cannot follow var-keyword parameter", 7, 8}}},
      {"(**kw, a, *b)",
       "p[a] *b **kw",
       {{"Parameter cannot follow var-keyword parameter", 7, 8},
        {"Parameter cannot follow var-keyword parameter", 10, 11}}},
  });
}

TEST(Parameters, DefaultsAndAnnotations) {
  expect_definitions({
      {"(*a=1)",
       "*a",
       {{"Parameter with `*` or `**` cannot have default value", 3, 4}, {"Expected `,`, found int", 4, 5}}},
      {"(**k=1)",
       "**k",
       {{"Parameter with `*` or `**` cannot have default value", 4, 5}, {"Expected `,`, found int", 5, 6}}},
      {"(a=)", "p[a]", {{"Expected an expression", 3, 4}}},
      {"(a:)", "p[a]", {{"Expected an expression", 3, 4}}},
      {"(a: *b)", "p[a:*b]", {{"Starred expression cannot be used here", 4, 6}}},
  });
}

TEST(Parameters, MissingNamesAndTheRecordingRule) {
  // The second `**`'s "Only one" error starts where the var-keyword error
  // starts and is dropped; with a missing name between them it is kept.
  expect_definitions({
      {"(**a, **)",
       "**<missing>",
       {{"Parameter cannot follow var-keyword parameter", 6, 8},
        {"Expected an identifier", 8, 9},
        {"Only one '**' parameter allowed", 6, 8}}},
      {"(**)", "**<missing>", {{"Expected an identifier", 3, 4}}},
      // `class` starts a compound statement: it ends the list, which the
      // closing parenthesis reports.
      {"(a, class)", "p[a]", {{"Expected `)`, found `class`", 4, 9}}},
      {"(, a)", "p[a]", {{"Expected a parameter or the end of the parameter list", 1, 2}}},
  });
}

TEST(Parameters, Ranges) {
  DefinitionParse parse("(a, b: int = 1, *c: d, **e)");
  ASSERT_THAT(parse.errors, testing::IsEmpty());
  const Parameters& p = *parse.parameters;
  EXPECT_EQ(p.range, TextRange(0, 27));
  EXPECT_EQ(p.positional[1].range, TextRange(4, 14));
  EXPECT_EQ(p.positional[1].parameter.range, TextRange(4, 10));
  EXPECT_EQ(p.positional[1].parameter.name.range, TextRange(4, 5));
  EXPECT_EQ(p.var_positional->range, TextRange(16, 21));
  EXPECT_EQ(p.var_positional->name.range, TextRange(17, 18));
  EXPECT_EQ(p.var_keyword->range, TextRange(23, 26));
  std::vector<std::string_view> order;
  for (const Parameter& parameter : p.iter()) order.push_back(parameter.name.as_str());
  EXPECT_THAT(order, testing::ElementsAre("a", "b", "c", "e"));
}

TEST(Parameters, RecoveryAtAMissingParenthesis) {
  // No `(`: reported, and the list is still read up to the `)`.
  DefinitionParse missing_open("a, b):");
  EXPECT_EQ(missing_open.summary, "p[a b]");
  EXPECT_EQ(missing_open.errors.front(), (ShownError{"Expected `(`, found name", 0, 1}));
  // No `)`: a statement keyword on the next line ends the list without
  // being skipped.
  DefinitionParse missing_close("(a,\ndef g(): pass\n");
  EXPECT_EQ(missing_close.summary, "p[a]");
  EXPECT_EQ(missing_close.parser.current_token_kind(), TokenKind::Newline);
}

TEST(Parameters, LambdaLists) {
  struct LambdaCase {
    std::string_view source;
    std::string_view summary;
    TokenKind stops_at;
  };
  for (const LambdaCase& c : std::initializer_list<LambdaCase>{
           {"a, *, b=1: 0", "p[a] kw[b=1]", TokenKind::Colon},
           {"x: x", "p[x]", TokenKind::Colon},
           {"*a, **k: 0", "*a **k", TokenKind::Colon},
           {"a, /, b: 0", "po[a] p[b]", TokenKind::Colon},
           {"a=lambda: 1: 2", "p[a=lambda: 1]", TokenKind::Colon},
       }) {
    python_ast::Arena arena;
    Parser parser(c.source, Mode::Module, arena);
    Parameters* parameters = parse_parameters(parser, ParameterListKind::Lambda);
    EXPECT_EQ((Summary{parser, {}}.of(*parameters)), c.summary) << c.source;
    EXPECT_EQ(parser.current_token_kind(), c.stops_at) << c.source;
    EXPECT_THAT(shown(parser.errors()), testing::IsEmpty()) << c.source;
  }
  // A lambda's range runs from its first parameter through its last.
  python_ast::Arena arena;
  Parser parser("a, b=1: 0", Mode::Module, arena);
  EXPECT_EQ(parse_parameters(parser, ParameterListKind::Lambda)->range, TextRange(0, 6));
}

// ---------------------------------------------------------------------------
// Type parameters

struct TypeParamsParse {
  explicit TypeParamsParse(std::string_view text) : parser(text, Mode::Module, arena) {
    type_params = try_parse_type_params(parser);
    errors = shown(parser.errors());
  }
  std::string summary() const {
    std::ostringstream out;
    for (const TypeParam* param : type_params->type_params) {
      if (out.tellp() > 0) out << ' ';
      auto name = [](const Identifier& id) { return id.is_valid() ? id.as_str() : "<missing>"; };
      auto text = [&](const Expr* e) { return e == nullptr ? std::string_view("_") : parser.src_text(*e); };
      if (const auto* single = param->as<TypeParamSingle>()) {
        out << name(single->name) << ':' << text(single->bound) << '=' << text(single->default_value);
      } else if (const auto* star = param->as<TypeParamStar>()) {
        out << '*' << name(star->name) << '=' << text(star->default_value);
      } else {
        const auto& double_star = param->cast<TypeParamDoubleStar>();
        out << "**" << name(double_star.name) << '=' << text(double_star.default_value);
      }
    }
    return out.str();
  }
  python_ast::Arena arena;
  Parser parser;
  TypeParams* type_params = nullptr;
  std::vector<ShownError> errors;
};

TEST(TypeParams, Forms) {
  struct TypeCase {
    std::string_view source;
    std::string_view summary;
  };
  for (const TypeCase& c : std::initializer_list<TypeCase>{
           {"[T]", "T:_=_"},
           {"[T: int = str, *Ts = *tuple[int], **P = [int]]", "T:int=str *Ts=*tuple[int] **P=[int]"},
           {"[T: (int, str), U,]", "T:(int, str)=_ U:_=_"},
           {"[T,]", "T:_=_"},
           {"[match, type]", "match:_=_ type:_=_"},
       }) {
    TypeParamsParse parse(c.source);
    ASSERT_NE(parse.type_params, nullptr) << c.source;
    EXPECT_EQ(parse.summary(), c.summary) << c.source;
    EXPECT_THAT(parse.errors, testing::IsEmpty()) << c.source;
    EXPECT_EQ(parse.type_params->range, TextRange(0, static_cast<std::uint32_t>(c.source.size()))) << c.source;
  }
  TypeParamsParse ranges("[T: int = str, *Ts]");
  EXPECT_EQ(ranges.type_params->type_params[0]->range, TextRange(1, 13));
  EXPECT_EQ(ranges.type_params->type_params[1]->range, TextRange(15, 18));
}

TEST(TypeParams, Errors) {
  struct TypeCase {
    std::string_view source;
    std::string_view summary;
    std::vector<ShownError> errors;
  };
  for (const TypeCase& c : std::initializer_list<TypeCase>{
           {"[]", "", {{"Type parameter list cannot be empty", 1, 2}}},
           {"[T:]", "T:_=_", {{"Expected an expression", 3, 4}}},
           {"[T=]", "T:_=_", {{"Expected an expression", 3, 4}}},
           {"[*Ts=]", "*Ts=_", {{"Expected an expression", 5, 6}}},
           {"[class]", "class:_=_",
            {{"Expected an identifier, but found a keyword `class` that cannot be used here", 1, 6}}},
           {"[*]", "*<missing>=_", {{"Expected an identifier", 2, 3}}},
           {"[T U]", "T:_=_ U:_=_", {{"Expected `,`, found name", 3, 4}}},
       }) {
    TypeParamsParse parse(c.source);
    ASSERT_NE(parse.type_params, nullptr) << c.source;
    EXPECT_EQ(parse.summary(), c.summary) << c.source;
    EXPECT_EQ(parse.errors, c.errors) << c.source;
  }
}

TEST(TypeParams, AbsentWithoutABracket) {
  python_ast::Arena arena;
  Parser parser("(a)", Mode::Module, arena);
  EXPECT_EQ(try_parse_type_params(parser), nullptr);
  EXPECT_EQ(parser.current_token_kind(), TokenKind::Lpar);
  EXPECT_EQ(parser.current_token_id(), 0u);
}

TEST(TypeParams, RecoveryTerminatorsEndTheList) {
  // `(` ends an unclosed list (the parameters of `def f[T(`), reported by
  // the closing bracket's expectation, without being consumed.
  TypeParamsParse parse("[T(a): pass");
  EXPECT_EQ(parse.summary(), "T:_=_");
  EXPECT_EQ(parse.errors, (std::vector<ShownError>{{"Expected `]`, found `(`", 2, 3}}));
  EXPECT_EQ(parse.parser.current_token_kind(), TokenKind::Lpar);
}

}  // namespace
}  // namespace python_parser
