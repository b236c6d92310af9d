#include "python_ast/nodes.h"

#include <array>
#include <cstring>
#include <string>

#include "python_ast/module.h"
#include "support/fatal_error.h"
#include "support/utf8.h"

namespace python_ast {

// ---------------------------------------------------------------------------
// Names of kinds and node types, from the tables.

namespace {

#define TOLVA_KIND_NAME(kind, record, ...) #record,
constexpr std::array kModKindNames{TOLVA_MOD_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kStmtKindNames{TOLVA_STMT_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kExprKindNames{TOLVA_EXPR_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kPatternKindNames{TOLVA_PATTERN_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kExceptHandlerKindNames{TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kTypeParamKindNames{TOLVA_TYPE_PARAM_KINDS(TOLVA_KIND_NAME)};
constexpr std::array kInterpolatedStringElementKindNames{TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_KIND_NAME)};
#undef TOLVA_KIND_NAME

#define TOLVA_NODE_TYPE_NAME_OF_KIND(kind, record, ...) #record,
#define TOLVA_NODE_TYPE_NAME_OF_RECORD(record) #record,
constexpr std::array kNodeTypeNames{
    TOLVA_MOD_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND) TOLVA_STMT_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND)
        TOLVA_EXPR_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND) TOLVA_PATTERN_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND)
            TOLVA_EXCEPT_HANDLER_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND)
                TOLVA_TYPE_PARAM_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND)
                    TOLVA_INTERPOLATED_STRING_ELEMENT_KINDS(TOLVA_NODE_TYPE_NAME_OF_KIND)
                        TOLVA_RECORD_NODES(TOLVA_NODE_TYPE_NAME_OF_RECORD)};
#undef TOLVA_NODE_TYPE_NAME_OF_KIND
#undef TOLVA_NODE_TYPE_NAME_OF_RECORD

#define TOLVA_EXPR_DESCRIPTION(kind, record, description) description,
constexpr std::array kExprDescriptions{TOLVA_EXPR_KINDS(TOLVA_EXPR_DESCRIPTION)};
#undef TOLVA_EXPR_DESCRIPTION

static_assert(kStmtKindNames.size() == 25);
static_assert(kExprKindNames.size() == 33);
static_assert(kPatternKindNames.size() == 8);
static_assert(kNodeTypeNames.size() == static_cast<std::size_t>(NodeType::Identifier) + 1);

// The name at `index` of `names`; "?" for a value outside the table (a
// corrupted tag), which never indexes out of bounds.
template <class Names>
std::string_view lookup(const Names& names, std::size_t index) {
  return index < names.size() ? std::string_view(names[index]) : std::string_view("?");
}

}  // namespace

std::string_view kind_name(ModKind kind) { return lookup(kModKindNames, static_cast<std::size_t>(kind)); }
std::string_view kind_name(StmtKind kind) { return lookup(kStmtKindNames, static_cast<std::size_t>(kind)); }
std::string_view kind_name(ExprKind kind) { return lookup(kExprKindNames, static_cast<std::size_t>(kind)); }
std::string_view kind_name(PatternKind kind) { return lookup(kPatternKindNames, static_cast<std::size_t>(kind)); }
std::string_view kind_name(ExceptHandlerKind kind) {
  return lookup(kExceptHandlerKindNames, static_cast<std::size_t>(kind));
}
std::string_view kind_name(TypeParamKind kind) {
  return lookup(kTypeParamKindNames, static_cast<std::size_t>(kind));
}
std::string_view kind_name(InterpolatedStringElementKind kind) {
  return lookup(kInterpolatedStringElementKindNames, static_cast<std::size_t>(kind));
}
std::string_view node_type_name(NodeType type) { return lookup(kNodeTypeNames, static_cast<std::size_t>(type)); }

namespace nodes_detail {
void wrong_variant(std::string_view expected, std::string_view found) {
  std::string message = "expected ";
  message += expected;
  message += ", found ";
  message += found;
  tolva::fatal(message);
}
}  // namespace nodes_detail

// ---------------------------------------------------------------------------
// Operators and enumerations.

namespace {

#define TOLVA_OPERATOR_TEXT(name, text) text,
#define TOLVA_OPERATOR_NAME(name, text) #name,
constexpr std::array kBooleanOperatorTexts{TOLVA_BOOLEAN_OPERATORS(TOLVA_OPERATOR_TEXT)};
constexpr std::array kBooleanOperatorNames{TOLVA_BOOLEAN_OPERATORS(TOLVA_OPERATOR_NAME)};
constexpr std::array kBinaryOperatorTexts{TOLVA_BINARY_OPERATORS(TOLVA_OPERATOR_TEXT)};
constexpr std::array kBinaryOperatorNames{TOLVA_BINARY_OPERATORS(TOLVA_OPERATOR_NAME)};
constexpr std::array kComparisonOperatorTexts{TOLVA_COMPARISON_OPERATORS(TOLVA_OPERATOR_TEXT)};
constexpr std::array kComparisonOperatorNames{TOLVA_COMPARISON_OPERATORS(TOLVA_OPERATOR_NAME)};
constexpr std::array kUnaryOperatorTexts{TOLVA_UNARY_OPERATORS(TOLVA_OPERATOR_TEXT)};
constexpr std::array kUnaryOperatorNames{TOLVA_UNARY_OPERATORS(TOLVA_OPERATOR_NAME)};
#undef TOLVA_OPERATOR_TEXT
#undef TOLVA_OPERATOR_NAME

constexpr std::array kExpressionContextNames{"Load", "Store", "Del", "Invalid"};
constexpr std::array kPatternSingletonValueNames{"None", "True", "False"};
constexpr std::array kIpyEscapeKindNames{"Exclamation", "DoubleExclamation", "Question", "DoubleQuestion", "Percent",
                                         "DoublePercent", "Comma", "Semi", "Slash"};

}  // namespace

std::string_view as_str(BooleanOperator op) { return lookup(kBooleanOperatorTexts, static_cast<std::size_t>(op)); }
std::string_view as_str(BinaryOperator op) { return lookup(kBinaryOperatorTexts, static_cast<std::size_t>(op)); }
std::string_view as_str(ComparisonOperator op) {
  return lookup(kComparisonOperatorTexts, static_cast<std::size_t>(op));
}
std::string_view as_str(UnaryOp op) { return lookup(kUnaryOperatorTexts, static_cast<std::size_t>(op)); }

std::ostream& operator<<(std::ostream& out, BooleanOperator op) { return out << as_str(op); }
std::ostream& operator<<(std::ostream& out, BinaryOperator op) { return out << as_str(op); }
std::ostream& operator<<(std::ostream& out, ComparisonOperator op) { return out << as_str(op); }
std::ostream& operator<<(std::ostream& out, UnaryOp op) { return out << as_str(op); }

std::string_view enum_name(BooleanOperator op) { return lookup(kBooleanOperatorNames, static_cast<std::size_t>(op)); }
std::string_view enum_name(BinaryOperator op) { return lookup(kBinaryOperatorNames, static_cast<std::size_t>(op)); }
std::string_view enum_name(ComparisonOperator op) {
  return lookup(kComparisonOperatorNames, static_cast<std::size_t>(op));
}
std::string_view enum_name(UnaryOp op) { return lookup(kUnaryOperatorNames, static_cast<std::size_t>(op)); }
std::string_view enum_name(ExpressionContext ctx) {
  return lookup(kExpressionContextNames, static_cast<std::size_t>(ctx));
}
std::string_view enum_name(Conversion conversion) {
  switch (conversion) {
    case Conversion::None: return "None";
    case Conversion::Ascii: return "Ascii";
    case Conversion::Repr: return "Repr";
    case Conversion::Str: return "Str";
  }
  return "?";
}
std::string_view enum_name(PatternSingletonValue value) {
  return lookup(kPatternSingletonValueNames, static_cast<std::size_t>(value));
}
std::string_view enum_name(IpyEscapeKind kind) { return lookup(kIpyEscapeKindNames, static_cast<std::size_t>(kind)); }

std::ostream& operator<<(std::ostream& out, ExpressionContext ctx) { return out << enum_name(ctx); }
std::ostream& operator<<(std::ostream& out, Conversion conversion) { return out << enum_name(conversion); }
std::ostream& operator<<(std::ostream& out, PatternSingletonValue value) { return out << enum_name(value); }
std::ostream& operator<<(std::ostream& out, IpyEscapeKind kind) { return out << enum_name(kind); }

// ---------------------------------------------------------------------------
// IPython escape kinds from their prefix characters.

namespace {

tolva::Error unexpected_escape(std::initializer_list<char32_t> characters) {
  std::string text = "Unexpected magic escape: ";
  for (char32_t c : characters) tolva::append_utf8(text, c);
  return tolva::Error{std::move(text)};
}

}  // namespace

tolva::Result<IpyEscapeKind> ipy_escape_kind_try_from(char32_t c) {
  switch (c) {
    case U'!': return IpyEscapeKind::Exclamation;
    case U'?': return IpyEscapeKind::Question;
    case U'%': return IpyEscapeKind::Percent;
    case U',': return IpyEscapeKind::Comma;
    case U';': return IpyEscapeKind::Semi;
    case U'/': return IpyEscapeKind::Slash;
    default: return unexpected_escape({c});
  }
}

tolva::Result<IpyEscapeKind> ipy_escape_kind_try_from(char32_t first, char32_t second) {
  if (first == second) {
    switch (first) {
      case U'!': return IpyEscapeKind::DoubleExclamation;
      case U'%': return IpyEscapeKind::DoublePercent;
      case U'?': return IpyEscapeKind::DoubleQuestion;
      default: break;
    }
  }
  return unexpected_escape({first, second});
}

// ---------------------------------------------------------------------------
// Expressions.

std::optional<std::string_view> Expr::description() const {
  if (const auto* number = as<ExprNumberLiteral>()) {
    switch (number->value.kind()) {
      case NumberLiteralValue::Kind::Int: return "an int literal";
      case NumberLiteralValue::Kind::Float: return "a float literal";
      case NumberLiteralValue::Kind::Complex: return "a complex literal";
    }
  }
  std::string_view text = lookup(kExprDescriptions, static_cast<std::size_t>(kind()));
  if (text.empty()) return std::nullopt;
  return text;
}

// ---------------------------------------------------------------------------
// String values.

namespace {

template <class T>
std::span<const T> copy_parts(Arena& arena, std::span<const T> parts) {
  return arena.copy_array(parts);
}

template <class T>
std::span<const T> copy_one(Arena& arena, const T& part) {
  return arena.copy_array(std::span<const T>(&part, 1));
}

}  // namespace

StringLiteralValue StringLiteralValue::single(Arena& arena, const StringLiteral& literal) {
  std::span<const StringLiteral> parts = copy_one(arena, literal);
  return StringLiteralValue(parts, parts.front().value);
}

StringLiteralValue StringLiteralValue::concatenated(Arena& arena, std::span<const StringLiteral> parts) {
  if (parts.size() < 2) tolva::fatal("Use `StringLiteralValue::single` to create single-part strings");
  std::span<const StringLiteral> copied = copy_parts(arena, parts);
  std::size_t size = 0;
  for (const StringLiteral& part : copied) size += part.value.size();
  std::string_view text;
  if (size > 0) {
    char* joined = static_cast<char*>(arena.allocate(size, 1));
    char* cursor = joined;
    for (const StringLiteral& part : copied) {
      if (part.value.empty()) continue;
      std::memcpy(cursor, part.value.data(), part.value.size());
      cursor += part.value.size();
    }
    text = std::string_view(joined, size);
  }
  return StringLiteralValue(copied, text);
}

BytesLiteralValue BytesLiteralValue::single(Arena& arena, const BytesLiteral& literal) {
  return BytesLiteralValue(copy_one(arena, literal));
}

BytesLiteralValue BytesLiteralValue::concatenated(Arena& arena, std::span<const BytesLiteral> parts) {
  if (parts.size() < 2) tolva::fatal("Use `BytesLiteralValue::single` to create single-part bytestrings");
  return BytesLiteralValue(copy_parts(arena, parts));
}

FStringValue FStringValue::single(Arena& arena, const FStringPart& part) {
  return FStringValue(copy_one(arena, part));
}

FStringValue FStringValue::concatenated(Arena& arena, std::span<const FStringPart> parts) {
  if (parts.size() < 2) tolva::fatal("Use `FStringValue::single` to create single-part f-strings");
  return FStringValue(copy_parts(arena, parts));
}

TStringValue TStringValue::single(Arena& arena, const TString& part) { return TStringValue(copy_one(arena, part)); }

TStringValue TStringValue::concatenated(Arena& arena, std::span<const TString> parts) {
  if (parts.size() < 2) tolva::fatal("Use `TStringValue::single` to create single-part t-strings");
  return TStringValue(copy_parts(arena, parts));
}

// ---------------------------------------------------------------------------
// The tree holder.

const Mod& ModuleTree::root() const {
  if (root_ == nullptr) tolva::fatal("the module tree has no root");
  return *root_;
}

const ModModule& ModuleTree::module() const { return root().cast<ModModule>(); }

const ModExpression& ModuleTree::expression() const { return root().cast<ModExpression>(); }

}  // namespace python_ast
