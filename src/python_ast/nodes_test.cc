#include "python_ast/nodes.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "python_ast/module.h"
#include "support/fatal_error.h"
#include "test_support/python_ast/nodes.h"

namespace python_ast {
namespace {

using testing::TreeBuilder;

// Every node record lives in an arena that never runs destructors, and is
// copied bytewise by the parser's list building.
#define TOLVA_CHECK_KIND_RECORD(kind, record, ...)                                     \
  static_assert(std::is_trivially_destructible_v<record>, #record " is destroyed by freeing its arena"); \
  static_assert(std::is_trivially_copyable_v<record>, #record " is copied bytewise");
#define TOLVA_CHECK_RECORD(record)                                                     \
  static_assert(std::is_trivially_destructible_v<record>, #record " is destroyed by freeing its arena"); \
  static_assert(std::is_trivially_copyable_v<record>, #record " is copied bytewise");
TOLVA_MOD_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_STMT_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_EXPR_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_PATTERN_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_TYPE_PARAM_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_CHECK_KIND_RECORD)
TOLVA_RECORD_NODES(TOLVA_CHECK_RECORD)
#undef TOLVA_CHECK_KIND_RECORD
#undef TOLVA_CHECK_RECORD
static_assert(std::is_trivially_copyable_v<FStringPart> && std::is_trivially_destructible_v<FStringPart>);
static_assert(std::is_trivially_copyable_v<StringLiteralValue> && std::is_trivially_copyable_v<FStringValue>);
static_assert(std::is_trivially_copyable_v<NumberLiteralValue>);

// The hot records stay small: a header of 16 bytes and word-sized children.
static_assert(sizeof(Expr) == 16 && sizeof(Stmt) == 16 && sizeof(Pattern) == 16);
static_assert(sizeof(ExprName) <= 40);
static_assert(sizeof(ExprBinOp) <= 40);
static_assert(sizeof(ExprAttribute) <= 64);
static_assert(sizeof(ExprNumberLiteral) <= 40);
static_assert(sizeof(ExprStringLiteral) <= 48);
static_assert(sizeof(ExprCall) <= 72);
static_assert(sizeof(StmtExpression) <= 24);
static_assert(sizeof(StmtAssignment) <= 40);
static_assert(sizeof(NumberLiteralValue) <= 24);

// Kind numbering follows the tables; node types are the families in order.
TEST(NodeKinds, NumberingAndNames) {
  struct Case {
    int value;
    int expected;
    std::string_view name;
    std::string_view expected_name;
  };
  const Case cases[] = {
      {static_cast<int>(StmtKind::FunctionDefinition), 0, kind_name(StmtKind::FunctionDefinition),
       "StmtFunctionDefinition"},
      {static_cast<int>(StmtKind::Match), 12, kind_name(StmtKind::Match), "StmtMatch"},
      {static_cast<int>(StmtKind::IpyEscapeCommand), 24, kind_name(StmtKind::IpyEscapeCommand),
       "StmtIpyEscapeCommand"},
      {static_cast<int>(ExprKind::BooleanOperation), 0, kind_name(ExprKind::BooleanOperation),
       "ExprBooleanOperation"},
      {static_cast<int>(ExprKind::Call), 16, kind_name(ExprKind::Call), "ExprCall"},
      {static_cast<int>(ExprKind::NumberLiteral), 21, kind_name(ExprKind::NumberLiteral), "ExprNumberLiteral"},
      {static_cast<int>(ExprKind::Name), 28, kind_name(ExprKind::Name), "ExprName"},
      {static_cast<int>(ExprKind::IpyEscapeCommand), 32, kind_name(ExprKind::IpyEscapeCommand),
       "ExprIpyEscapeCommand"},
      {static_cast<int>(PatternKind::Value), 0, kind_name(PatternKind::Value), "PatternValue"},
      {static_cast<int>(PatternKind::Or), 7, kind_name(PatternKind::Or), "PatternOr"},
      {static_cast<int>(TypeParamKind::DoubleStar), 2, kind_name(TypeParamKind::DoubleStar), "TypeParamDoubleStar"},
      {static_cast<int>(InterpolatedStringElementKind::Interpolation), 1,
       kind_name(InterpolatedStringElementKind::Interpolation), "Interpolation"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, c.expected) << c.expected_name;
    EXPECT_EQ(c.name, c.expected_name);
  }
  EXPECT_EQ(node_type_name(node_type_of(ExprKind::Call)), "ExprCall");
  EXPECT_EQ(node_type_name(node_type_of(StmtKind::IpyEscapeCommand)), "StmtIpyEscapeCommand");
  EXPECT_EQ(node_type_name(node_type_of(PatternKind::Or)), "PatternOr");
  EXPECT_EQ(node_type_name(NodeType::Identifier), "Identifier");
  EXPECT_EQ(node_type_name(NodeType::DictItem), "DictItem");
  EXPECT_EQ(node_type_name(static_cast<NodeType>(250)), "?");
}

TEST(Operators, TextsAndNames) {
  struct Case {
    std::string_view text;
    std::string_view name;
    std::string_view expected_text;
    std::string_view expected_name;
  };
  const Case cases[] = {
      {as_str(BooleanOperator::And), enum_name(BooleanOperator::And), "and", "And"},
      {as_str(BooleanOperator::Or), enum_name(BooleanOperator::Or), "or", "Or"},
      {as_str(BinaryOperator::Add), enum_name(BinaryOperator::Add), "+", "Add"},
      {as_str(BinaryOperator::MatMult), enum_name(BinaryOperator::MatMult), "@", "MatMult"},
      {as_str(BinaryOperator::Pow), enum_name(BinaryOperator::Pow), "**", "Pow"},
      {as_str(BinaryOperator::BitOr), enum_name(BinaryOperator::BitOr), "|", "BitOr"},
      {as_str(BinaryOperator::BitXor), enum_name(BinaryOperator::BitXor), "^", "BitXor"},
      {as_str(BinaryOperator::FloorDiv), enum_name(BinaryOperator::FloorDiv), "//", "FloorDiv"},
      {as_str(ComparisonOperator::Eq), enum_name(ComparisonOperator::Eq), "==", "Eq"},
      {as_str(ComparisonOperator::LtE), enum_name(ComparisonOperator::LtE), "<=", "LtE"},
      {as_str(ComparisonOperator::IsNot), enum_name(ComparisonOperator::IsNot), "is not", "IsNot"},
      {as_str(ComparisonOperator::NotIn), enum_name(ComparisonOperator::NotIn), "not in", "NotIn"},
      {as_str(UnaryOp::Invert), enum_name(UnaryOp::Invert), "~", "Invert"},
      {as_str(UnaryOp::Not), enum_name(UnaryOp::Not), "not", "Not"},
      {as_str(UnaryOp::UAdd), enum_name(UnaryOp::UAdd), "+", "UAdd"},
      {as_str(UnaryOp::USub), enum_name(UnaryOp::USub), "-", "USub"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.text, c.expected_text) << c.expected_name;
    EXPECT_EQ(c.name, c.expected_name);
  }
  // The numbering is that of Python's ast module.
  EXPECT_EQ(static_cast<int>(BinaryOperator::FloorDiv), 12);
  EXPECT_EQ(static_cast<int>(ComparisonOperator::NotIn), 9);
  EXPECT_EQ(static_cast<int>(UnaryOp::USub), 3);
  // The display of a unary operator is its text.
  std::ostringstream out;
  out << UnaryOp::Not << ' ' << UnaryOp::USub << ' ' << ComparisonOperator::NotIn;
  EXPECT_EQ(out.str(), "not - not in");
}

TEST(Enumerations, ValuesAndNames) {
  EXPECT_EQ(static_cast<int>(Conversion::None), -1);
  EXPECT_EQ(static_cast<int>(Conversion::Ascii), 'a');
  EXPECT_EQ(static_cast<int>(Conversion::Repr), 'r');
  EXPECT_EQ(static_cast<int>(Conversion::Str), 's');
  EXPECT_EQ(enum_name(Conversion::Repr), "Repr");
  EXPECT_EQ(enum_name(ExpressionContext::Invalid), "Invalid");
  EXPECT_EQ(enum_name(PatternSingletonValue::False), "False");
  EXPECT_EQ(enum_name(IpyEscapeKind::DoublePercent), "DoublePercent");
  EXPECT_EQ(static_cast<int>(IpyEscapeKind::Slash), 8);
}

TEST(IpyEscapeKind, FromPrefixCharacters) {
  struct One {
    char32_t c;
    std::optional<IpyEscapeKind> kind;
    std::string_view error;
  };
  const One ones[] = {
      {U'!', IpyEscapeKind::Exclamation, ""},
      {U'?', IpyEscapeKind::Question, ""},
      {U'%', IpyEscapeKind::Percent, ""},
      {U',', IpyEscapeKind::Comma, ""},
      {U';', IpyEscapeKind::Semi, ""},
      {U'/', IpyEscapeKind::Slash, ""},
      {U'x', std::nullopt, "Unexpected magic escape: x"},
      {U'\u00e9', std::nullopt, "Unexpected magic escape: \u00e9"},
      {0x110000, std::nullopt, "Unexpected magic escape: \ufffd"},
  };
  for (const One& c : ones) {
    auto result = ipy_escape_kind_try_from(c.c);
    if (c.kind) {
      ASSERT_TRUE(result.has_value()) << static_cast<std::uint32_t>(c.c);
      EXPECT_EQ(result.value(), *c.kind);
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), c.error);
    }
  }

  struct Two {
    char32_t first;
    char32_t second;
    std::optional<IpyEscapeKind> kind;
    std::string_view error;
  };
  const Two twos[] = {
      {U'!', U'!', IpyEscapeKind::DoubleExclamation, ""},
      {U'%', U'%', IpyEscapeKind::DoublePercent, ""},
      {U'?', U'?', IpyEscapeKind::DoubleQuestion, ""},
      {U'!', U'?', std::nullopt, "Unexpected magic escape: !?"},
      {U',', U',', std::nullopt, "Unexpected magic escape: ,,"},
      {U';', U';', std::nullopt, "Unexpected magic escape: ;;"},
      {U'/', U'/', std::nullopt, "Unexpected magic escape: //"},
      {U'%', U'!', std::nullopt, "Unexpected magic escape: %!"},
  };
  for (const Two& c : twos) {
    auto result = ipy_escape_kind_try_from(c.first, c.second);
    if (c.kind) {
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(result.value(), *c.kind);
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), c.error);
    }
  }
}

TEST(Expr, Description) {
  TreeBuilder b;
  struct Case {
    Expr* expr;
    std::optional<std::string_view> description;
  };
  const Case cases[] = {
      {b.integer(1, 0, 1), "an int literal"},
      {b.make<ExprNumberLiteral>(b.r(0, 3), NumberLiteralValue::of_float(1.0)), "a float literal"},
      {b.make<ExprNumberLiteral>(b.r(0, 2), NumberLiteralValue::of_complex(0.0, 1.0)), "a complex literal"},
      {b.make<ExprBooleanLiteral>(b.r(0, 4), true), "a boolean literal"},
      {b.make<ExprEllipsisLiteral>(b.r(0, 3)), "an ellipsis literal"},
      {b.make<ExprNoneLiteral>(b.r(0, 4)), "a `None` literal"},
      {b.make<ExprDict>(b.r(0, 2), std::span<DictItem>{}), "a dict literal"},
      {b.make<ExprYieldFrom>(b.r(0, 12), b.name("x", 11)), "`yield from` expression"},
      {b.make<ExprIpyEscapeCommand>(b.r(0, 3), "ls", IpyEscapeKind::Exclamation), "IPython escape command"},
      {b.name("x", 0), std::nullopt},
      {b.make<ExprAttribute>(b.r(0, 3), b.name("a", 0), TreeBuilder::ident("b", 2), ExpressionContext::Load),
       std::nullopt},
      {b.make<ExprCall>(b.r(0, 3), b.name("f", 0), Arguments(b.r(1, 3), {}, {})), std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expr->description(), c.description) << c.expr->kind_name();
  }
}

TEST(Downcast, CheckedByKind) {
  TreeBuilder b;
  Expr* name = b.name("x", 0);
  EXPECT_NE(name->as<ExprName>(), nullptr);
  EXPECT_EQ(name->as<ExprCall>(), nullptr);
  EXPECT_TRUE(name->is<ExprName>());
  EXPECT_EQ(name->cast<ExprName>().id, "x");
  EXPECT_EQ(name->kind(), ExprKind::Name);
  EXPECT_EQ(name->node_type(), NodeType::ExprName);
  try {
    (void)name->cast<ExprCall>();
    FAIL() << "cast to the wrong variant must throw";
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "expected ExprCall, found ExprName");
  }

  // The escape-command records have a field `kind` of their own.
  auto* command = b.make<StmtIpyEscapeCommand>(b.r(0, 3), "ls", IpyEscapeKind::DoubleExclamation);
  EXPECT_EQ(command->kind, IpyEscapeKind::DoubleExclamation);
  EXPECT_EQ(command->Stmt::kind(), StmtKind::IpyEscapeCommand);
  const Stmt* statement = command;
  EXPECT_EQ(statement->as<StmtIpyEscapeCommand>(), command);

  // Every node keeps the unassigned index.
  EXPECT_EQ(name->node_index.load(), 0xFFFFFFFEu);
  EXPECT_EQ(command->node_index.load(), 0xFFFFFFFEu);
}

static_assert(std::forward_iterator<ParametersIterator>);
static_assert(std::sentinel_for<std::default_sentinel_t, ParametersIterator>);

// `Parameters::iter` order: positional-only, positional, *args,
// keyword-only, **kwargs.
TEST(Parameters, IterOrder) {
  TreeBuilder b;
  auto parameter = [&](std::string_view name, std::uint32_t start) {
    return Parameter(TreeBuilder::r(start, start + static_cast<std::uint32_t>(name.size())),
                     TreeBuilder::ident(name, start), nullptr);
  };
  auto with_default = [&](std::string_view name, std::uint32_t start) {
    Parameter p = parameter(name, start);
    return ParameterWithDefault(p.range, p, nullptr);
  };
  auto names = [](const Parameters& parameters) {
    std::vector<std::string> out;
    for (const Parameter& p : parameters.iter()) out.emplace_back(p.name.as_str());
    return out;
  };
  using Names = std::vector<std::string>;

  // def f(a, /, b, *c, d, **e)
  Parameters all(b.r(5, 25), b.list({with_default("a", 6)}), b.list({with_default("b", 12)}),
                 b.make<Parameter>(parameter("c", 16)), b.list({with_default("d", 19)}),
                 b.make<Parameter>(parameter("e", 24)));
  // def f()
  Parameters none(b.r(5, 7), {}, {}, nullptr, {}, nullptr);
  // def f(*, a)
  Parameters keyword_only(b.r(5, 11), {}, {}, nullptr, b.list({with_default("a", 9)}), nullptr);
  // def f(**k, ) with only the variadic keyword; def f(*a, **k)
  Parameters only_kwargs(b.r(5, 10), {}, {}, nullptr, {}, b.make<Parameter>(parameter("k", 8)));
  Parameters both_variadic(b.r(5, 14), {}, {}, b.make<Parameter>(parameter("a", 7)), {},
                           b.make<Parameter>(parameter("k", 12)));
  // def f(a, b, /, c, d)
  Parameters several(b.r(5, 20), b.list({with_default("a", 6), with_default("b", 9)}),
                     b.list({with_default("c", 15), with_default("d", 18)}), nullptr, {}, nullptr);

  EXPECT_EQ(names(all), (Names{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(names(none), Names{});
  EXPECT_EQ(names(keyword_only), Names{"a"});
  EXPECT_EQ(names(only_kwargs), Names{"k"});
  EXPECT_EQ(names(both_variadic), (Names{"a", "k"}));
  EXPECT_EQ(names(several), (Names{"a", "b", "c", "d"}));

  // The iterator yields the records themselves, not copies.
  auto it = all.iter();
  EXPECT_EQ(&*it, &all.positional_only[0].parameter);
  ++it;
  ++it;
  EXPECT_EQ(&*it, all.var_positional);
  EXPECT_TRUE(none.iter() == std::default_sentinel);
}

TEST(StringValues, SingleAndConcatenated) {
  TreeBuilder b;
  StringLiteral first(b.r(0, 5), "abc", StringLiteralFlags());
  StringLiteral empty(b.r(6, 8), "", StringLiteralFlags());
  StringLiteral second(b.r(9, 15), "d\u00e9", StringLiteralFlags());

  StringLiteralValue one = StringLiteralValue::single(b.arena, first);
  EXPECT_FALSE(one.is_implicit_concatenated());
  ASSERT_EQ(one.parts().size(), 1u);
  EXPECT_EQ(one.to_str(), "abc");

  std::vector<StringLiteral> parts{first, empty, second};
  StringLiteralValue joined = StringLiteralValue::concatenated(b.arena, parts);
  // The caller's list may go away: the value holds arena copies.
  parts.clear();
  EXPECT_TRUE(joined.is_implicit_concatenated());
  ASSERT_EQ(joined.parts().size(), 3u);
  EXPECT_EQ(joined.parts()[2].range, b.r(9, 15));
  EXPECT_EQ(joined.to_str(), "abcd\u00e9");

  std::vector<StringLiteral> empties{empty, empty};
  EXPECT_EQ(StringLiteralValue::concatenated(b.arena, empties).to_str(), "");

  // StringLiteral::invalid: empty value, only the invalid bit, unassigned index.
  StringLiteral invalid = StringLiteral::invalid(b.r(5, 9));
  EXPECT_EQ(invalid.value, "");
  EXPECT_EQ(invalid.flags.bits(), 0x20);
  EXPECT_EQ(invalid.range, b.r(5, 9));
  EXPECT_EQ(invalid.node_index.load(), 0xFFFFFFFEu);

  // f-string values keep plain and f-string parts in order.
  FStringLiteralPart fstring(b.r(0, 4), {}, FStringFlags());
  std::vector<FStringPart> fparts{FStringPart(fstring), FStringPart(StringLiteral(b.r(5, 8), "x", {}))};
  FStringValue fvalue = FStringValue::concatenated(b.arena, fparts);
  ASSERT_EQ(fvalue.parts().size(), 2u);
  EXPECT_EQ(fvalue.parts()[0].kind(), FStringPart::Kind::FString);
  EXPECT_NE(fvalue.parts()[0].as_fstring(), nullptr);
  EXPECT_EQ(fvalue.parts()[0].as_literal(), nullptr);
  EXPECT_EQ(fvalue.parts()[1].kind(), FStringPart::Kind::Literal);
  EXPECT_EQ(fvalue.parts()[1].as_literal()->value, "x");
  EXPECT_EQ(fvalue.parts()[1].range(), b.r(5, 8));

  BytesLiteral bytes(b.r(0, 4), "\x00", BytesLiteralFlags());
  std::vector<BytesLiteral> bparts{bytes, bytes};
  EXPECT_EQ(BytesLiteralValue::concatenated(b.arena, bparts).parts().size(), 2u);
  EXPECT_FALSE(BytesLiteralValue::single(b.arena, bytes).is_implicit_concatenated());
  TString tstring(b.r(0, 4), {}, TStringFlags());
  std::vector<TString> tparts{tstring, tstring};
  EXPECT_TRUE(TStringValue::concatenated(b.arena, tparts).is_implicit_concatenated());
  EXPECT_FALSE(TStringValue::single(b.arena, tstring).is_implicit_concatenated());
}

TEST(StringValues, ConcatenatedNeedsTwoParts) {
  TreeBuilder b;
  StringLiteral literal(b.r(0, 2), "", {});
  BytesLiteral bytes(b.r(0, 3), "", {});
  FStringPart fpart{FStringLiteralPart(b.r(0, 3), {}, {})};
  TString tstring(b.r(0, 3), {}, {});
  auto message_of = [](auto&& build) -> std::string {
    try {
      build();
    } catch (const tolva::FatalError& error) {
      return error.message();
    }
    return "no error";
  };
  struct Case {
    std::string message;
    std::string_view expected;
  };
  const Case cases[] = {
      {message_of([&] { (void)StringLiteralValue::concatenated(b.arena, std::span<const StringLiteral>(&literal, 1)); }),
       "Use `StringLiteralValue::single` to create single-part strings"},
      {message_of([&] { (void)StringLiteralValue::concatenated(b.arena, {}); }),
       "Use `StringLiteralValue::single` to create single-part strings"},
      {message_of([&] { (void)BytesLiteralValue::concatenated(b.arena, std::span<const BytesLiteral>(&bytes, 1)); }),
       "Use `BytesLiteralValue::single` to create single-part bytestrings"},
      {message_of([&] { (void)FStringValue::concatenated(b.arena, std::span<const FStringPart>(&fpart, 1)); }),
       "Use `FStringValue::single` to create single-part f-strings"},
      {message_of([&] { (void)TStringValue::concatenated(b.arena, std::span<const TString>(&tstring, 1)); }),
       "Use `TStringValue::single` to create single-part t-strings"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.message, c.expected);
}

TEST(NumberLiteralValue, Kinds) {
  NumberLiteralValue i = NumberLiteralValue::of_int(Int::small(7));
  NumberLiteralValue f = NumberLiteralValue::of_float(0.5);
  NumberLiteralValue c = NumberLiteralValue::of_complex(0.0, 2.0);
  EXPECT_EQ(i.kind(), NumberLiteralValue::Kind::Int);
  EXPECT_EQ(i.as_int(), Int::small(7));
  EXPECT_EQ(i.as_float(), std::nullopt);
  EXPECT_EQ(f.as_float(), 0.5);
  EXPECT_EQ(f.as_complex(), std::nullopt);
  EXPECT_EQ(c.as_complex(), (ComplexValue{0.0, 2.0}));
  EXPECT_EQ(c.as_int(), std::nullopt);
}

TEST(ModuleTree, OwnsSourceArenaAndRoot) {
  auto tree = std::make_shared<ModuleTree>(std::string("x"));
  EXPECT_FALSE(tree->has_root());
  try {
    (void)tree->root();
    FAIL();
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "the module tree has no root");
  }
  std::string_view source = tree->source();
  auto* name = tree->arena().make<ExprName>(text_size::TextRange(0, 1), Name(source.substr(0, 1)),
                                            ExpressionContext::Load);
  auto* statement = tree->arena().make<StmtExpression>(text_size::TextRange(0, 1), name);
  std::span<Stmt*> body = tree->arena().make_array<Stmt*>(1);
  body[0] = statement;
  tree->set_root(*tree->arena().make<ModModule>(text_size::TextRange(0, 1), body));

  SharedModuleTree shared = tree;
  tree.reset();
  const ModModule& module = shared->module();
  ASSERT_EQ(module.body.size(), 1u);
  EXPECT_EQ(module.body[0]->cast<StmtExpression>().value->cast<ExprName>().id, "x");
  EXPECT_EQ(module.body[0]->cast<StmtExpression>().value->cast<ExprName>().id.data(), shared->source().data());
  try {
    (void)shared->expression();
    FAIL();
  } catch (const tolva::FatalError& error) {
    EXPECT_EQ(error.message(), "expected ModExpression, found ModModule");
  }
}

}  // namespace
}  // namespace python_ast
