#include "python_parser/parser/expression.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python_ast/dump.h"
#include "python_ast/walk.h"
#include "python_parser/parse.h"
#include "python_parser/parser/depth_guard.h"
#include "python_parser/parser/helpers.h"
#include "python_parser/parser/parser.h"
#include "support/fatal_error.h"
#include "test_support/python_parser/expression_printer.h"
#include "test_support/python_parser/shown_error.h"
#include "test_support/text.h"
#include "test_support/threads.h"

namespace python_parser {
namespace {

using namespace python_ast;  // NOLINT: the node types, in a test
using text_size::TextRange;

using expression_testing::TreeCase;

// The tree in the shared S-expression form. That form prints literals as
// written, so the values are checked here wherever the text spells them: a
// literal of decimal digits holds that integer, `True` and `False` their
// truth values (other number forms are checked where they occur).
std::string checked_tree(const Expr& expr, std::string_view source) {
  walk_preorder(AnyNodeRef(expr), [&](AnyNodeRef node) {
    const Expr* literal = node.as_expr();
    if (literal == nullptr) return;
    std::string_view text = source.substr(literal->range.start().raw, literal->range.length());
    if (const auto* number = literal->as<ExprNumberLiteral>()) {
      if (text.empty() || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) return;
      std::optional<Int> value = number->value.as_int();
      EXPECT_TRUE(value.has_value() && value->to_string() == text) << "the value of " << text;
    } else if (const auto* boolean = literal->as<ExprBooleanLiteral>()) {
      EXPECT_EQ(boolean->value, text == "True") << "the value of " << text;
    }
  });
  return expression_testing::sexpr(expr, source);
}

using parser_testing::ShownError;
using parser_testing::shown;

using test_support::repeat;

// The pieces, one after the other (appends: GCC 12 warns falsely about
// `std::string + std::string` temporaries).
std::string join(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

// One text parsed in expression mode.
struct Parse {
  explicit Parse(std::string_view text) : parsed(parse_unchecked(text, Mode::Expression)) {}

  const Expr* body() const { return parsed.syntax->cast<ModExpression>().body; }
  std::string tree() const { return checked_tree(*body(), parsed.tree->source()); }
  std::vector<ShownError> errors() const { return shown(parsed.errors); }
  std::string dump() const { return dump_json(*body(), parsed.tree->source()); }

  Parsed<Mod> parsed;
};

void expect_trees(std::initializer_list<TreeCase> cases) {
  for (const TreeCase& c : cases) {
    Parse parse(c.source);
    EXPECT_EQ(parse.tree(), c.tree) << c.source;
    EXPECT_THAT(parse.errors(), testing::IsEmpty()) << c.source;
  }
}

struct ErrorCase {
  std::string_view source;
  ShownError first;
};

// The parser's own errors (without the lexer's, which win ties in the
// merged list) for one expression list, and its tree.
struct ParserErrors {
  explicit ParserErrors(std::string_view text) : parser(text, Mode::Expression, arena) {
    tree = expression_testing::sexpr(*parse_expression_list(parser, ExpressionParseFlags::None).expr, text);
    errors = shown(parser.errors());
  }
  python_ast::Arena arena;
  Parser parser;
  std::string tree;
  std::vector<ShownError> errors;
};

void expect_first_errors(std::initializer_list<ErrorCase> cases) {
  for (const ErrorCase& c : cases) {
    ParserErrors parse(c.source);
    if (parse.errors.empty()) {
      ADD_FAILURE() << c.source << ": no error, tree " << parse.tree;
      continue;
    }
    EXPECT_EQ(parse.errors.front(), c.first) << c.source << " (tree " << parse.tree << ")";
  }
}

// ---------------------------------------------------------------------------
// Precedence climbing

TEST(Precedence, BindingPowersAndAssociativity) {
  expect_trees({
      {"a + b * c - d", "(- (+ a (* b c)) d)"},
      {"a - b - c", "(- (- a b) c)"},
      {"a / b // c % d @ e * f", "(* (@ (% (// (/ a b) c) d) e) f)"},
      {"2 ** 3 ** 2", "(** 2 (** 3 2))"},
      {"-2 ** 2", "(USub (** 2 2))"},
      {"2 ** -1", "(** 2 (USub 1))"},
      {"a ** -b ** c", "(** a (USub (** b c)))"},
      {"~a + -b * +c", "(+ (Invert a) (* (USub b) (UAdd c)))"},
      {"a | b ^ c & d << e + f", "(| a (^ b (& c (<< d (+ e f)))))"},
      {"a & b | c ^ d", "(| (& a b) (^ c d))"},
      {"a << b >> c", "(>> (<< a b) c)"},
      {"a or b and c", "(or a (and b c))"},
      {"a and b or c and d", "(or (and a b) (and c d))"},
      {"a or b or c", "(or a b c)"},
      {"a and b and c", "(and a b c)"},
      {"not a == b", "(not (cmp a == b))"},
      {"not a and not b", "(and (not a) (not b))"},
      {"not not a", "(not (not a))"},
      {"a < b | c", "(cmp a < (| b c))"},
      {"await a ** b", "(** (await a) b)"},
      {"-await a", "(USub (await a))"},
      {"a ** await b", "(** a (await b))"},
  });
}

TEST(Precedence, ComparisonChainsAreOneNode) {
  expect_trees({
      {"a < b < c", "(cmp a < b < c)"},
      {"a < b == c", "(cmp a < b == c)"},
      {"a is not b", "(cmp a is not b)"},
      {"a not in b", "(cmp a not in b)"},
      {"a is b in c not in d != e", "(cmp a is b in c not in d != e)"},
      {"a <= b >= c > d", "(cmp a <= b >= c > d)"},
      {"a == b and c < d", "(and (cmp a == b) (cmp c < d))"},
  });
}

TEST(Precedence, ConditionalsLambdasAndNamedExpressions) {
  expect_trees({
      {"a if b else c", "(if a b c)"},
      {"a if b else c if d else e", "(if a b (if c d e))"},
      {"a or b if c and d else e + f", "(if (or a b) (and c d) (+ e f))"},
      {"x + a if b else c", "(if (+ x a) b c)"},
      {"a if b else lambda: c", "(if a b (lambda c))"},
      {"lambda: 0", "(lambda 0)"},
      {"lambda: a if b else c", "(lambda (if a b c))"},
      {"lambda x, *a, **k: x", "(lambda [x *a **k] x)"},
      {"lambda a,: 0", "(lambda [a] 0)"},
      {"lambda x=1, /, y=2, *, z: 0", "(lambda [x=1 / y=2 * z] 0)"},
      {"lambda: lambda: 0", "(lambda (lambda 0))"},
      {"(x := 1)", "(:= x@Store 1)"},
      {"(x := a if b else c)", "(:= x@Store (if a b c))"},
      {"f(x := 1)", "(call f (:= x@Store 1))"},
      {"a[x := 1]", "([] a (:= x@Store 1))"},
  });
}

TEST(Precedence, StopAtInEndsTheExpressionBeforeIn) {
  struct Case {
    std::string_view source;
    std::string_view tree;
    TokenKind stops_at;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"x in y", "x", TokenKind::In},
           {"a, b in y", "a", TokenKind::Comma},
           {"x not in y", "(cmp x not in y)", TokenKind::Newline},
           {"x < y in z", "(cmp x < y)", TokenKind::In},
           {"a or b in c", "(or a b)", TokenKind::In},
           {"*a in b", "(* a)", TokenKind::In},
       }) {
    python_ast::Arena arena;
    Parser parser(c.source, Mode::Expression, arena);
    MarkedExpr parsed = parse_conditional_expression_or_higher_impl(
        parser, ExpressionParseFlags::StopAtIn | ExpressionParseFlags::StarredAllowed);
    EXPECT_EQ(checked_tree(*parsed.expr, c.source), c.tree) << c.source;
    EXPECT_EQ(parser.current_token_kind(), c.stops_at) << c.source;
    EXPECT_THAT(shown(parser.errors()), testing::IsEmpty()) << c.source;
  }
}

TEST(Precedence, OperatorLookup) {
  auto kind_of = [](TokenKind current, TokenKind next) {
    std::optional<BinaryLikeOperator> op = binary_like_operator_from_tokens(current, next);
    return op ? static_cast<int>(op->binding_power()) : -1;
  };
  EXPECT_EQ(kind_of(TokenKind::Is, TokenKind::Not), 9);
  EXPECT_EQ(binary_like_operator_from_tokens(TokenKind::Is, TokenKind::Not)->comparison, ComparisonOperator::IsNot);
  EXPECT_EQ(binary_like_operator_from_tokens(TokenKind::Is, TokenKind::Name)->comparison, ComparisonOperator::Is);
  EXPECT_EQ(binary_like_operator_from_tokens(TokenKind::Not, TokenKind::In)->comparison, ComparisonOperator::NotIn);
  EXPECT_EQ(kind_of(TokenKind::Not, TokenKind::Name), -1);  // `a not b` stops after `a`
  for (TokenKind none : {TokenKind::Equal, TokenKind::ColonEqual, TokenKind::If, TokenKind::PlusEqual,
                         TokenKind::Comma, TokenKind::Rarrow}) {
    EXPECT_EQ(kind_of(none, TokenKind::Name), -1) << debug_name(none);
  }
  EXPECT_EQ(kind_of(TokenKind::Or, TokenKind::Name), 6);
  EXPECT_EQ(kind_of(TokenKind::And, TokenKind::Name), 7);
  EXPECT_EQ(kind_of(TokenKind::Vbar, TokenKind::Name), 10);
  EXPECT_EQ(kind_of(TokenKind::CircumFlex, TokenKind::Name), 11);
  EXPECT_EQ(kind_of(TokenKind::Amper, TokenKind::Name), 12);
  EXPECT_EQ(kind_of(TokenKind::RightShift, TokenKind::Name), 13);
  EXPECT_EQ(kind_of(TokenKind::Minus, TokenKind::Name), 14);
  EXPECT_EQ(kind_of(TokenKind::At, TokenKind::Name), 15);
  EXPECT_EQ(kind_of(TokenKind::DoubleSlash, TokenKind::Name), 15);
  EXPECT_EQ(kind_of(TokenKind::DoubleStar, TokenKind::Name), 17);
}

TEST(Precedence, PlacementErrors) {
  expect_first_errors({
      {"a == not b", {"Boolean 'not' expression cannot be used here", 5, 10}},
      {"-not a", {"Boolean 'not' expression cannot be used here", 1, 6}},
      {"a ** not b", {"Boolean 'not' expression cannot be used here", 5, 10}},
      {"await -x", {"Unary '-' expression cannot be used here", 6, 8}},
      {"await ~x", {"Unary '~' expression cannot be used here", 6, 8}},
      {"await await x", {"Await expression cannot be used here", 6, 13}},
      {"x + lambda: 2", {"Lambda expression cannot be used here", 4, 13}},
      {"a if lambda: b else c", {"Lambda expression cannot be used here", 5, 14}},
      {"a if b", {"Expected `else`, found newline", 6, 6}},
      {"lambda x x", {"Expected `,`, found name", 9, 10}},
      {"lambda x", {"Expected `,`, found newline", 8, 8}},
      {"lambda x:", {"Expected an expression", 9, 9}},
      {"(a.b := 1)", {"Assignment expression target must be an identifier", 1, 4}},
      {"(f() := 1)", {"Assignment expression target must be an identifier", 1, 4}},
      {"1 +", {"Expected an expression", 3, 3}},
      {"a + *b", {"Starred expression cannot be used here", 4, 6}},
      {"*a", {"Starred expression cannot be used here", 0, 2}},
      {"yield x", {"Yield expression cannot be used here", 0, 7}},
      {"f(* *a)", {"Starred expression cannot be used here", 4, 6}},
  });
  // `a and not b` and `a ** -b` are fine.
  expect_trees({{"a and not b", "(and a (not b))"}, {"((a) := 1)", "(:= a@Store 1)"}});
}

TEST(Precedence, AMissingOperandIsAnEmptyInvalidName) {
  Parse parse("1 +\n");
  EXPECT_EQ(parse.tree(), "(+ 1 @Invalid)");
  EXPECT_THAT(parse.errors(), testing::ElementsAre(ShownError{"Expected an expression", 3, 4}));
  const auto& bin = parse.body()->cast<ExprBinOp>();
  EXPECT_EQ(bin.range, TextRange(0, 3));
  EXPECT_EQ(bin.right->range, TextRange(3, 3));
}

TEST(Precedence, BitwiseOrRestrictionAfterStar) {
  expect_first_errors({
      {"[*a or b]", {"Boolean expression cannot be used here", 2, 8}},
      {"[*not a]", {"Boolean expression cannot be used here", 2, 7}},
      {"[*a if b else c]", {"Conditional expression cannot be used here", 2, 15}},
      {"[*a < b]", {"Comparison expression cannot be used here", 2, 7}},
      {"[*lambda: a]", {"Lambda expression cannot be used here", 2, 11}},
      {"(*a and b, c)", {"Boolean expression cannot be used here", 2, 9}},
  });
  expect_trees({
      {"[*(a or b)]", "(list (* (or a b)))"},
      {"[*a | b]", "(list (* (| a b)))"},
      {"f(*a or b)", "(call f (* (or a b)))"},
  });
}

// ---------------------------------------------------------------------------
// Operands

TEST(Operands, AtomsAndPostfixChains) {
  expect_trees({
      {"a.b.c(d)[e]", "([] (call (. (. a b) c) d) e)"},
      {"f(x)(y)", "(call (call f x) y)"},
      {"1 .real", "(. 1 real)"},
      {"'a' 'b'.upper()", "(call (. (str \"ab\" (s ' \"a\") (s ' \"b\")) upper))"},
      {"(a).b", "(. a b)"},
      {"...", "..."},
      {"True and False or None", "(or (and True False) None)"},
      {"match.y", "(. match y)"},
      {"f(type)", "(call f type)"},
      {"case[0]", "([] case 0)"},
      {"0x1F + 1.5 + 2j", "(+ (+ 0x1F 1.5) 2j)"},
  });
  // The values of the number forms the tree shows as written.
  Parse numbers("0x1F + 1.5 + 2j");
  const auto& sum = numbers.body()->cast<ExprBinOp>();
  const auto& first = sum.left->cast<ExprBinOp>();
  std::optional<Int> hex = first.left->cast<ExprNumberLiteral>().value.as_int();
  ASSERT_TRUE(hex.has_value());
  EXPECT_EQ(hex->to_string(), "31");
  EXPECT_EQ(first.right->cast<ExprNumberLiteral>().value.as_float(), std::optional<double>(1.5));
  EXPECT_EQ(sum.right->cast<ExprNumberLiteral>().value.as_complex(), std::optional<ComplexValue>({0.0, 2.0}));
}

TEST(Operands, RangesOfNestedPostfixNodesStartAtTheAtom) {
  Parse parse("a.b.c(d)[e]");
  const auto& subscript = parse.body()->cast<ExprSubscript>();
  const auto& call = subscript.value->cast<ExprCall>();
  const auto& outer = call.function->cast<ExprAttribute>();
  const auto& inner = outer.value->cast<ExprAttribute>();
  EXPECT_EQ(subscript.range, TextRange(0, 11));
  EXPECT_EQ(call.range, TextRange(0, 8));
  EXPECT_EQ(call.arguments.range, TextRange(5, 8));
  EXPECT_EQ(outer.range, TextRange(0, 5));
  EXPECT_EQ(inner.range, TextRange(0, 3));
  EXPECT_EQ(inner.attribute.range, TextRange(2, 3));
}

TEST(Operands, ParenthesizedForms) {
  expect_trees({
      {"()", "(ptuple)"},
      {"(a)", "a"},
      {"((a))", "a"},
      {"(a,)", "(ptuple a)"},
      {"(a, b,)", "(ptuple a b)"},
      {"(*a,)", "(ptuple (* a))"},
      {"(*a, b)", "(ptuple (* a) b)"},
      {"(yield)", "(yield)"},
      {"(yield a, *b)", "(yield (tuple a (* b)))"},
      {"(yield from a)", "(yield-from a)"},
      {"(x for x in y)", "(pgen x (for x@Store y))"},
      {"a, b", "(tuple a b)"},
      {"a,", "(tuple a)"},
  });
  // A group keeps its expression's range; a tuple takes in its parentheses.
  Parse group("( a )");
  EXPECT_EQ(group.body()->range, TextRange(2, 3));
  Parse tuple("(a, b)");
  EXPECT_EQ(tuple.body()->range, TextRange(0, 6));
  Parse empty("()");
  EXPECT_EQ(empty.body()->range, TextRange(0, 2));
  EXPECT_TRUE(empty.body()->cast<ExprTuple>().elements.empty());
}

TEST(Operands, MarkedExpressionsKeepTheMarkThroughPostfixOperations) {
  struct Case {
    std::string_view source;
    bool marked;
  };
  for (const Case& c : std::initializer_list<Case>{{"(a)", true},
                                                   {"(a).b", true},
                                                   {"(f)(x)", true},
                                                   {"(a)[0]", true},
                                                   {"f(x)", false},
                                                   {"(a, b)", false},
                                                   {"()", false},
                                                   {"(a) + b", false},
                                                   {"(x for x in y)", false}}) {
    python_ast::Arena arena;
    Parser parser(c.source, Mode::Expression, arena);
    MarkedExpr parsed = parse_named_expression_or_higher(parser, ExpressionParseFlags::None);
    EXPECT_EQ(parsed.in_parentheses, c.marked) << c.source;
  }
}

TEST(Operands, ParenthesizedErrors) {
  expect_first_errors({
      {"(*a)", {"Starred expression cannot be used here", 1, 3}},
      {"(*a for a in b)", {"Iterable unpacking cannot be used in a comprehension", 1, 3}},
      // At an unclosed bracket the lexer ends with an Unknown token (and its
      // own error, which the merged list shows instead).
      {"(a, b", {"Expected `,`, found Unknown", 5, 5}},
      {"(a, b c)", {"Expected `,`, found name", 6, 7}},
      {"(a b)", {"Expected `)`, found name", 3, 4}},
      {"(", {"Expected an expression", 1, 1}},
      {"(yield, a)", {"Yield expression cannot be used here", 1, 6}},
      {"(yield for a in b)", {"Yield expression cannot be used here", 1, 6}},
      {"(a, **b)", {"Expected an expression", 4, 6}},
      {"yield from a, b", {"Unparenthesized tuple expression cannot be used here", 11, 15}},
  });
  Parse from_tuple("(yield from a, b)");
  EXPECT_THAT(from_tuple.errors(),
              testing::ElementsAre(ShownError{"Unparenthesized tuple expression cannot be used here", 12, 16}));
}

TEST(Operands, YieldForms) {
  expect_trees({
      {"(yield)", "(yield)"},
      {"(yield a)", "(yield a)"},
      {"(yield *a, b)", "(yield (tuple (* a) b))"},
      {"(yield from (a, b))", "(yield-from (ptuple a b))"},
      {"(yield match)", "(yield match)"},
      {"a + (yield)", "(+ a (yield))"},
  });
  expect_first_errors({
      {"print(yield)", {"Yield expression cannot be used here", 6, 11}},
      {"[yield]", {"Yield expression cannot be used here", 1, 6}},
  });
}

TEST(Operands, Identifiers) {
  expect_first_errors({
      {"print.class", {"Expected an identifier, but found a keyword `class` that cannot be used here", 6, 11}},
      {"a.", {"Expected an identifier", 2, 2}},
      {"if", {"Expected an identifier, but found a keyword `if` that cannot be used here", 0, 2}},
  });
  Parse keyword("print.class");
  EXPECT_EQ(keyword.tree(), "(. print class)");
  Parse missing("a.");
  const auto& attribute = missing.body()->cast<ExprAttribute>();
  EXPECT_FALSE(attribute.attribute.is_valid());
  EXPECT_EQ(attribute.attribute.range, TextRange(2, 2));
  EXPECT_EQ(attribute.range, TextRange(0, 2));
  // A keyword used as a name keeps its text; the soft keywords are names.
  Parse as_name("if");
  EXPECT_EQ(as_name.tree(), "if");
}

// ---------------------------------------------------------------------------
// Calls

TEST(Calls, ArgumentKinds) {
  expect_trees({
      {"f()", "(call f)"},
      {"f(a, *b, c=1, *d, **e)", "(call f a (* b) (* d) (kw c 1) (kw** e))"},
      {"f(a,)", "(call f a)"},
      {"f(**a, **a)", "(call f (kw** a) (kw** a))"},
      {"f(x for x in y)", "(call f (gen x (for x@Store y)))"},
      {"f((x for x in y), 1)", "(call f (pgen x (for x@Store y)) 1)"},
      {"f(a := 1, b=c)", "(call f (:= a@Store 1) (kw b c))"},
      {"f(*a or b)", "(call f (* (or a b)))"},
      {"f((a)=1)", "(call f (kw a 1))"},
  });
}

TEST(Calls, ArgumentErrors) {
  expect_first_errors({
      {"f(**k, *a)", {"Iterable argument unpacking cannot follow keyword argument unpacking", 7, 9}},
      {"f(**k, a)", {"Positional argument cannot follow keyword argument unpacking", 7, 8}},
      {"f(k=1, a)", {"Positional argument cannot follow keyword argument", 7, 8}},
      {"f(a.b=1)", {"Expected a parameter name", 2, 5}},
      {"f(a=1, a=2)", {"Duplicate keyword argument \"a\"", 7, 10}},
      {"f(x for x in y, 1)", {"Unparenthesized generator expression cannot be used here", 2, 14}},
      {"f(x for x in y,)", {"Unparenthesized generator expression cannot be used here", 2, 14}},
      {"f(1, x for x in y)", {"Unparenthesized generator expression cannot be used here", 5, 17}},
      {"f(*a for a in b)", {"Iterable unpacking cannot be used in a comprehension", 2, 4}},
      {"f(a", {"Expected `,`, found Unknown", 3, 3}},
      {"f(a]", {"Expected `,`, found `]`", 3, 4}},
      {"f(a b)", {"Expected `,`, found name", 4, 5}},
      {"f(,)", {"Expected an expression or a ')'", 2, 3}},
  });
}

TEST(Calls, DuplicateKeywordsAreReportedOnceEachInOrder) {
  Parse three("f(a=1, a=2, a=3)");
  EXPECT_THAT(three.errors(), testing::ElementsAre(ShownError{"Duplicate keyword argument \"a\"", 7, 10},
                                                   ShownError{"Duplicate keyword argument \"a\"", 12, 15}));
  // More keywords than the pairwise comparison takes: the same rule.
  std::string many = "f(";
  for (int i = 0; i < 40; ++i) {
    many += "k";
    many += std::to_string(i % 30);
    many += "=0, ";
  }
  many += ")";
  Parse big(many);
  std::vector<ShownError> errors = big.errors();
  ASSERT_EQ(errors.size(), 10u);
  EXPECT_EQ(errors.front().text, "Duplicate keyword argument \"k0\"");
  EXPECT_EQ(errors.back().text, "Duplicate keyword argument \"k9\"");
  // Names that recovery made up are not compared.
  Parse invented("f(a.b=1, c.d=2)");
  EXPECT_THAT(invented.errors(), testing::ElementsAre(ShownError{"Expected a parameter name", 2, 5},
                                                      ShownError{"Expected a parameter name", 9, 12}));
  EXPECT_EQ(invented.tree(), "(call f (kw @Invalid 1) (kw @Invalid 2))");
}

TEST(Calls, KeywordRanges) {
  Parse parse("f(a=1, **k)");
  const auto& call = parse.body()->cast<ExprCall>();
  ASSERT_EQ(call.arguments.keywords.size(), 2u);
  EXPECT_EQ(call.arguments.keywords[0].range, TextRange(2, 5));
  EXPECT_EQ(call.arguments.keywords[0].arg->range, TextRange(2, 3));
  EXPECT_EQ(call.arguments.keywords[1].range, TextRange(7, 10));
  EXPECT_FALSE(call.arguments.keywords[1].arg.has_value());
  EXPECT_EQ(call.arguments.range, TextRange(1, 11));
  // The sole generator argument does not own the call's parentheses.
  Parse generator("f(x for x in y)");
  const auto& gen = generator.body()->cast<ExprCall>().arguments.args[0]->cast<ExprGenerator>();
  EXPECT_FALSE(gen.parenthesized);
  EXPECT_EQ(gen.range, TextRange(2, 14));
}

// ---------------------------------------------------------------------------
// Subscripts and slices

TEST(Subscripts, SlicesAndTuples) {
  expect_trees({
      {"x[1]", "([] x 1)"},
      {"x[1:2]", "([] x (slice 1 2 <null>))"},
      {"x[::]", "([] x (slice <null> <null> <null>))"},
      {"x[:]", "([] x (slice <null> <null> <null>))"},
      {"x[a:b:c]", "([] x (slice a b c))"},
      {"x[::c]", "([] x (slice <null> <null> c))"},
      {"x[1:2, ::3]", "([] x (tuple (slice 1 2 <null>) (slice <null> <null> 3)))"},
      {"x[a, b]", "([] x (tuple a b))"},
      {"x[a,]", "([] x (tuple a))"},
      {"x[*a]", "([] x (tuple (* a)))"},
      {"x[*a, b]", "([] x (tuple (* a) b))"},
      {"x[(a := 1)]", "([] x (:= a@Store 1))"},
      {"x[(a := 1):2]", "([] x (slice (:= a@Store 1) 2 <null>))"},
      {"x[a if b else c:d]", "([] x (slice (if a b c) d <null>))"},
      {"x[lambda: 0]", "([] x (lambda 0))"},
  });
  Parse parse("x[1:2, ::3]");
  const auto& slice = parse.body()->cast<ExprSubscript>().slice->cast<ExprTuple>();
  EXPECT_FALSE(slice.parenthesized);
  EXPECT_EQ(slice.range, TextRange(2, 10));
  EXPECT_EQ(slice.elements[1]->range, TextRange(7, 10));
}

TEST(Subscripts, Errors) {
  expect_first_errors({
      {"x[]", {"Expected index or slice expression", 2, 3}},
      {"x[a := 1 : 2]", {"Unparenthesized named expression cannot be used here", 2, 8}},
      {"x[*a : 2]", {"Starred expression cannot be used here", 2, 4}},
      {"x[1", {"Expected `:`, found Unknown", 3, 3}},
      {"x[1)", {"Expected `:`, found `)`", 3, 4}},
      {"x[a b]", {"Expected `:`, found name", 4, 5}},
      {"x[a, **b]", {"Expected an expression", 5, 7}},
  });
  Parse empty("x[]");
  const auto& slice = empty.body()->cast<ExprSubscript>().slice->cast<ExprName>();
  EXPECT_EQ(slice.ctx, ExpressionContext::Invalid);
  EXPECT_EQ(slice.range, TextRange(2, 3));
}

// ---------------------------------------------------------------------------
// Recording order

TEST(Errors, FullListsPinTheRecordingOrder) {
  struct Case {
    std::string_view source;
    std::vector<ShownError> errors;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"f(**k, a, b=1, b=2)",
            {{"Positional argument cannot follow keyword argument unpacking", 7, 8},
             {"Duplicate keyword argument \"b\"", 15, 18}}},
           {"await -x ** not y",
            {{"Boolean 'not' expression cannot be used here", 12, 17},
             {"Unary '-' expression cannot be used here", 6, 17}}},
           {"(a.b := c, *d or e)",
            {{"Assignment expression target must be an identifier", 1, 4},
             {"Boolean expression cannot be used here", 12, 18}}},
           {"x[] + ()[0", {{"Expected index or slice expression", 2, 3}, {"unexpected EOF while parsing", 10, 10}}},
       }) {
    Parse parse(c.source);
    EXPECT_EQ(parse.errors(), c.errors) << c.source;
  }
}

TEST(Errors, TheEntryReportsTrailingTokens) {
  Parse parse("a b");
  EXPECT_THAT(parse.errors(),
              testing::ElementsAre(ShownError{"Unexpected token at the end of an expression", 2, 3}));
  EXPECT_EQ(parse.tree(), "a");
}

// Every text that is an expression start at some position must progress:
// inputs made of the tokens that can start an element of the expression
// lists but not an operand.
TEST(Errors, StrayTokensNeverStopTheParser) {
  for (std::string_view source :
       {"(**)", "[**]", "f(**)", "x[**]", "(a, **)", "** ** a", "(a, *, b)", "lambda *, **: 0",
        "(lambda: (lambda", "f(a=, b=)", "a if else b", "not", "await", "-", "(((", "[[[", "{{{", "f(((",
        "a.b.", "a[b[c[", "lambda **", "x := 1", "a := b := c", "f(a)(b)[c](", ")", "]", "}", ":"}) {
    Parse parse(source);
    EXPECT_FALSE(parse.errors().empty()) << source;
  }
}

// ---------------------------------------------------------------------------
// Targets

TEST(Targets, SetExprCtxRewritesTargetsInPlace) {
  struct Case {
    std::string_view source;
    ExpressionContext ctx;
    std::string_view tree;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"[a, *b]", ExpressionContext::Store, "(list@Store a@Store (*@Store b@Store))"},
           {"(a, (b, [c.d, e[0]]))", ExpressionContext::Del,
            "(ptuple@Del a@Del (ptuple@Del b@Del (list@Del (.@Del c d) ([]@Del e 0))))"},
           {"-a", ExpressionContext::Store, "(USub a@Store)"},
           {"a + b", ExpressionContext::Store, "(+ a b)"},
           {"f(a)", ExpressionContext::Store, "(call f a)"},
           {"*(a, b)", ExpressionContext::Store, "(*@Store (ptuple@Store a@Store b@Store))"},
       }) {
    Parse parse(c.source);
    helpers::set_expr_ctx(const_cast<Expr*>(parse.body()), c.ctx);
    EXPECT_EQ(parse.tree(), c.tree) << c.source;
  }
}

TEST(Targets, SetExprCtxHandlesWideAndDeepTargets) {
  // Many compound elements (past the inline work list) and deep nesting.
  std::string wide = "[";
  for (int i = 0; i < 200; ++i) wide += "(a, [b]), ";
  wide += "]";
  Parse parse(wide);
  ASSERT_THAT(parse.errors(), testing::IsEmpty());
  helpers::set_expr_ctx(const_cast<Expr*>(parse.body()), ExpressionContext::Store);
  const auto& list = parse.body()->cast<ExprList>();
  ASSERT_EQ(list.elements.size(), 200u);
  const auto& last = list.elements.back()->cast<ExprTuple>();
  EXPECT_EQ(last.ctx, ExpressionContext::Store);
  EXPECT_EQ(last.elements[1]->cast<ExprList>().elements[0]->cast<ExprName>().ctx, ExpressionContext::Store);

  std::string deep = join({repeat("[", 400), "a", repeat("]", 400)});
  Parse nested(deep);
  ASSERT_THAT(nested.errors(), testing::IsEmpty());
  helpers::set_expr_ctx(const_cast<Expr*>(nested.body()), ExpressionContext::Del);
  const Expr* inner = nested.body();
  while (const auto* l = inner->as<ExprList>()) {
    EXPECT_EQ(l->ctx, ExpressionContext::Del);
    inner = l->elements[0];
  }
  EXPECT_EQ(inner->cast<ExprName>().ctx, ExpressionContext::Del);
}

// ---------------------------------------------------------------------------
// Nesting: deep inputs parse, or stop with the one nesting error; loops stay
// loops. Run on the main thread and on a thread with a 256 KiB stack.

using test_support::run_on_thread;

struct DeepCase {
  std::string source;
  // True: the text parses without any error (the construct is a loop).
  bool flat;
  Mode mode = Mode::Expression;
};

std::vector<DeepCase> deep_cases() {
  constexpr std::size_t kDeep = 100000;
  return {
      {repeat("(", kDeep), false},
      {join({repeat("(", kDeep), "a", repeat(")", kDeep)}), false},
      {repeat("[", kDeep), false},
      {repeat("{", kDeep), false},
      {join({repeat("-", kDeep), "a"}), false},
      {join({repeat("not ", kDeep), "a"}), false},
      {join({repeat("await ", kDeep), "a"}), false},
      {join({repeat("lambda: ", kDeep), "a"}), false},
      {join({repeat("* ", kDeep), "a"}), false},
      {join({repeat("a ** ", kDeep), "a"}), false},
      {repeat("f(", kDeep), false},
      {repeat("a[", kDeep), false},
      {repeat("(yield ", kDeep), false},
      {join({repeat("lambda a=", kDeep), "0: 0"}), false},
      {join({repeat("a if b else ", kDeep), "c"}), true},
      {join({"a", repeat(".b", kDeep)}), true},
      {join({"a", repeat(" + a", kDeep)}), true},
      {join({"a", repeat(" or a", kDeep)}), true},
      {join({"a", repeat(" < a", kDeep)}), true},
      {join({"f", repeat("(x)", kDeep)}), true},
      {join({"x", repeat("[0]", kDeep)}), true},
      {join({"(", repeat("a, ", kDeep), ")"}), true},
      {join({repeat("{a: ", kDeep), "a", repeat("}", kDeep)}), false},
      // Closed f-strings nested in their interpolations, as 3.12 reads them.
      {join({repeat("f'{", 5000), "a", repeat("}'", 5000)}), false},
      // Whole modules: a statement's value, and an unclosed pattern.
      {join({"x = ", repeat("(", kDeep)}), false, Mode::Module},
      {join({"match x:\n    case ", repeat("[", kDeep)}), false, Mode::Module},
  };
}

void check_deep(const DeepCase& c) {
  Parsed<Mod> parsed = parse_unchecked(c.source, c.mode);
  std::string head = c.source.substr(0, 24);
  if (c.flat) {
    EXPECT_THAT(shown(parsed.errors), testing::IsEmpty()) << head;
    return;
  }
  std::size_t nesting = 0;
  for (const ParseError& error : parsed.errors) {
    if (error.error.kind() == ParseErrorType::Other && error.error.text() == kNestingTooDeepMessage) ++nesting;
  }
  EXPECT_EQ(nesting, 1u) << head;
}

TEST(Nesting, DeepInputsOnTheMainThread) {
  for (const DeepCase& c : deep_cases()) check_deep(c);
}

TEST(Nesting, DeepInputsOnASmallStack) {
  for (const DeepCase& c : deep_cases()) {
    run_on_thread(256 * 1024, [&] { check_deep(c); });
  }
}

void check_ordinary_depth() {
  // CPython's own limits: 200 nested brackets parse here without an error.
  for (std::string_view open : {"(", "[", "{", "f(", "x["}) {
    std::string close = open == "(" || open == "f(" ? ")" : open == "[" || open == "x[" ? "]" : "}";
    std::string source = join({repeat(open, 200), "a", repeat(close, 200)});
    Parse parse(source);
    EXPECT_THAT(parse.errors(), testing::IsEmpty()) << open;
  }
  Parse unary(join({repeat("-", 200), "a"}));
  EXPECT_THAT(unary.errors(), testing::IsEmpty());
  Parse lambdas(join({repeat("lambda: ", 200), "a"}));
  EXPECT_THAT(lambdas.errors(), testing::IsEmpty());
}

TEST(Nesting, OrdinaryDepthParsesUnchanged) { check_ordinary_depth(); }

#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_UNDEFINED__)
// The frames of the recursive parse functions stay small enough for real
// code to nest as deep as CPython allows on a 256 KiB stack too. (Without
// optimisation or under the sanitizers frames are several times larger and
// the guard stops earlier.)
TEST(Nesting, OrdinaryDepthParsesOnASmallStack) {
  run_on_thread(256 * 1024, [] { check_ordinary_depth(); });
}
#endif

}  // namespace
}  // namespace python_parser
